#pragma once
// The memo file (.fpt) of a table: a 512-byte header (next free block and
// block size, big-endian) and memo blocks of [type, length, data].
//
// Reading checks every block number and length against the file's size.
// Writing only ever appends new blocks after the last used one; a block that
// some record may still point to is never overwritten.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "registry/table/file_io.h"

namespace ravelto::registry {

class MemoFile {
 public:
  // Takes ownership of the open descriptor `fd` of the file at `path`.
  // Throws DatabaseError for a header that is truncated or has block size 0.
  MemoFile(int fd, std::string path, std::string tableName);
  ~MemoFile();
  MemoFile(const MemoFile&) = delete;
  MemoFile& operator=(const MemoFile&) = delete;

  std::uint32_t BlockSize() const { return blockSize_; }
  const std::string& Path() const { return path_; }

  // The data of the memo at `block`; block 0 is the empty memo. Throws
  // DatabaseError when the block or its length lies outside the file.
  std::string Read(std::uint32_t block) const;

  // Reserves room for `data` as a new memo (block type 1 for text, 0 for
  // binary) after every block already in use and returns its block number;
  // the empty value gets block 0. Nothing is written yet: the memo
  // allocation lock is taken by the first reservation and held until
  // WriteStaged() or DropStaged(), so the numbers stay free meanwhile.
  std::uint32_t Stage(std::string_view data, bool binary);
  // Writes the reserved memos, flushes, then the header's next free block,
  // flushes, and releases the lock. Nothing to do without reservations.
  void WriteStaged();
  // Forgets the reservations unwritten and releases the lock.
  void DropStaged() noexcept;

  // Writes a fresh header for a new, empty memo file.
  static void WriteEmpty(int fd, std::uint32_t blockSize);

 private:
  int fd_;
  std::string path_;
  std::string tableName_;
  std::uint32_t blockSize_ = 64;
  // Reservations: the allocation lock, the first reserved block and the
  // bytes from there on (whole blocks).
  std::optional<ByteLock> lock_;
  std::uint64_t stagedFirst_ = 0;
  std::uint32_t stagedBlockSize_ = 0;
  std::vector<unsigned char> staged_;
};

}  // namespace ravelto::registry
