#pragma once
// The memo file (.fpt) of a table: a 512-byte header (next free block and
// block size, big-endian) and memo blocks of [type, length, data].
//
// Reading checks every block number and length against the file's size.
// Writing only ever appends new blocks after the last used one; a block that
// some record may still point to is never overwritten.

#include <cstdint>
#include <string>
#include <string_view>

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

  // Appends `data` as a new memo (block type 1 for text, 0 for binary)
  // under the memo allocation lock and returns its block number; the
  // empty value gets block 0 and writes nothing.
  std::uint32_t Append(std::string_view data, bool binary);

  // Writes a fresh header for a new, empty memo file.
  static void WriteEmpty(int fd, std::uint32_t blockSize);

 private:
  int fd_;
  std::string path_;
  std::string tableName_;
  std::uint32_t blockSize_ = 64;
};

}  // namespace ravelto::registry
