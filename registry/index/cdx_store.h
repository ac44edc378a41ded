#pragma once
// Random access to the bytes of a .cdx: a file on disk (with the registry
// program's byte-range lock) or a buffer in memory (tests, fuzzing).

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

namespace ravelto::registry {

class CdxStore {
 public:
  virtual ~CdxStore() = default;
  // Current size in bytes.
  virtual uint64_t Size() const = 0;
  // Reads exactly out.size() bytes at offset; throws CdxError when the range
  // lies (partly) past the end.
  virtual void Read(uint64_t offset, std::span<uint8_t> out) const = 0;
  // Writes the bytes at offset, growing the store when needed. Throws CdxError.
  virtual void Write(uint64_t offset, std::span<const uint8_t> bytes) = 0;
  // Cuts the store to size bytes (used to undo pages appended by an
  // interrupted write).
  virtual void Truncate(uint64_t size) = 0;
  // Makes written bytes durable (no-op in memory).
  virtual void Sync() {}
  // Human-readable name for messages.
  virtual std::string Name() const = 0;
};

class MemoryCdxStore final : public CdxStore {
 public:
  explicit MemoryCdxStore(std::vector<uint8_t> bytes, std::string name = "memory");
  uint64_t Size() const override { return bytes_.size(); }
  void Read(uint64_t offset, std::span<uint8_t> out) const override;
  void Write(uint64_t offset, std::span<const uint8_t> bytes) override;
  void Truncate(uint64_t size) override { bytes_.resize(std::min<uint64_t>(size, bytes_.size())); }
  std::string Name() const override { return name_; }
  const std::vector<uint8_t>& Bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
  std::string name_;
};

// A .cdx opened for shared reading and writing. The lock is on the same byte
// the registry program locks; the store takes it through its one open file,
// kept for its whole life (on POSIX closing any other descriptor of the file
// would drop the process's lock; on Windows the lock belongs to this handle).
class FileCdxStore final : public CdxStore {
 public:
  // Opens the file; writable opens read+write. Throws CdxError.
  FileCdxStore(const std::filesystem::path& path, bool writable);
  ~FileCdxStore() override;
  FileCdxStore(const FileCdxStore&) = delete;
  FileCdxStore& operator=(const FileCdxStore&) = delete;

  uint64_t Size() const override;
  void Read(uint64_t offset, std::span<uint8_t> out) const override;
  void Write(uint64_t offset, std::span<const uint8_t> bytes) override;
  void Truncate(uint64_t size) override;
  void Sync() override;
  std::string Name() const override;

  // Takes the index lock (exclusive, one byte at 0x7FFFFFFE), retrying for
  // about retry_ms; throws CdxError when it cannot be had.
  void Lock(int retry_ms = 2000);
  void Unlock();

 private:
  std::filesystem::path path_;
  int fd_ = -1;
  bool locked_ = false;
};

}  // namespace ravelto::registry
