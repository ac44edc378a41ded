#include "registry/index/cdx_store.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "platform/files.h"
#include "registry/index/cdx_format.h"
#include "registry/table/file_io.h"

namespace ravelto::registry {

MemoryCdxStore::MemoryCdxStore(std::vector<uint8_t> bytes, std::string name)
    : bytes_(std::move(bytes)), name_(std::move(name)) {}

void MemoryCdxStore::Read(uint64_t offset, std::span<uint8_t> out) const {
  if (offset > bytes_.size() || out.size() > bytes_.size() - offset) {
    throw CdxError(name_ + ": read past the end of the index file at offset " + std::to_string(offset));
  }
  std::memcpy(out.data(), bytes_.data() + offset, out.size());
}

void MemoryCdxStore::Write(uint64_t offset, std::span<const uint8_t> bytes) {
  if (offset + bytes.size() > bytes_.size()) bytes_.resize(offset + bytes.size());
  std::memcpy(bytes_.data() + offset, bytes.data(), bytes.size());
}

FileCdxStore::FileCdxStore(const std::filesystem::path& path, bool writable) : path_(path) {
  fd_ = platform::Open(path, writable ? platform::OpenMode::kReadWrite : platform::OpenMode::kRead);
  if (fd_ < 0) throw CdxError("Cannot open index file " + Name() + ": " + platform::LastErrorText());
}

FileCdxStore::~FileCdxStore() {
  if (fd_ >= 0) {
    if (locked_) Unlock();
    platform::Close(fd_);
  }
}

std::string FileCdxStore::Name() const { return platform::PathText(path_); }

uint64_t FileCdxStore::Size() const {
  uint64_t size = 0;
  if (!platform::SizeOf(fd_, &size)) throw CdxError("Cannot read the size of index file " + Name());
  return size;
}

void FileCdxStore::Read(uint64_t offset, std::span<uint8_t> out) const {
  const int64_t n = platform::ReadAt(fd_, out.data(), out.size(), offset);
  if (n < 0) throw CdxError("Cannot read index file " + Name() + ": " + platform::LastErrorText());
  if (static_cast<uint64_t>(n) < out.size()) {
    throw CdxError(Name() + ": read past the end of the index file at offset " + std::to_string(offset));
  }
}

void FileCdxStore::Write(uint64_t offset, std::span<const uint8_t> bytes) {
  if (!platform::WriteAt(fd_, bytes.data(), bytes.size(), offset)) {
    throw CdxError("Cannot write index file " + Name() + ": " + platform::LastErrorText());
  }
}

void FileCdxStore::Truncate(uint64_t size) {
  if (size < Size() && !platform::Truncate(fd_, size)) {
    throw CdxError("Cannot truncate index file " + Name() + ": " + platform::LastErrorText());
  }
}

void FileCdxStore::Sync() {
  FlushFile(fd_, Name());
}

void FileCdxStore::Lock(int retry_ms) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(retry_ms);
  for (;;) {
    const platform::LockResult result = platform::LockByte(fd_, cdx::kLockOffset);
    if (result == platform::LockResult::kLocked) break;
    if (result == platform::LockResult::kFailed) {
      throw CdxError("Cannot lock index file " + Name() + ": " + platform::LastErrorText());
    }
    if (std::chrono::steady_clock::now() >= deadline) {
      throw CdxError("Index file " + Name() + " is in use by another user");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  locked_ = true;
}

void FileCdxStore::Unlock() {
  platform::UnlockByte(fd_, cdx::kLockOffset);
  locked_ = false;
}

}  // namespace ravelto::registry
