#include "registry/cdx_store.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

#include "registry/cdx_format.h"
#include "registry/file_io.h"

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
  fd_ = ::open(path.c_str(), (writable ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  if (fd_ < 0) throw CdxError("Cannot open index file " + path.string() + ": " + std::strerror(errno));
}

FileCdxStore::~FileCdxStore() {
  if (fd_ >= 0) {
    if (locked_) Unlock();
    ::close(fd_);
  }
}

uint64_t FileCdxStore::Size() const {
  struct stat st {};
  if (::fstat(fd_, &st) != 0) throw CdxError("Cannot read the size of index file " + Name());
  return static_cast<uint64_t>(st.st_size);
}

void FileCdxStore::Read(uint64_t offset, std::span<uint8_t> out) const {
  std::size_t done = 0;
  while (done < out.size()) {
    ssize_t n = ::pread(fd_, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      throw CdxError(Name() + ": read past the end of the index file at offset " + std::to_string(offset));
    }
    done += static_cast<std::size_t>(n);
  }
}

void FileCdxStore::Write(uint64_t offset, std::span<const uint8_t> bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    ssize_t n = ::pwrite(fd_, bytes.data() + done, bytes.size() - done, static_cast<off_t>(offset + done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw CdxError("Cannot write index file " + Name() + ": " + std::strerror(errno));
    done += static_cast<std::size_t>(n);
  }
}

void FileCdxStore::Truncate(uint64_t size) {
  if (size < Size() && ::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
    throw CdxError("Cannot truncate index file " + Name() + ": " + std::strerror(errno));
  }
}

void FileCdxStore::Sync() {
  FlushFile(fd_, Name());
}

void FileCdxStore::Lock(int retry_ms) {
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(cdx::kLockOffset);
  fl.l_len = 1;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(retry_ms);
  while (::fcntl(fd_, F_SETLK, &fl) != 0) {
    if ((errno != EACCES && errno != EAGAIN && errno != EINTR) || std::chrono::steady_clock::now() >= deadline) {
      throw CdxError("Index file " + Name() + " is in use by another user");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  locked_ = true;
}

void FileCdxStore::Unlock() {
  struct flock fl {};
  fl.l_type = F_UNLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(cdx::kLockOffset);
  fl.l_len = 1;
  ::fcntl(fd_, F_SETLK, &fl);
  locked_ = false;
}

}  // namespace ravelto::registry
