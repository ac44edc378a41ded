#include "settings/settings_file.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <random>
#include <system_error>

#include "platform/files.h"

namespace ravelto::settings {

namespace {

[[noreturn]] void ThrowCannotCreate(const std::string& path, int code) {
  throw SaveError("Cannot create file \"" + FullPath(path) + "\". " + platform::ErrorText(code));
}

std::string TemporaryName(const std::string& path) {
  std::random_device rd;
  return path + ".tmp" + std::to_string(rd() % 1000000);
}

// The folder part of a path, for flushing the replaced name; "" for a bare
// file name (the working folder).
std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.find_last_of("/\\");
  if (slash == std::string::npos) return {};
  return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

}  // namespace

std::string FullPath(const std::string& path) {
  std::error_code ec;
  const auto abs = std::filesystem::absolute(platform::NativePath(path), ec);
  return ec ? path : platform::PathText(abs);
}

bool LoadSettings(SettingsList& list, const std::string& path) {
  list.Clear();
  const platform::File file = platform::Open(path, platform::OpenMode::kRead);
  if (file == platform::kNoFile) return false;
  std::string bytes;
  char piece[64 * 1024];
  for (;;) {
    const std::int64_t n = platform::ReadAt(file, piece, sizeof piece, bytes.size());
    if (n < 0) {
      platform::Close(file);
      return false;
    }
    bytes.append(piece, static_cast<std::size_t>(n));
    if (static_cast<std::size_t>(n) < sizeof piece) break;
  }
  platform::Close(file);
  list.SetText(bytes);
  return true;
}

void SaveSettings(const SettingsList& list, const std::string& path, const WriteFunction& write) {
  const std::string text = list.Text();

  std::string tmp;
  platform::File fd = platform::kNoFile;
  int error = 0;
  for (int attempt = 0; attempt < 10 && fd == platform::kNoFile; ++attempt) {
    tmp = TemporaryName(path);
    fd = platform::Open(tmp, platform::OpenMode::kCreateNew);
    if (fd != platform::kNoFile) break;
    error = platform::LastError();
    // Another file took the name: try another one.
    if (!platform::FileExists(tmp)) break;
  }
  if (fd == platform::kNoFile) ThrowCannotCreate(path, error);
  // Before any byte is written, so a config.ini only its owner may read stays so.
  platform::CopyPermissions(path, fd);

  auto fail_write = [&]() {
    platform::Close(fd);
    platform::RemoveFile(tmp);
    throw SaveError("Stream write error");
  };
  // By default the bytes go out with positioned writes, each piece at the
  // end of what was written before.
  std::uint64_t offset = 0;
  const WriteFunction positioned = [&offset](int file, const char* data, std::size_t size) -> long {
    const std::size_t piece = std::min<std::size_t>(size, std::size_t{1} << 30);
    if (!platform::WriteAt(file, data, piece, offset)) {
      errno = EIO;
      return -1;
    }
    offset += piece;
    return static_cast<long>(piece);
  };
  const WriteFunction& out = write ? write : positioned;
  std::size_t done = 0;
  while (done < text.size()) {
    const long n = out(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) fail_write();
    done += static_cast<std::size_t>(n);
  }
  if (!platform::Flush(fd)) fail_write();
  platform::Close(fd);

  if (!platform::ReplaceFile(tmp, path)) {
    error = platform::LastError();
    platform::RemoveFile(tmp);
    ThrowCannotCreate(path, error);
  }
  // The new content is in place; a failure to make the rename itself durable
  // is not a failed save.
  platform::FlushFolder(FolderOf(path));
}

}  // namespace ravelto::settings
