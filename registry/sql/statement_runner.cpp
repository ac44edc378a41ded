#include "registry/sql/statement_runner.h"

#include <algorithm>
#include <queue>

#include "registry/index/cdx_lookup.h"
#include "registry/sql/collation.h"
#include "registry/sql/index_candidates.h"
#include "registry/sql/record_codec.h"
#include "registry/sql/sql_ast.h"
#include "registry/sql/sql_eval.h"
#include "registry/sql/table_writer.h"
#include "registry/table/database_error.h"
#include "registry/table/dbf_table.h"
#include "registry/table/rows_read.h"

namespace ravelto::registry {

namespace {

struct SortColumn {
  const FieldDescriptor* field;
  bool descending;
  bool character;
};

struct KeptRow {
  std::uint32_t recno = 0;
  std::vector<unsigned char> record;
  std::vector<Value> keys;
};

// The sort key of a field: whole numbers of narrow numeric fields straight
// from their digits (exact in a double), everything else through ReadValue.
Value SortKey(const TableFile& table, const FieldDescriptor& f, const unsigned char* r, std::uint32_t recno) {
  if (f.type == 'N' && f.decimals == 0 && f.length <= 15 && !FieldIsNull(table.Schema(), f, r)) {
    const unsigned char* p = r + f.offset;
    const unsigned char* end = p + f.length;
    while (p < end && *p == ' ') ++p;
    const bool negative = p < end && *p == '-';
    if (negative) ++p;
    const unsigned char* digits = p;
    std::int64_t v = 0;
    while (p < end && *p >= '0' && *p <= '9') v = v * 10 + (*p++ - '0');
    if (p == end && (digits != p || !negative)) return Value::Number(static_cast<double>(negative ? -v : v));
  }
  return ReadValue(RecordContext{&table, recno}, f, r);
}

// Ascending order of one key: NULL first, character values by the Russian
// sequence, the rest by value.
int CompareKey(const Value& a, const Value& b, bool character) {
  if (a.IsNull() || b.IsNull()) return a.IsNull() == b.IsNull() ? 0 : (a.IsNull() ? -1 : 1);
  if (character) return CompareRussian(a.text, b.text);
  return CompareValues(a, b, Op::ExactEqual);
}

class RowOrder {
 public:
  explicit RowOrder(const std::vector<SortColumn>* columns) : columns_(columns) {}
  // True when `a` comes before `b`; record order breaks ties.
  bool operator()(const KeptRow& a, const KeptRow& b) const {
    for (std::size_t i = 0; i < columns_->size(); ++i) {
      int c = CompareKey(a.keys[i], b.keys[i], (*columns_)[i].character);
      if ((*columns_)[i].descending) c = -c;
      if (c != 0) return c < 0;
    }
    return a.recno < b.recno;
  }

 private:
  const std::vector<SortColumn>* columns_;
};

// The key type a tag on the field has when its key order is the engine's
// order of the field's values; nullopt for fields ordered otherwise
// (text, by the Russian sequence) or never indexed that way.
std::optional<CdxType> KeyOrderType(const FieldDescriptor& f) {
  switch (f.type) {
    case 'N': case 'F': case 'B': return CdxType::Number;
    case 'I': return CdxType::Integer;
    case 'D': return CdxType::Date;
    case 'T': return CdxType::DateTime;
    default: return std::nullopt;
  }
}

// ORDER BY one column through a tag that indexes exactly that column: the
// rows in the tag's key order (from the end for DESC), each read from the
// table and tested, stopping after `top` rows when top is not 0. nullopt
// when no tag serves the column or anything about the walk is not right
// (index changed or being written, a record named twice, rows out of the
// engine's order, a full walk that missed records); the caller then scans
// and sorts.
std::optional<std::vector<KeptRow>> WalkIndexOrder(const TableFile& table, const SortColumn& column,
                                                   const Predicate* where, std::uint64_t top) {
  const TableSchema& schema = table.Schema();
  const auto type = KeyOrderType(*column.field);
  if (!type || !schema.HasStructuralIndex() || table.CdxPath().empty()) return std::nullopt;
  auto index = CdxColumnIndex::Open(table.CdxPath(), LayoutOfSchema(schema), column.field->name);
  if (!index || index->KeyType() != *type) return std::nullopt;

  const std::uint32_t count = table.RecordCount();
  std::vector<bool> named(static_cast<std::size_t>(count) + 1, false);
  std::uint32_t entries = 0;
  bool wrong = false;
  bool full = true;  // every entry was visited
  std::vector<KeptRow> kept;
  std::vector<unsigned char> record;
  KeptRow row;
  row.keys.resize(1);
  const bool walked = index->Walk(
      [&](std::uint32_t recno) {
        if (recno == 0) {
          wrong = true;
          return false;
        }
        if (recno > count) return true;  // appended after the table was opened
        if (named[recno]) {
          wrong = true;
          return false;
        }
        named[recno] = true;
        ++entries;
        CountRowsRead(1);
        if (!table.ReadRecord(recno, record)) {
          wrong = true;
          return false;
        }
        if (record[0] == '*') return true;
        if (where && where->Test(record.data(), recno) != Truth::True) return true;
        row.recno = recno;
        row.keys[0] = SortKey(table, *column.field, record.data(), recno);
        if (!kept.empty()) {
          // Each row must follow the previous one in the engine's order:
          // by value (reversed for DESC), equal values by record number.
          int c = CompareKey(kept.back().keys[0], row.keys[0], false);
          if (column.descending) c = -c;
          if (c > 0 || (c == 0 && kept.back().recno > recno)) {
            wrong = true;
            return false;
          }
        }
        row.record = record;
        kept.push_back(row);
        if (top != 0 && kept.size() >= top) {
          full = false;
          return false;
        }
        return true;
      },
      column.descending);
  if (!walked || wrong || (full && entries != count)) return std::nullopt;
  return kept;
}

// The ORDER BY columns, checked against the table.
std::vector<SortColumn> SortColumnsOf(const Statement& s, const TableFile& table) {
  std::vector<SortColumn> sort;
  for (const OrderItem& item : s.orderBy) {
    const FieldDescriptor* f = table.Schema().Find(item.column);
    if (!f)
      throw DatabaseError("Column '" + item.column + "' not found in table '" + table.Name() + "' (position " +
                          std::to_string(item.position) + ")");
    if (f->IsMemo())
      throw DatabaseError("Column '" + item.column + "' is a memo and cannot order rows (position " +
                          std::to_string(item.position) + ")");
    sort.push_back({f, item.descending, f->type == 'C' || f->type == 'V' || f->type == 'Q'});
  }
  return sort;
}

// The result's columns: every field a reader sees (no system fields, none
// without a type code), with the fields they come from.
std::vector<const FieldDescriptor*> AddResultColumns(const TableSchema& schema, ResultSet& result) {
  std::vector<const FieldDescriptor*> shown;
  for (const FieldDescriptor& f : schema.fields) {
    if (f.IsSystem()) continue;
    ResultColumn c;
    c.name = f.name;
    c.ado = AdoColumnFor(f);
    const auto code = FieldTypeCodeOf(c.ado.type);
    if (!code) continue;
    c.typeCode = *code;
    c.kind = KindOf(c.ado);
    result.columns.push_back(std::move(c));
    shown.push_back(&f);
  }
  return shown;
}

// The rows a SELECT reads, one at a time: the index's candidates when an
// index serves the WHERE, otherwise every live record in record order.
class SelectSource {
 public:
  SelectSource(const TableFile& table, std::optional<std::vector<std::uint32_t>> picked)
      : table_(table), picked_(std::move(picked)), scan_(table), count_(table.RecordCount()) {
    if (picked_) {
      // Record order, as a scan would give, each row once.
      std::sort(picked_->begin(), picked_->end());
      picked_->erase(std::unique(picked_->begin(), picked_->end()), picked_->end());
    }
  }

  bool Next(const unsigned char** r, std::uint32_t* recno) {
    if (!picked_) {
      const bool more = scan_.Next(r, recno);
      if (more) CountRowsRead(1);
      return more;
    }
    while (at_ < picked_->size()) {
      *recno = (*picked_)[at_++];
      CountRowsRead(1);
      if (*recno >= 1 && *recno <= count_ && table_.ReadRecord(*recno, one_) && one_[0] != '*') {
        *r = one_.data();
        return true;
      }
    }
    return false;
  }

 private:
  const TableFile& table_;
  std::optional<std::vector<std::uint32_t>> picked_;
  RecordScanner scan_;
  const std::uint32_t count_;
  std::size_t at_ = 0;
  std::vector<unsigned char> one_;
};

// The rows that pass the WHERE, in ORDER BY order, at most `top` of them
// (0: all). With TOP and ORDER BY a bounded heap keeps only the best rows.
std::vector<KeptRow> CollectRows(const TableFile& table, SelectSource& source, const Predicate* where,
                                 const std::vector<SortColumn>& sort, std::uint64_t top) {
  const RowOrder order(&sort);
  const std::uint32_t length = table.Schema().recordLength;
  std::vector<KeptRow> kept;
  const unsigned char* r = nullptr;
  std::uint32_t recno = 0;
  KeptRow row;  // reused while rows are only compared
  while (source.Next(&r, &recno)) {
    if (where && where->Test(r, recno) != Truth::True) continue;
    row.recno = recno;
    row.keys.resize(sort.size());
    for (std::size_t i = 0; i < sort.size(); ++i)
      row.keys[i] = SortKey(table, *sort[i].field, r, recno);
    if (top != 0 && !sort.empty() && kept.size() >= top) {
      // Bounded heap: the worst kept row is at the front.
      if (!order(row, kept.front())) continue;
      std::pop_heap(kept.begin(), kept.end(), order);
      std::swap(kept.back().keys, row.keys);
      kept.back().recno = row.recno;
      kept.back().record.assign(r, r + length);
      std::push_heap(kept.begin(), kept.end(), order);
      continue;
    }
    row.record.assign(r, r + length);
    kept.push_back(std::move(row));
    row = KeptRow{};
    if (!sort.empty() && top != 0) std::push_heap(kept.begin(), kept.end(), order);
    if (sort.empty() && top != 0 && kept.size() >= top) break;
  }
  if (!sort.empty()) std::sort(kept.begin(), kept.end(), order);
  return kept;
}

StatementOutcome RunSelect(const std::string& folder, Statement& s, bool wantRows) {
  TableFile table(folder, s.table, false);
  const TableSchema& schema = table.Schema();
  std::unique_ptr<Predicate> where = CompileWhere(s, table);
  const std::vector<SortColumn> sort = SortColumnsOf(s, table);
  auto result = std::make_unique<ResultSet>();
  const std::vector<const FieldDescriptor*> shown = AddResultColumns(schema, *result);
  StatementOutcome outcome;
  if (!wantRows) return outcome;

  const std::uint64_t top = s.top.value_or(0);
  // When an index serves a column the WHERE compares with a constant, only
  // the rows it names are read (each is still tested).
  auto picked = s.where ? IndexCandidates(table, *s.where) : std::nullopt;
  // Otherwise one ORDER BY column may be served by a tag's key order.
  std::optional<std::vector<KeptRow>> kept;
  if (!picked && sort.size() == 1) kept = WalkIndexOrder(table, sort[0], where.get(), top);
  if (!kept) {
    SelectSource source(table, std::move(picked));
    kept = CollectRows(table, source, where.get(), sort, top);
  }

  result->rows.reserve(kept->size());
  for (const KeptRow& row : *kept) {
    std::vector<Cell> cells;
    cells.reserve(shown.size());
    for (std::size_t i = 0; i < shown.size(); ++i)
      cells.push_back(ReadCell(RecordContext{&table, row.recno}, *shown[i], result->columns[i], row.record.data()));
    result->rows.push_back(std::move(cells));
  }
  outcome.result = std::move(result);
  return outcome;
}

}  // namespace

StatementOutcome RunStatement(const std::string& folder, std::string_view sql, bool wantRows,
                              const WriteOptions& options) {
  Statement s = ParseStatement(sql);
  switch (s.kind) {
    case Statement::Kind::Select: return RunSelect(folder, s, wantRows);
    case Statement::Kind::Insert: {
      if (wantRows) throw DatabaseError("An INSERT statement returns no rows to open");
      StatementOutcome o;
      o.rowsAffected = RunInsert(folder, s, options);
      return o;
    }
    case Statement::Kind::Update: {
      if (wantRows) throw DatabaseError("An UPDATE statement returns no rows to open");
      StatementOutcome o;
      o.rowsAffected = RunUpdate(folder, s, options);
      return o;
    }
  }
  return {};
}

}  // namespace ravelto::registry
