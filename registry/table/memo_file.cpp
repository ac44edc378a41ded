#include "registry/table/memo_file.h"

#include <vector>

#include "registry/table/byte_codec.h"
#include "registry/table/database_error.h"
#include "registry/table/file_io.h"

namespace ravelto::registry {

namespace {
constexpr std::uint64_t kMemoHeaderSize = 512;
constexpr std::uint64_t kMemoLockPosition = 0x40000000;
}  // namespace

MemoFile::MemoFile(int fd, std::string path, std::string tableName)
    : fd_(fd), path_(std::move(path)), tableName_(std::move(tableName)) {
  unsigned char head[8];
  if (ReadAt(fd_, head, sizeof head, 0, path_) != sizeof head) {
    CloseFile(fd_);
    throw DatabaseError("Memo file '" + path_ + "' of table '" + tableName_ + "' is truncated",
                        DatabaseFailure::kDamaged, path_);
  }
  blockSize_ = GetBe16(head + 6);
  if (blockSize_ == 0) {
    CloseFile(fd_);
    throw DatabaseError("Memo file '" + path_ + "' of table '" + tableName_ + "' has block size 0", DatabaseFailure::kDamaged,
                        path_);
  }
}

MemoFile::~MemoFile() { CloseFile(fd_); }

std::string MemoFile::Read(std::uint32_t block) const {
  if (block == 0) return {};
  const std::uint64_t size = FileSizeOf(fd_);
  const std::uint64_t start = static_cast<std::uint64_t>(block) * blockSize_;
  const std::string where = " in memo file '" + path_ + "' of table '" + tableName_ + "'";
  if (start < kMemoHeaderSize || start + 8 > size)
    throw DatabaseError("Memo block " + std::to_string(block) + " lies outside the file" + where, DatabaseFailure::kDamaged, path_);
  unsigned char head[8];
  ReadAt(fd_, head, sizeof head, start, path_);
  const std::uint64_t length = GetBe32(head + 4);
  if (length > size - start - 8)
    throw DatabaseError("Memo block " + std::to_string(block) + " is longer than the file" + where, DatabaseFailure::kDamaged, path_);
  std::string data(static_cast<std::size_t>(length), '\0');
  if (ReadAt(fd_, data.data(), data.size(), start + 8, path_) != data.size())
    throw DatabaseError("Memo block " + std::to_string(block) + " cannot be read" + where, DatabaseFailure::kDamaged, path_);
  return data;
}

std::uint32_t MemoFile::Stage(std::string_view data, bool binary) {
  if (data.empty()) return 0;
  if (!lock_) {
    lock_.emplace(fd_, kMemoLockPosition, "Memo file of table '" + tableName_ + "'", path_);
    try {
      unsigned char head[8];
      if (ReadAt(fd_, head, sizeof head, 0, path_) != sizeof head)
        throw DatabaseError("Memo file '" + path_ + "' of table '" + tableName_ + "' is truncated",
                        DatabaseFailure::kDamaged, path_);
      stagedBlockSize_ = GetBe16(head + 6);
      if (stagedBlockSize_ == 0) throw DatabaseError("Memo file '" + path_ + "' has block size 0", DatabaseFailure::kDamaged, path_);
      // Never trust the stored next-free block alone: start after every byte
      // already in the file, so no existing block can be overwritten.
      const std::uint64_t size = FileSizeOf(fd_);
      const std::uint64_t minimum =
          (std::max<std::uint64_t>(size, kMemoHeaderSize) + stagedBlockSize_ - 1) / stagedBlockSize_;
      stagedFirst_ = std::max<std::uint64_t>(GetBe32(head), minimum);
    } catch (...) {
      DropStaged();
      throw;
    }
  }
  const std::uint64_t next = stagedFirst_ + staged_.size() / stagedBlockSize_;
  const std::uint64_t blocks = (8 + data.size() + stagedBlockSize_ - 1) / stagedBlockSize_;
  if (next + blocks > 0xFFFFFFFFull)
    throw DatabaseError("Memo file '" + path_ + "' of table '" + tableName_ + "' is full", DatabaseFailure::kFull, path_);
  const std::size_t at = staged_.size();
  staged_.resize(at + static_cast<std::size_t>(blocks * stagedBlockSize_), 0);
  PutBe32(staged_.data() + at, binary ? 0 : 1);
  PutBe32(staged_.data() + at + 4, static_cast<std::uint32_t>(data.size()));
  std::copy(data.begin(), data.end(), staged_.begin() + static_cast<std::ptrdiff_t>(at + 8));
  return static_cast<std::uint32_t>(next);
}

void MemoFile::WriteStaged() {
  if (!lock_) return;
  try {
    if (!staged_.empty()) {
      WriteAt(fd_, staged_.data(), staged_.size(), stagedFirst_ * stagedBlockSize_, path_);
      FlushFile(fd_, path_);
      unsigned char nextFree[4];
      PutBe32(nextFree, static_cast<std::uint32_t>(stagedFirst_ + staged_.size() / stagedBlockSize_));
      WriteAt(fd_, nextFree, sizeof nextFree, 0, path_);
      FlushFile(fd_, path_);
    }
  } catch (...) {
    DropStaged();
    throw;
  }
  DropStaged();
}

void MemoFile::DropStaged() noexcept {
  staged_.clear();
  lock_.reset();
}

void MemoFile::WriteEmpty(int fd, std::uint32_t blockSize) {
  std::vector<unsigned char> head(kMemoHeaderSize, 0);
  PutBe32(head.data(), static_cast<std::uint32_t>((kMemoHeaderSize + blockSize - 1) / blockSize));
  PutBe16(head.data() + 6, static_cast<std::uint16_t>(blockSize));
  WriteAt(fd, head.data(), head.size(), 0, "memo file");
}

}  // namespace ravelto::registry
