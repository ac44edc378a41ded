#include "registry/file_io.h"

#include <ctime>

#include <cerrno>
#include <cstring>
#include <thread>

#include "registry/database_error.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace ravelto::registry {

namespace {
LockRetryPolicy g_policy;
bool g_durable = true;

std::string ErrnoText() { return std::strerror(errno); }
}  // namespace

void SetLockRetryPolicy(const LockRetryPolicy& policy) { g_policy = policy; }
LockRetryPolicy CurrentLockRetryPolicy() { return g_policy; }
void SetDurableWrites(bool on) { g_durable = on; }

#ifdef _WIN32

static HANDLE H(int fd) { return reinterpret_cast<HANDLE>(_get_osfhandle(fd)); }

int OpenShared(const std::string& path, bool write) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | (write ? GENERIC_WRITE : 0),
                         FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return -1;
  return _open_osfhandle(reinterpret_cast<intptr_t>(h), write ? _O_RDWR : _O_RDONLY);
}

int CreateExclusive(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                         nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) return -1;
  return _open_osfhandle(reinterpret_cast<intptr_t>(h), _O_RDWR);
}

void CloseFile(int fd) {
  if (fd >= 0) _close(fd);
}

std::uint64_t FileSizeOf(int fd) {
  LARGE_INTEGER size{};
  GetFileSizeEx(H(fd), &size);
  return static_cast<std::uint64_t>(size.QuadPart);
}

std::size_t ReadAt(int fd, void* data, std::size_t size, std::uint64_t offset, const std::string& path) {
  OVERLAPPED ov{};
  ov.Offset = static_cast<DWORD>(offset);
  ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD got = 0;
  if (!ReadFile(H(fd), data, static_cast<DWORD>(size), &got, &ov) && GetLastError() != ERROR_HANDLE_EOF)
    throw DatabaseError("Cannot read '" + path + "'");
  return got;
}

void WriteAt(int fd, const void* data, std::size_t size, std::uint64_t offset, const std::string& path) {
  OVERLAPPED ov{};
  ov.Offset = static_cast<DWORD>(offset);
  ov.OffsetHigh = static_cast<DWORD>(offset >> 32);
  DWORD put = 0;
  if (!WriteFile(H(fd), data, static_cast<DWORD>(size), &put, &ov) || put != size)
    throw DatabaseError("Cannot write '" + path + "'");
}

void FlushFile(int fd, const std::string& path) {
  if (g_durable && !FlushFileBuffers(H(fd))) throw DatabaseError("Cannot flush '" + path + "'");
}

static bool LockOnce(int fd, std::uint64_t pos) {
  OVERLAPPED ov{};
  ov.Offset = static_cast<DWORD>(pos);
  ov.OffsetHigh = static_cast<DWORD>(pos >> 32);
  return LockFileEx(H(fd), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &ov) != 0;
}

static void UnlockOnce(int fd, std::uint64_t pos) {
  OVERLAPPED ov{};
  ov.Offset = static_cast<DWORD>(pos);
  ov.OffsetHigh = static_cast<DWORD>(pos >> 32);
  UnlockFileEx(H(fd), 0, 1, 0, &ov);
}

#else

int OpenShared(const std::string& path, bool write) {
  return ::open(path.c_str(), (write ? O_RDWR : O_RDONLY) | O_CLOEXEC);
}

int CreateExclusive(const std::string& path) {
  return ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
}

void CloseFile(int fd) {
  if (fd >= 0) ::close(fd);
}

std::uint64_t FileSizeOf(int fd) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return 0;
  return static_cast<std::uint64_t>(st.st_size);
}

std::size_t ReadAt(int fd, void* data, std::size_t size, std::uint64_t offset, const std::string& path) {
  std::size_t done = 0;
  auto* p = static_cast<unsigned char*>(data);
  while (done < size) {
    const ssize_t n = ::pread(fd, p + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw DatabaseError("Cannot read '" + path + "': " + ErrnoText());
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return done;
}

void WriteAt(int fd, const void* data, std::size_t size, std::uint64_t offset, const std::string& path) {
  std::size_t done = 0;
  const auto* p = static_cast<const unsigned char*>(data);
  while (done < size) {
    const ssize_t n = ::pwrite(fd, p + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      throw DatabaseError("Cannot write '" + path + "': " + ErrnoText());
    }
    done += static_cast<std::size_t>(n);
  }
}

void FlushFile(int fd, const std::string& path) {
  if (g_durable && ::fdatasync(fd) != 0) throw DatabaseError("Cannot flush '" + path + "': " + ErrnoText());
}

static bool LockOnce(int fd, std::uint64_t pos) {
  struct flock fl {};
  fl.l_type = F_WRLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(pos);
  fl.l_len = 1;
  return ::fcntl(fd, F_SETLK, &fl) == 0;
}

static void UnlockOnce(int fd, std::uint64_t pos) {
  struct flock fl {};
  fl.l_type = F_UNLCK;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(pos);
  fl.l_len = 1;
  ::fcntl(fd, F_SETLK, &fl);
}

#endif

ByteLock::ByteLock(int fd, std::uint64_t position, const std::string& what, const std::string& path)
    : fd_(fd), position_(position) {
  const LockRetryPolicy policy = g_policy;
  for (int attempt = 0;; ++attempt) {
    if (LockOnce(fd, position)) return;
    if (attempt + 1 >= policy.attempts) break;
    std::this_thread::sleep_for(policy.delay);
  }
  throw DatabaseError(what + " is in use by another user (" + path + ")");
}

ByteLock::~ByteLock() { UnlockOnce(fd_, position_); }

bool TryLockByte(int fd, std::uint64_t position) {
  if (!LockOnce(fd, position)) return false;
  UnlockOnce(fd, position);
  return true;
}

void TodayHeaderDate(unsigned char out[3]) {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
#ifdef _WIN32
  localtime_s(&local, &now);
#else
  localtime_r(&now, &local);
#endif
  out[0] = static_cast<unsigned char>((local.tm_year + 1900) % 100);
  out[1] = static_cast<unsigned char>(local.tm_mon + 1);
  out[2] = static_cast<unsigned char>(local.tm_mday);
}

}  // namespace ravelto::registry
