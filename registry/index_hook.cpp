#include "registry/index_hook.h"

#include <sys/stat.h>
#include <unistd.h>

#include <vector>

#include "registry/cdx_lookup.h"
#include "registry/cdx_maintainer.h"
#include "registry/database_error.h"
#include "registry/file_io.h"

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
    if (::pread(fd_, head, sizeof head, 0) != static_cast<ssize_t>(sizeof head)) return 0;
    uint32_t count = static_cast<uint32_t>(head[4]) | (static_cast<uint32_t>(head[5]) << 8) |
                     (static_cast<uint32_t>(head[6]) << 16) | (static_cast<uint32_t>(head[7]) << 24);
    struct stat st {};
    const off_t size = ::fstat(fd_, &st) == 0 ? st.st_size : 0;
    uint64_t whole = size > static_cast<off_t>(schema_.headerLength)
                         ? (static_cast<uint64_t>(size) - schema_.headerLength) / schema_.recordLength
                         : 0;
    return static_cast<uint32_t>(std::min<uint64_t>(count, whole));
  }

  bool Read(uint32_t recno, std::vector<uint8_t>& record) const {
    record.resize(schema_.recordLength);
    off_t at = static_cast<off_t>(schema_.headerLength + uint64_t{recno - 1} * schema_.recordLength);
    return recno >= 1 && ::pread(fd_, record.data(), record.size(), at) == static_cast<ssize_t>(record.size());
  }

 private:
  int fd_;
  const TableSchema& schema_;
};

class CdxIndexMaintenance final : public IndexMaintenance {
 public:
  CdxIndexMaintenance(const IndexedTable& table, const CdxLayout& layout)
      : maintainer_(table.cdxPath, layout, table.name) {
    if (table.dbfDescriptor >= 0) {
      auto records = std::make_shared<DescriptorRecords>(table.dbfDescriptor, *table.schema);
      reader_ = [records](uint32_t recno, std::vector<uint8_t>& rec) {
        return recno <= records->Count() && records->Read(recno, rec);
      };
    }
  }

  void BeforeWrite(std::uint32_t recno, std::span<const unsigned char> oldRecord,
                   std::span<const unsigned char> newRecord) override {
    try {
      maintainer_.Prepare(recno, oldRecord, newRecord, reader_);
    } catch (const CdxError& e) {
      throw DatabaseError(e.what());
    }
  }

  void AfterRecordWritten(std::uint32_t, std::span<const unsigned char>, std::span<const unsigned char>) override {
    try {
      maintainer_.Apply();
    } catch (const CdxError& e) {
      throw DatabaseError(e.what());
    }
  }

  void Finish() noexcept override { maintainer_.Abandon(); }

  // Recovery of an interrupted write, holding the table's header lock so
  // that no writer of this program changes the table meanwhile.
  void RecoverIfInterrupted(const IndexedTable& table) {
    if (!std::filesystem::exists(PendingMarkerPath(table.cdxPath))) return;
    if (table.dbfDescriptor < 0) {
      throw CdxError("Cannot write to table '" + table.name +
                     "': a write to it was interrupted and its index must be checked first; nothing was written");
    }
    ByteLock header(table.dbfDescriptor, kTableHeaderLock, "Table '" + table.name + "'", table.dbfPath);
    DescriptorRecords records(table.dbfDescriptor, *table.schema);
    std::vector<uint8_t> buffer;
    CdxRecordSource source;
    source.count = records.Count();
    source.record = [&](uint32_t recno) {
      if (!records.Read(recno, buffer)) throw CdxError("record " + std::to_string(recno) + " cannot be read");
      return std::span<const uint8_t>(buffer);
    };
    maintainer_.Recover(source, reader_);
  }

 private:
  CdxMaintainer maintainer_;
  CdxRecordReader reader_;
};

}  // namespace

// A table with a structural index is written only when every tag's keys can
// be reproduced exactly; an index left by an interrupted write is checked
// before anything else is written to the table.
std::unique_ptr<IndexMaintenance> OpenIndexMaintenance(const IndexedTable& table) {
  if (!table.schema || !table.schema->HasStructuralIndex()) return nullptr;
  if (table.cdxPath.empty()) {
    throw DatabaseError("Cannot write to table '" + table.name +
                        "': its header says it has a structural index (.cdx) but the file is missing; nothing was written");
  }
  try {
    CdxLayout layout = LayoutOfSchema(*table.schema);
    auto maintenance = std::make_unique<CdxIndexMaintenance>(table, layout);
    maintenance->RecoverIfInterrupted(table);
    return maintenance;
  } catch (const CdxError& e) {
    const std::string what = e.what();
    if (what.rfind("Cannot write to table", 0) == 0) throw DatabaseError(what);
    throw DatabaseError("Cannot write to table '" + table.name + "': its index cannot be used (" + what +
                        "); nothing was written");
  }
}

}  // namespace ravelto::registry
