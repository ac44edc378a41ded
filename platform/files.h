#pragma once
// Files as the registry, the settings save and the updates use them: opened
// shared with other programs (read, write and delete) in binary mode,
// positioned reads and writes, exclusive one-byte locks, flushes to the disk
// and replace-renames. This header and files.cpp are the only place where
// POSIX and Win32 differ for files.
//
// Paths are Windows-1251 bytes, as the system's text is. On Windows they are
// turned into UTF-16 for the wide-character API, so folders with Cyrillic
// names work whatever the desk's ANSI code page; on POSIX the bytes are the
// name.
//
// Locks: fcntl record locks belong to the process (and closing any other
// descriptor of the file drops them); LockFileEx locks belong to the handle.
// Both stop other programs the same way. Callers keep one open file per table
// or index for a statement and lock through it, so neither difference shows.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>

namespace ravelto::platform {

// An open file: a C runtime descriptor (wrapping the HANDLE on Windows).
using File = int;
constexpr File kNoFile = -1;

enum class OpenMode {
  kRead,           // an existing file, read only
  kReadWrite,      // an existing file, read and write
  kCreateNew,      // a new file (fails if it exists), read and write
  kCreateOrEmpty,  // created or emptied, read and write
  kReadWriteOrCreate,  // an existing file, or a new empty one, read and write
};

// kNoFile on failure; LastError() tells why.
File Open(const std::string& path, OpenMode mode);
File Open(const std::filesystem::path& path, OpenMode mode);
void Close(File file);

// The size in bytes; false on failure.
bool SizeOf(File file, std::uint64_t* size);
// Reads up to `size` bytes at `offset` (fewer only at the end of the file);
// returns the count read, or -1 on an error.
std::int64_t ReadAt(File file, void* data, std::size_t size, std::uint64_t offset);
// Writes all bytes at `offset`; false on an error (disk full among them).
bool WriteAt(File file, const void* data, std::size_t size, std::uint64_t offset);
bool Truncate(File file, std::uint64_t size);
// Pushes the file's data (and on POSIX its size) to the disk.
bool Flush(File file);
// Makes a created, renamed or removed name in `folder` durable. On Windows
// names are made durable by the rename itself (MOVEFILE_WRITE_THROUGH), and
// this does nothing.
bool FlushFolder(const std::string& folder);

enum class LockResult { kLocked, kBusy, kFailed };
// One attempt at an exclusive lock of the byte at `position`.
LockResult LockByte(File file, std::uint64_t position);
void UnlockByte(File file, std::uint64_t position);

// Renames `from` to `to`, replacing `to` when it exists, in one step.
bool ReplaceFile(const std::string& from, const std::string& to);
bool RemoveFile(const std::string& path);
bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);
// Whether the folder's entries can be listed and opened.
bool FolderReadable(const std::string& path);
// Gives the open file `to` the permission bits of the file `from` (when it
// exists). Windows keeps no such bits (a read-only attribute would only make
// a later replace fail), so there it does nothing.
void CopyPermissions(const std::string& from, File to);

// The code of the last failure of a call above (errno, or GetLastError()).
int LastError();
// The system's text for an error code, in Windows-1251.
std::string ErrorText(int code);
inline std::string LastErrorText() { return ErrorText(LastError()); }
// Whether an error code says the disk (or the user's quota on it) is full.
bool IsDiskFull(int code);

// Conversions between Windows-1251 path bytes and std::filesystem paths. On
// Windows a path made from a narrow string by the standard library is not
// read as Windows-1251, so paths from the system's text go through these.
std::filesystem::path NativePath(const std::string& path);
std::string PathText(const std::filesystem::path& path);

// The folder for this user's caches (%LOCALAPPDATA% on Windows,
// $XDG_CACHE_HOME or ~/.cache elsewhere); "" when the system names none.
std::string UserCacheFolder();

}  // namespace ravelto::platform
