#include "registry/index/index_hook.h"

#include <algorithm>
#include <vector>

#include "platform/files.h"
#include "registry/index/cdx_lookup.h"
#include "registry/index/cdx_maintainer.h"
#include "registry/table/database_error.h"
#include "registry/table/file_io.h"
#include "registry/table/rows_read.h"

namespace ravelto::registry {
namespace {

constexpr std::uint64_t kTableHeaderLock = 0x7FFFFFFE;

// Reads records of the table through the writer's own descriptor (a second
// descriptor, once closed, would drop the writer's locks).
class DescriptorRecords {
 public:
  DescriptorRecords(int fd, const TableSchema& schema) : fd_(fd), schema_(schema) {}

  uint32_t Count() const {
    unsigned char head[8] = {};
    if (platform::ReadAt(fd_, head, sizeof head, 0) != static_cast<std::int64_t>(sizeof head)) return 0;
    uint32_t count = static_cast<uint32_t>(head[4]) | (static_cast<uint32_t>(head[5]) << 8) |
                     (static_cast<uint32_t>(head[6]) << 16) | (static_cast<uint32_t>(head[7]) << 24);
    uint64_t size = 0;
    if (!platform::SizeOf(fd_, &size)) size = 0;
    uint64_t whole = size > schema_.headerLength ? (size - schema_.headerLength) / schema_.recordLength : 0;
    return static_cast<uint32_t>(std::min<uint64_t>(count, whole));
  }

  // Visits records 1..Count() in order, reading about 1 MiB at a time; the
  // size is taken once. Each record visited counts as a row read.
  void Scan(const CdxRecordVisitor& visit) const {
    const uint32_t count = Count();
    const std::size_t len = schema_.recordLength;
    if (len == 0) return;
    const uint32_t per_block = static_cast<uint32_t>(std::max<std::size_t>(1, (std::size_t{1} << 20) / len));
    std::vector<uint8_t> block;
    for (uint32_t first = 1; first <= count; first += per_block) {
      const uint32_t n = std::min(per_block, count - first + 1);
      block.resize(std::size_t{n} * len);
      const uint64_t at = schema_.headerLength + uint64_t{first - 1} * len;
      const int64_t got = platform::ReadAt(fd_, block.data(), block.size(), at);
      const uint32_t whole = got > 0 ? static_cast<uint32_t>(static_cast<std::size_t>(got) / len) : 0;
      CountRowsRead(whole);
      for (uint32_t k = 0; k < whole; ++k) visit(first + k, std::span<const uint8_t>(block.data() + std::size_t{k} * len, len));
      if (whole < n) return;  // the file ends early
    }
  }

  bool Read(uint32_t recno, std::vector<uint8_t>& record) const {
    record.resize(schema_.recordLength);
    const uint64_t at = schema_.headerLength + uint64_t{recno - 1} * schema_.recordLength;
    return recno >= 1 &&
           platform::ReadAt(fd_, record.data(), record.size(), at) == static_cast<int64_t>(record.size());
  }

 private:
  int fd_;
  const TableSchema& schema_;
};

// The table's records one at a time, as the index code reads them (to
// learn a collation tag, or for the check); the span lasts until the next.
CdxRecordSource SourceOf(const DescriptorRecords& records, std::vector<uint8_t>& buffer) {
  CdxRecordSource source;
  source.count = records.Count();
  source.record = [&records, &buffer](uint32_t recno) {
    if (!records.Read(recno, buffer)) throw CdxError("record " + std::to_string(recno) + " cannot be read");
    return std::span<const uint8_t>(buffer);
  };
  return source;
}

class CdxIndexMaintenance final : public IndexMaintenance {
 public:
  CdxIndexMaintenance(const IndexedTable& table, const CdxLayout& layout)
      : maintainer_(Open(table, layout)), cdxPath_(table.cdxPath) {
    if (table.dbfDescriptor >= 0) {
      auto records = std::make_shared<DescriptorRecords>(table.dbfDescriptor, *table.schema);
      scan_ = [records](const CdxRecordVisitor& visit) { records->Scan(visit); };
    }
  }

  void BeforeWrite(std::uint32_t recno, std::span<const unsigned char> oldRecord,
                   std::span<const unsigned char> newRecord) override {
    try {
      maintainer_->Prepare(recno, oldRecord, newRecord, scan_);
    } catch (const CdxError& e) {
      throw DatabaseError(e.what(), DatabaseFailure::kIndex, cdxPath_);
    }
  }

  void AfterRecordWritten(std::uint32_t, std::span<const unsigned char>, std::span<const unsigned char>) override {
    try {
      maintainer_->Apply();
    } catch (const CdxError& e) {
      throw DatabaseError(e.what(), DatabaseFailure::kIndex, cdxPath_);
    }
  }

  void Cancel() noexcept override { maintainer_->Cancel(); }

  void Finish() noexcept override { maintainer_->Abandon(); }

  // Recovery of an interrupted write, holding the table's header lock so
  // that no writer of this program changes the table meanwhile.
  void RecoverIfInterrupted(const IndexedTable& table) {
    if (!platform::FileExists(table.cdxPath + ".pending")) return;
    if (table.dbfDescriptor < 0) {
      throw CdxError("Cannot write to table '" + table.name +
                     "': a write to it was interrupted and its index must be checked first; nothing was written");
    }
    ByteLock header(table.dbfDescriptor, kTableHeaderLock, "Table '" + table.name + "'", table.dbfPath);
    DescriptorRecords records(table.dbfDescriptor, *table.schema);
    std::vector<uint8_t> buffer;
    maintainer_->Recover(SourceOf(records, buffer), scan_);
  }

 private:
  static std::unique_ptr<CdxMaintainer> Open(const IndexedTable& table, const CdxLayout& layout) {
    const auto path = platform::NativePath(table.cdxPath);
    if (table.dbfDescriptor < 0) {
      return std::make_unique<CdxMaintainer>(path, layout, table.name, nullptr, table.collationKnowledge);
    }
    // The maintainer reads records for as long as it lives (collated tags).
    auto records = std::make_shared<DescriptorRecords>(table.dbfDescriptor, *table.schema);
    auto buffer = std::make_shared<std::vector<uint8_t>>();
    return std::make_unique<CdxMaintainer>(
        path, layout, table.name, [records, buffer] { return SourceOf(*records, *buffer); },
        table.collationKnowledge);
  }

  std::unique_ptr<CdxMaintainer> maintainer_;
  std::string cdxPath_;
  CdxTableScan scan_;
};

}  // namespace

// A table with a structural index is written only when every tag's keys can
// be reproduced exactly; an index left by an interrupted write is checked
// before anything else is written to the table.
std::unique_ptr<IndexMaintenance> OpenIndexMaintenance(const IndexedTable& table) {
  if (!table.schema || !table.schema->HasStructuralIndex()) return nullptr;
  if (table.cdxPath.empty()) {
    throw DatabaseError("Cannot write to table '" + table.name +
                        "': its header says it has a structural index (.cdx) but the file is missing; nothing was written",
                        DatabaseFailure::kIndex, table.name + ".cdx");
  }
  try {
    CdxLayout layout = LayoutOfSchema(*table.schema);
    auto maintenance = std::make_unique<CdxIndexMaintenance>(table, layout);
    maintenance->RecoverIfInterrupted(table);
    return maintenance;
  } catch (const CdxError& e) {
    const std::string what = e.what();
    if (what.rfind("Cannot write to table", 0) == 0) throw DatabaseError(what, DatabaseFailure::kIndex, table.cdxPath);
    throw DatabaseError("Cannot write to table '" + table.name + "': its index cannot be used (" + what +
                        "); nothing was written",
                        DatabaseFailure::kIndex, table.cdxPath);
  }
}

}  // namespace ravelto::registry
