#include "platform/files.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#ifdef _WIN32
#include "platform/windows_api.h"
#include <fcntl.h>
#include <io.h>
// winbase.h maps ReplaceFile to ReplaceFileW; the name here is ours.
#undef ReplaceFile
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace ravelto::platform {

#ifdef _WIN32

namespace {

constexpr UINT kCodePage = 1251;
thread_local DWORD t_lastError = 0;

bool Fail() {
  t_lastError = GetLastError();
  return false;
}

HANDLE HandleOf(File file) { return reinterpret_cast<HANDLE>(_get_osfhandle(file)); }

std::wstring Wide(const std::string& text) {
  if (text.empty()) return {};
  const int n = MultiByteToWideChar(kCodePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(kCodePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

std::string Narrow(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int n = WideCharToMultiByte(kCodePage, 0, wide.data(), static_cast<int>(wide.size()), nullptr, 0,
                                    nullptr, nullptr);
  std::string text(static_cast<std::size_t>(n), '\0');
  WideCharToMultiByte(kCodePage, 0, wide.data(), static_cast<int>(wide.size()), text.data(), n, nullptr,
                      nullptr);
  return text;
}

OVERLAPPED At(std::uint64_t offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return at;
}

File OpenWide(const wchar_t* path, OpenMode mode) {
  DWORD access = GENERIC_READ | GENERIC_WRITE;
  DWORD disposition = OPEN_EXISTING;
  switch (mode) {
    case OpenMode::kRead: access = GENERIC_READ; break;
    case OpenMode::kReadWrite: break;
    case OpenMode::kCreateNew: disposition = CREATE_NEW; break;
    case OpenMode::kCreateOrEmpty: disposition = CREATE_ALWAYS; break;
    case OpenMode::kReadWriteOrCreate: disposition = OPEN_ALWAYS; break;
  }
  // Shared for read, write and delete, as the registry program opens its
  // tables; not inherited by programs the desk starts.
  HANDLE h = CreateFileW(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    Fail();
    return kNoFile;
  }
  const int flags = _O_BINARY | (mode == OpenMode::kRead ? _O_RDONLY : _O_RDWR);
  const File file = _open_osfhandle(reinterpret_cast<intptr_t>(h), flags);
  if (file < 0) {
    t_lastError = ERROR_TOO_MANY_OPEN_FILES;
    CloseHandle(h);
  }
  return file;
}

}  // namespace

File Open(const std::string& path, OpenMode mode) { return OpenWide(Wide(path).c_str(), mode); }
File Open(const std::filesystem::path& path, OpenMode mode) { return OpenWide(path.c_str(), mode); }

void Close(File file) {
  if (file >= 0) _close(file);  // closes the HANDLE too
}

bool SizeOf(File file, std::uint64_t* size) {
  LARGE_INTEGER value{};
  if (!GetFileSizeEx(HandleOf(file), &value)) return Fail();
  *size = static_cast<std::uint64_t>(value.QuadPart);
  return true;
}

std::int64_t ReadAt(File file, void* data, std::size_t size, std::uint64_t offset) {
  auto* p = static_cast<unsigned char*>(data);
  std::size_t done = 0;
  while (done < size) {
    OVERLAPPED at = At(offset + done);
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 30));
    DWORD got = 0;
    if (!ReadFile(HandleOf(file), p + done, want, &got, &at)) {
      if (GetLastError() == ERROR_HANDLE_EOF) break;
      Fail();
      return -1;
    }
    if (got == 0) break;
    done += got;
  }
  return static_cast<std::int64_t>(done);
}

bool WriteAt(File file, const void* data, std::size_t size, std::uint64_t offset) {
  const auto* p = static_cast<const unsigned char*>(data);
  std::size_t done = 0;
  while (done < size) {
    OVERLAPPED at = At(offset + done);
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 30));
    DWORD put = 0;
    if (!WriteFile(HandleOf(file), p + done, want, &put, &at)) return Fail();
    if (put == 0) {
      t_lastError = ERROR_DISK_FULL;
      return false;
    }
    done += put;
  }
  return true;
}

bool Truncate(File file, std::uint64_t size) {
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(size);
  if (!SetFileInformationByHandle(HandleOf(file), FileEndOfFileInfo, &end, sizeof end)) return Fail();
  return true;
}

bool Flush(File file) { return FlushFileBuffers(HandleOf(file)) ? true : Fail(); }

bool FlushFolder(const std::string&) { return true; }

LockResult LockByte(File file, std::uint64_t position) {
  OVERLAPPED at = At(position);
  if (LockFileEx(HandleOf(file), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
    return LockResult::kLocked;
  const DWORD error = GetLastError();
  t_lastError = error;
  return error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING || error == ERROR_SHARING_VIOLATION
             ? LockResult::kBusy
             : LockResult::kFailed;
}

void UnlockByte(File file, std::uint64_t position) {
  OVERLAPPED at = At(position);
  UnlockFileEx(HandleOf(file), 0, 1, 0, &at);
}

bool ReplaceFile(const std::string& from, const std::string& to) {
  if (!MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
    return Fail();
  return true;
}

bool RemoveFile(const std::string& path) { return DeleteFileW(Wide(path).c_str()) ? true : Fail(); }

bool FileExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool FolderExists(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool FolderReadable(const std::string& path) {
  std::wstring pattern = Wide(path);
  if (!pattern.empty() && pattern.back() != L'\\' && pattern.back() != L'/') pattern += L'\\';
  pattern += L'*';
  WIN32_FIND_DATAW found{};
  HANDLE h = FindFirstFileW(pattern.c_str(), &found);
  if (h == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND ? true : Fail();
  FindClose(h);
  return true;
}

int LastError() { return static_cast<int>(t_lastError); }

bool IsDiskFull(int code) { return code == ERROR_DISK_FULL || code == ERROR_HANDLE_DISK_FULL; }

std::string ErrorText(int code) {
  wchar_t* buffer = nullptr;
  const DWORD n = FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  std::wstring text = n != 0 && buffer != nullptr ? std::wstring(buffer, n) : std::wstring();
  if (buffer != nullptr) LocalFree(buffer);
  while (!text.empty() && (text.back() == L'\r' || text.back() == L'\n' || text.back() == L' ')) text.pop_back();
  if (text.empty()) return "System error " + std::to_string(code);
  return Narrow(text);
}

std::filesystem::path NativePath(const std::string& path) { return std::filesystem::path(Wide(path)); }
std::string PathText(const std::filesystem::path& path) { return Narrow(path.native()); }

std::string UserCacheFolder() {
  const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
  return local != nullptr && *local != 0 ? Narrow(local) : std::string();
}

void CopyPermissions(const std::string&, File) {}

#else  // POSIX

namespace {
thread_local int t_lastError = 0;

bool Fail() {
  t_lastError = errno;
  return false;
}

int Flags(OpenMode mode) {
  switch (mode) {
    case OpenMode::kRead: return O_RDONLY;
    case OpenMode::kReadWrite: return O_RDWR;
    case OpenMode::kCreateNew: return O_RDWR | O_CREAT | O_EXCL;
    case OpenMode::kCreateOrEmpty: return O_RDWR | O_CREAT | O_TRUNC;
    case OpenMode::kReadWriteOrCreate: return O_RDWR | O_CREAT;
  }
  return O_RDONLY;
}
}  // namespace

File Open(const std::string& path, OpenMode mode) {
  // Not inherited by programs the desk starts.
  const File file = ::open(path.c_str(), Flags(mode) | O_CLOEXEC, 0666);
  if (file < 0) Fail();
  return file;
}

File Open(const std::filesystem::path& path, OpenMode mode) { return Open(path.string(), mode); }

void Close(File file) {
  if (file >= 0) ::close(file);
}

bool SizeOf(File file, std::uint64_t* size) {
  struct stat st {};
  if (::fstat(file, &st) != 0) return Fail();
  *size = static_cast<std::uint64_t>(st.st_size);
  return true;
}

std::int64_t ReadAt(File file, void* data, std::size_t size, std::uint64_t offset) {
  auto* p = static_cast<unsigned char*>(data);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pread(file, p + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      Fail();
      return -1;
    }
    if (n == 0) break;
    done += static_cast<std::size_t>(n);
  }
  return static_cast<std::int64_t>(done);
}

bool WriteAt(File file, const void* data, std::size_t size, std::uint64_t offset) {
  const auto* p = static_cast<const unsigned char*>(data);
  std::size_t done = 0;
  while (done < size) {
    const ssize_t n = ::pwrite(file, p + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return Fail();
    }
    if (n == 0) {
      t_lastError = ENOSPC;
      return false;
    }
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool Truncate(File file, std::uint64_t size) {
  return ::ftruncate(file, static_cast<off_t>(size)) == 0 ? true : Fail();
}

bool Flush(File file) { return ::fdatasync(file) == 0 ? true : Fail(); }

bool FlushFolder(const std::string& folder) {
  const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return Fail();
  const bool ok = ::fsync(fd) == 0 || Fail();
  ::close(fd);
  return ok;
}

namespace {
bool SetLock(File file, std::uint64_t position, short type) {
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(position);
  fl.l_len = 1;
  return ::fcntl(file, F_SETLK, &fl) == 0;
}
}  // namespace

LockResult LockByte(File file, std::uint64_t position) {
  if (SetLock(file, position, F_WRLCK)) return LockResult::kLocked;
  Fail();
  return t_lastError == EACCES || t_lastError == EAGAIN || t_lastError == EINTR ? LockResult::kBusy
                                                                                : LockResult::kFailed;
}

void UnlockByte(File file, std::uint64_t position) { SetLock(file, position, F_UNLCK); }

bool ReplaceFile(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0 ? true : Fail();
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0 ? true : Fail(); }

bool FileExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool FolderExists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FolderReadable(const std::string& path) { return ::access(path.c_str(), R_OK | X_OK) == 0 ? true : Fail(); }

int LastError() { return t_lastError; }

bool IsDiskFull(int code) {
  return code == ENOSPC
#ifdef EDQUOT
         || code == EDQUOT
#endif
      ;
}

std::string ErrorText(int code) { return std::strerror(code); }

std::filesystem::path NativePath(const std::string& path) { return std::filesystem::path(path); }
std::string PathText(const std::filesystem::path& path) { return path.string(); }

std::string UserCacheFolder() {
  if (const char* xdg = std::getenv("XDG_CACHE_HOME"); xdg != nullptr && *xdg == '/') return xdg;
  const char* home = std::getenv("HOME");
  return home != nullptr && *home != 0 ? std::string(home) + "/.cache" : std::string();
}

void CopyPermissions(const std::string& from, File to) {
  struct stat st {};
  if (::stat(from.c_str(), &st) == 0) ::fchmod(to, st.st_mode & 07777);
}

#endif

}  // namespace ravelto::platform
