#pragma once
// An open table: the .dbf file (and its .fpt memo file when there is one),
// found by name in a folder whatever the letter case of the file names.
//
// One TableFile keeps exactly one descriptor per file for its whole life:
// POSIX record locks belong to the process and are dropped when any
// descriptor of the file is closed, so the writer locks and writes through
// the same descriptors the reader uses.

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "registry/table/dbf_schema.h"
#include "registry/table/memo_file.h"

namespace ravelto::registry {

// Decodes a table header and its field descriptors from the first bytes of
// the file. `fileSize` is the size of the whole file. Throws DatabaseError
// (naming `tableName`) for a header that is truncated or inconsistent:
// fields that overlap or leave the record, a record length of 0, a header
// length too small for the descriptors.
TableSchema ParseSchema(std::span<const unsigned char> head, std::uint64_t fileSize,
                        std::string_view tableName);

// Number of records a reader may visit: min(header count, whole records in
// the file).
std::uint32_t ReadableRecordCount(const TableSchema& schema, std::uint64_t fileSize);

// Finds `base` + `extension` in `folder` ignoring letter case ("" if none).
std::string FindFileNoCase(const std::string& folder, std::string_view base, std::string_view extension);

class TableFile {
 public:
  // Opens the table `name` in `folder` for reading, and for writing when
  // `forWrite` (the files then open read-write). Throws DatabaseError when
  // the table is missing or damaged.
  TableFile(const std::string& folder, std::string_view name, bool forWrite);
  ~TableFile();
  TableFile(const TableFile&) = delete;
  TableFile& operator=(const TableFile&) = delete;

  const std::string& Name() const { return name_; }
  const std::string& DbfPath() const { return dbfPath_; }
  const std::string& CdxPath() const { return cdxPath_; }
  const TableSchema& Schema() const { return schema_; }
  int Descriptor() const { return fd_; }
  MemoFile* Memo() { return memo_.get(); }
  const MemoFile* Memo() const { return memo_.get(); }

  // Current size of the .dbf file.
  std::uint64_t FileSize() const;
  // Records a reader may visit right now.
  std::uint32_t RecordCount() const;

  // Reads records [first, first + count) (1-based numbers) into `buffer`;
  // returns how many whole records were read.
  std::uint32_t ReadRecords(std::uint32_t first, std::uint32_t count, std::vector<unsigned char>& buffer) const;
  // Reads one record (1-based); false when it is past the end of the file.
  bool ReadRecord(std::uint32_t recno, std::vector<unsigned char>& record) const;

  // Re-reads the 32-byte header from disk (for writers, under the header lock).
  void ReadHeader(unsigned char header[32]) const;

 private:
  std::string name_;
  std::string dbfPath_;
  std::string cdxPath_;
  int fd_ = -1;
  TableSchema schema_;
  std::unique_ptr<MemoFile> memo_;
};

// Streams the live (not deleted) records of a table in chunks, with memory
// independent of the table's size.
class RecordScanner {
 public:
  explicit RecordScanner(const TableFile& table);
  // Next live record; false at the end. `recno` is 1-based.
  bool Next(const unsigned char** record, std::uint32_t* recno);

 private:
  const TableFile& table_;
  std::uint32_t total_;
  std::uint32_t nextToRead_ = 1;
  std::uint32_t chunkFirst_ = 1;
  std::uint32_t chunkCount_ = 0;
  std::uint32_t index_ = 0;
  std::vector<unsigned char> buffer_;
};

}  // namespace ravelto::registry
