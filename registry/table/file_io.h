#pragma once
// Positioned reads and writes, flushing and byte-range locks on one open
// table or memo file, with the registry's messages, lock waiting and the
// durable-writes switch. The system calls are in the platform layer
// (platform/files.h).

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace ravelto::registry {

// Opens an existing file for reading (and writing when `write`), shared with
// other programs; -1 on failure with errno set.
int OpenShared(const std::string& path, bool write);
// Creates a new file (fails if it exists); -1 on failure.
int CreateExclusive(const std::string& path);
void CloseFile(int fd);

std::uint64_t FileSizeOf(int fd);
// Reads up to `size` bytes at `offset`; returns the number read (short at
// the end of the file). Throws DatabaseError naming `path` on an I/O error.
std::size_t ReadAt(int fd, void* data, std::size_t size, std::uint64_t offset, const std::string& path);
// Writes all `size` bytes at `offset` or throws DatabaseError.
void WriteAt(int fd, const void* data, std::size_t size, std::uint64_t offset, const std::string& path);
// Pushes written data to the disk (when durable writes are on).
void FlushFile(int fd, const std::string& path);

// How long a writer waits for a lock another program holds: `attempts`
// tries with `delay` between them. Tests shorten it.
struct LockRetryPolicy {
  int attempts = 40;
  std::chrono::milliseconds delay{25};
};
void SetLockRetryPolicy(const LockRetryPolicy& policy);
LockRetryPolicy CurrentLockRetryPolicy();

// Whether FlushFile really syncs to the disk (on by default; benchmarks and
// some tests switch it off, a killed process never needs it).
void SetDurableWrites(bool on);

// An exclusive lock on one byte, held for the object's life. The byte lies
// past the data, so it blocks other writers, never readers.
class ByteLock {
 public:
  // Tries with the retry policy, then throws DatabaseError with
  // "<what> is in use by another user (<path>)".
  ByteLock(int fd, std::uint64_t position, const std::string& what, const std::string& path);
  ~ByteLock();
  ByteLock(const ByteLock&) = delete;
  ByteLock& operator=(const ByteLock&) = delete;

 private:
  int fd_;
  std::uint64_t position_;
};

// Single attempt, for tests: true when the byte could be locked (and the
// lock is released again at once).
bool TryLockByte(int fd, std::uint64_t position);

// Today's local date as a table header stores it: year % 100, month, day.
void TodayHeaderDate(unsigned char out[3]);

}  // namespace ravelto::registry
