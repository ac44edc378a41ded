#include "registry/sql/table_writer.h"

#include <ctime>
#include <optional>
#include <vector>

#include "registry/index/index_hook.h"
#include "registry/sql/index_candidates.h"
#include "registry/sql/record_codec.h"
#include "registry/sql/sql_eval.h"
#include "registry/table/byte_codec.h"
#include "registry/table/database_error.h"
#include "registry/table/dbf_table.h"
#include "registry/table/file_io.h"
#include "registry/table/memo_file.h"
#include "registry/table/rows_read.h"

namespace ravelto::registry {

namespace {

constexpr std::uint64_t kHeaderLock = 0x7FFFFFFE;
constexpr std::uint64_t kLegacyBase = 0x40000000;

bool Assignable(Value::Type value, const FieldDescriptor& f) {
  if (value == Value::Type::Null) return true;
  switch (f.type) {
    case 'N': case 'F': case 'I': case 'B': case 'Y': return value == Value::Type::Number;
    case 'D': case 'T': return value == Value::Type::Date || value == Value::Type::DateTime;
    case 'L': return value == Value::Type::Logical;
    default: return value == Value::Type::Char;
  }
}

// The literal 0 is the default the desk writes for every column it does
// not name, date and logical columns included: it stores that type's empty
// value (blank date, empty date-time, false). Any other number stays a
// type mismatch.
bool IsBareZeroFor(const Expr& e, const FieldDescriptor& f) {
  return (f.type == 'D' || f.type == 'T' || f.type == 'L') && e.kind == Expr::Kind::Literal &&
         e.literal.type == Value::Type::Number && e.literal.number == 0.0;
}

void CheckWritable(const TableFile& t) {
  if (!t.Schema().IsVisualFoxPro()) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "0x%02X", t.Schema().version);
    throw DatabaseError("Table '" + t.Name() + "' has file type " + hex + ", which this program does not write",
                        DatabaseFailure::kRefused, t.DbfPath());
  }
}

// The fields a statement assigns, bound and type-checked before anything
// is locked or written.
std::vector<const FieldDescriptor*> BindAssignments(Statement& s, const TableFile& t) {
  std::vector<const FieldDescriptor*> fields;
  for (std::size_t i = 0; i < s.columns.size(); ++i) {
    const FieldDescriptor* f = t.Schema().Find(s.columns[i]);
    if (!f)
      throw DatabaseError("Column '" + s.columns[i] + "' not found in table '" + t.Name() + "' (position " +
                          std::to_string(s.columnPositions[i]) + ")");
    for (const FieldDescriptor* seen : fields)
      if (seen == f)
        throw DatabaseError("Column '" + f->name + "' is assigned twice (position " +
                            std::to_string(s.columnPositions[i]) + ")");
    const Value::Type type = BindExpression(*s.values[i], t);
    if (!Assignable(type, *f) && !IsBareZeroFor(*s.values[i], *f))
      throw DatabaseError(std::string("Data type mismatch: ") + TypeName(type) + " value for column '" + f->name +
                          "' of table '" + t.Name() + "' (position " + std::to_string(s.values[i]->position) + ")");
    if (f->flags & kFieldAutoIncrement)
      throw DatabaseError("Column '" + f->name + "' of table '" + t.Name() + "' is autoincrementing and cannot be set");
    fields.push_back(f);
  }
  return fields;
}

IndexedTable HookView(const TableFile& t, const WriteOptions& options) {
  IndexedTable v;
  v.collationKnowledge = options.collationKnowledge;
  v.name = t.Name();
  v.dbfPath = t.DbfPath();
  v.cdxPath = t.CdxPath();
  v.schema = &t.Schema();
  v.dbfDescriptor = t.Descriptor();
  return v;
}

// Calls Finish() on the hook however the statement ends.
struct HookGuard {
  IndexMaintenance* hook;
  ~HookGuard() {
    if (hook) hook->Finish();
  }
};

// Drops the memo blocks a row reserved and did not write, however it ends.
struct MemoGuard {
  MemoFile* memo;
  ~MemoGuard() {
    if (memo) memo->DropStaged();
  }
};

// Writes the row's reserved memo blocks, once its index work is prepared. A
// failure here comes before any byte of the record: the index drops what it
// prepared, so the table and its index stay as they were.
void WriteMemos(TableFile& table, IndexMaintenance* hook) {
  MemoFile* memo = table.Memo();
  if (!memo) return;
  try {
    memo->WriteStaged();
  } catch (...) {
    if (hook) hook->Cancel();
    throw;
  }
}


}  // namespace

int RunInsert(const std::string& folder, Statement& s, const WriteOptions& options) {
  TableFile table(folder, s.table, true);
  CheckWritable(table);
  const TableSchema& schema = table.Schema();
  const std::vector<const FieldDescriptor*> fields = BindAssignments(s, table);
  std::vector<Value> values;
  for (auto& e : s.values) values.push_back(Evaluate(*e, table, nullptr, 0));

  std::unique_ptr<IndexMaintenance> hook = OpenIndexMaintenance(HookView(table, options));
  HookGuard guard{hook.get()};
  const int fd = table.Descriptor();
  const std::string& path = table.DbfPath();
  const std::string what = "Table '" + table.Name() + "'";
  ByteLock headerLock(fd, kHeaderLock, what, path);
  std::optional<ByteLock> legacyLock;
  if (!schema.HasStructuralIndex()) legacyLock.emplace(fd, kLegacyBase, what, path);

  unsigned char header[32];
  table.ReadHeader(header);
  if (GetLe16(header + 8) != schema.headerLength || GetLe16(header + 10) != schema.recordLength)
    throw DatabaseError(what + " changed its layout while it was open; nothing was written");
  const std::uint32_t count = GetLe32(header + 4);
  const std::uint64_t end = schema.headerLength + static_cast<std::uint64_t>(count) * schema.recordLength;
  if (table.FileSize() < end)
    throw DatabaseError(what + " is damaged: the file is shorter than its record count says; nothing was written",
                        DatabaseFailure::kDamaged, path);
  const std::uint64_t maxRecords = (0x7FFFFFFFull - schema.headerLength - 2) / (schema.recordLength + 1ull);
  if (count + 1ull > maxRecords) throw DatabaseError(what + " is full; nothing was written", DatabaseFailure::kFull, path);
  const std::uint32_t recno = count + 1;
  ByteLock recordLock(fd, kHeaderLock - recno, "Record " + std::to_string(recno) + " of " + what, path);

  MemoGuard memoGuard{table.Memo()};
  std::vector<unsigned char> record = BlankRecord(schema);
  for (std::size_t i = 0; i < fields.size(); ++i) WriteValue(table, *fields[i], values[i], record);
  // Autoincrement fields take the next value from their descriptor on disk;
  // the advanced values are written only once the row is sure to be written.
  std::vector<std::pair<std::uint64_t, std::uint32_t>> advanced;
  for (std::size_t i = 0; i < schema.fields.size(); ++i) {
    const FieldDescriptor& f = schema.fields[i];
    if (!(f.flags & kFieldAutoIncrement) || f.type != 'I') continue;
    unsigned char d[32];
    const std::uint64_t at = 32 + 32 * i;
    if (ReadAt(fd, d, 32, at, path) != 32)
      throw DatabaseError(what + " is damaged: its header is truncated", DatabaseFailure::kDamaged, path);
    const std::uint32_t next = GetLe32(d + 19);
    PutLe32(record.data() + f.offset, next);
    advanced.emplace_back(at + 19, next + d[23]);
  }

  if (hook) hook->BeforeWrite(recno, {}, record);
  WriteMemos(table, hook.get());
  for (const auto& [at, next] : advanced) {
    unsigned char bytes[4];
    PutLe32(bytes, next);
    WriteAt(fd, bytes, 4, at, path);
  }
  record.push_back(0x1A);
  WriteAt(fd, record.data(), record.size(), end, path);
  record.pop_back();
  FlushFile(fd, path);
  // The commit point: date and count in one write.
  unsigned char stamp[7];
  TodayHeaderDate(stamp);
  PutLe32(stamp + 3, recno);
  WriteAt(fd, stamp, sizeof stamp, 1, path);
  FlushFile(fd, path);
  if (hook) hook->AfterRecordWritten(recno, {}, record);
  return 1;
}

int RunUpdate(const std::string& folder, Statement& s, const WriteOptions& options) {
  TableFile table(folder, s.table, true);
  CheckWritable(table);
  const TableSchema& schema = table.Schema();
  const std::vector<const FieldDescriptor*> fields = BindAssignments(s, table);
  std::unique_ptr<Predicate> where = CompileWhere(s, table);
  std::unique_ptr<IndexMaintenance> hook = OpenIndexMaintenance(HookView(table, options));
  HookGuard guard{hook.get()};

  // Find the candidates without locks, then lock each one and decide on a
  // fresh copy of it. When an index serves a column the WHERE compares with
  // a constant, the rows it names are the candidates (a superset of the
  // matching rows, each tested again below); otherwise the table is scanned.
  std::vector<std::uint32_t> candidates;
  auto picked = s.where ? IndexCandidates(table, *s.where) : std::nullopt;
  if (picked) {
    const std::uint32_t count = table.RecordCount();
    for (const std::uint32_t n : *picked)
      if (n >= 1 && n <= count) candidates.push_back(n);
  } else {
    RecordScanner scan(table);
    const unsigned char* r = nullptr;
    std::uint32_t n = 0;
    std::uint64_t read = 0;
    while (scan.Next(&r, &n)) {
      ++read;
      if (!where || where->Test(r, n) == Truth::True) candidates.push_back(n);
    }
    CountRowsRead(read);
  }
  const int fd = table.Descriptor();
  const std::string& path = table.DbfPath();
  const std::string what = "table '" + table.Name() + "'";
  int changed = 0;
  std::vector<unsigned char> old, fresh;
  for (const std::uint32_t recno : candidates) {
    ByteLock lock(fd, kHeaderLock - recno, "Record " + std::to_string(recno) + " of " + what, path);
    std::optional<ByteLock> legacy;
    const std::uint64_t offset = schema.headerLength + static_cast<std::uint64_t>(recno - 1) * schema.recordLength;
    if (!schema.HasStructuralIndex())
      legacy.emplace(fd, kLegacyBase + offset, "Record " + std::to_string(recno) + " of " + what, path);
    if (picked) CountRowsRead(1);
    if (!table.ReadRecord(recno, old) || old[0] == '*') continue;
    if (where && where->Test(old.data(), recno) != Truth::True) continue;
    std::vector<Value> values;
    for (auto& e : s.values) values.push_back(Evaluate(*e, table, old.data(), recno));
    fresh = old;
    MemoGuard memoGuard{table.Memo()};
    for (std::size_t i = 0; i < fields.size(); ++i) WriteValue(table, *fields[i], values[i], fresh);
    if (fresh == old) {
      ++changed;
      continue;
    }
    if (hook) hook->BeforeWrite(recno, old, fresh);
    WriteMemos(table, hook.get());
    WriteAt(fd, fresh.data(), fresh.size(), offset, path);
    FlushFile(fd, path);
    if (hook) hook->AfterRecordWritten(recno, old, fresh);
    ++changed;
  }
  if (changed > 0) {
    // Mark the table as modified today; the data is already safe, so a busy
    // header lock only leaves the old date.
    try {
      ByteLock headerLock(fd, kHeaderLock, what, path);
      unsigned char date[3];
      TodayHeaderDate(date);
      WriteAt(fd, date, sizeof date, 1, path);
    } catch (const DatabaseError&) {
    }
  }
  return changed;
}

int InsertRow(const std::string& folder, const std::string& table,
              std::vector<std::pair<std::string, Value>> values) {
  Statement s;
  s.kind = Statement::Kind::Insert;
  s.table = table;
  for (auto& [name, value] : values) {
    s.columns.push_back(name);
    s.columnPositions.push_back(0);
    auto e = std::make_unique<Expr>();
    e->kind = Expr::Kind::Literal;
    e->literal = std::move(value);
    s.values.push_back(std::move(e));
  }
  return RunInsert(folder, s);
}

}  // namespace ravelto::registry
