#include "registry/table/file_io.h"

#include <ctime>
#include <thread>

#include "platform/clock.h"
#include "platform/files.h"
#include "registry/table/database_error.h"

namespace ravelto::registry {

namespace {
LockRetryPolicy g_policy;
bool g_durable = true;

std::string Reason() { return platform::LastErrorText(); }

// A write the system refused: a full disk is told apart from other causes.
DatabaseFailure WriteFailure() {
  return platform::IsDiskFull(platform::LastError()) ? DatabaseFailure::kDiskFull : DatabaseFailure::kWriteFailed;
}
}  // namespace

void SetLockRetryPolicy(const LockRetryPolicy& policy) { g_policy = policy; }
LockRetryPolicy CurrentLockRetryPolicy() { return g_policy; }
void SetDurableWrites(bool on) { g_durable = on; }

int OpenShared(const std::string& path, bool write) {
  return platform::Open(path, write ? platform::OpenMode::kReadWrite : platform::OpenMode::kRead);
}

int CreateExclusive(const std::string& path) { return platform::Open(path, platform::OpenMode::kCreateNew); }

void CloseFile(int fd) { platform::Close(fd); }

std::uint64_t FileSizeOf(int fd) {
  std::uint64_t size = 0;
  return platform::SizeOf(fd, &size) ? size : 0;
}

std::size_t ReadAt(int fd, void* data, std::size_t size, std::uint64_t offset, const std::string& path) {
  const std::int64_t n = platform::ReadAt(fd, data, size, offset);
  if (n < 0) throw DatabaseError("Cannot read '" + path + "': " + Reason(), DatabaseFailure::kReadFailed, path);
  return static_cast<std::size_t>(n);
}

void WriteAt(int fd, const void* data, std::size_t size, std::uint64_t offset, const std::string& path) {
  if (!platform::WriteAt(fd, data, size, offset)) {
    const DatabaseFailure kind = WriteFailure();
    throw DatabaseError("Cannot write '" + path + "': " + Reason(), kind, path);
  }
}

void FlushFile(int fd, const std::string& path) {
  if (g_durable && !platform::Flush(fd)) {
    const DatabaseFailure kind = WriteFailure();
    throw DatabaseError("Cannot flush '" + path + "': " + Reason(), kind, path);
  }
}

ByteLock::ByteLock(int fd, std::uint64_t position, const std::string& what, const std::string& path)
    : fd_(fd), position_(position) {
  const LockRetryPolicy policy = g_policy;
  for (int attempt = 0;; ++attempt) {
    const platform::LockResult result = platform::LockByte(fd, position);
    if (result == platform::LockResult::kLocked) return;
    // Only a lock held elsewhere is waited out; any other failure is told
    // as it is.
    if (result == platform::LockResult::kFailed)
      throw DatabaseError("Cannot lock " + what + " (" + path + "): " + Reason(), DatabaseFailure::kLocked, path);
    if (attempt + 1 >= policy.attempts) break;
    std::this_thread::sleep_for(policy.delay);
  }
  throw DatabaseError(what + " is in use by another user (" + path + ")", DatabaseFailure::kLocked, path);
}

ByteLock::~ByteLock() { platform::UnlockByte(fd_, position_); }

bool TryLockByte(int fd, std::uint64_t position) {
  if (platform::LockByte(fd, position) != platform::LockResult::kLocked) return false;
  platform::UnlockByte(fd, position);
  return true;
}

void TodayHeaderDate(unsigned char out[3]) {
  const std::time_t now = std::time(nullptr);
  const std::tm local = platform::LocalTime(now);
  out[0] = static_cast<unsigned char>((local.tm_year + 1900) % 100);
  out[1] = static_cast<unsigned char>(local.tm_mon + 1);
  out[2] = static_cast<unsigned char>(local.tm_mday);
}

}  // namespace ravelto::registry
