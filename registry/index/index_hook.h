#pragma once
// The one place where writes to a table meet its structural index (.cdx).
//
// The table writer (table_writer.cpp) calls OpenIndexMaintenance once per
// statement, before it takes any lock or writes any byte, and then calls the
// returned object around every row it writes. A table without the header's
// structural-index flag (0x01) gets nullptr and no calls.
//
// Call order for INSERT (one row):
//   1. OpenIndexMaintenance(table)          may throw: refused, nothing written
//   2. writer takes the header/append lock, then the new record's lock,
//      and re-reads the header from disk
//   3. writer reserves the memo blocks of the new row (under the .fpt
//      lock, held until they are written)
//   4. BeforeWrite(recno, {}, newRecord)    may throw: refused; nothing of
//                                           the row is written, in any file
//   5. writer writes the memo blocks (Cancel() when that fails), then
//      record + 0x1A, flushes, writes header count/date, flushes
//   6. AfterRecordWritten(recno, {}, newRecord)  write the prepared index pages
//   7. writer releases the record lock and the header lock
//   8. Finish()                              once, after the last row, also
//                                            when the statement failed
//
// Call order for UPDATE (for every row that the WHERE selects):
//   1. OpenIndexMaintenance(table) once, as above
//   2. writer locks the record, re-reads it, evaluates WHERE on the fresh copy
//   3. writer reserves the new memo blocks (never overwriting old blocks)
//   4. BeforeWrite(recno, oldRecord, newRecord)   may throw: nothing of this
//                                                 row is written
//   5. writer writes the memo blocks (Cancel() when that fails), then the
//      record in one write, flushes
//   6. AfterRecordWritten(recno, oldRecord, newRecord)  write the prepared index pages
//   7. writer releases the record lock
//   8. Finish() once after the last row
//
// So the record and its keys change while the same table locks are held; the
// implementation takes the .cdx lock itself (in BeforeWrite or
// AfterRecordWritten) and releases it at the latest in Finish(). Records are
// raw record images (deletion byte first, record_len bytes) with the final
// memo block numbers in them. An exception from AfterRecordWritten fails the
// statement after the row was written; the writer reports it and writes no
// further rows.

#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "registry/table/dbf_schema.h"

namespace ravelto::registry {

// What the hook may know about the table being written.
struct IndexedTable {
  std::string name;      // table name as used in the statement
  std::string dbfPath;   // the table file
  std::string cdxPath;   // the structural index file found beside it ("" if missing)
  const TableSchema* schema = nullptr;  // header values and field descriptors
  int dbfDescriptor = -1;  // the writer's open .dbf: read with pread, never closed here
  // The file that keeps what was learned of collated tags across processes
  // ("" : kept for this process only); see cdx_collation_store.h.
  std::string collationKnowledge;
};

class IndexMaintenance {
 public:
  virtual ~IndexMaintenance() = default;
  // Throws (DatabaseError) to refuse the row; nothing of the row is written.
  virtual void BeforeWrite(std::uint32_t recno, std::span<const unsigned char> oldRecord,
                           std::span<const unsigned char> newRecord) = 0;
  // The row is on disk and counted; bring the index up to date.
  virtual void AfterRecordWritten(std::uint32_t recno, std::span<const unsigned char> oldRecord,
                                  std::span<const unsigned char> newRecord) = 0;
  // The row BeforeWrite prepared is not written after all, and none of its
  // bytes was: drops what BeforeWrite left (its journal) and the index lock.
  virtual void Cancel() noexcept {}
  // Called once at the end of the statement (success or failure); must not throw.
  virtual void Finish() noexcept {}
};

// nullptr for a table without the structural-index flag. For a table with
// it: the maintenance object, or a DatabaseError naming the table when its
// index cannot be maintained (then nothing is written).
std::unique_ptr<IndexMaintenance> OpenIndexMaintenance(const IndexedTable& table);

}  // namespace ravelto::registry
