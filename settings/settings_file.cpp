#include "settings/settings_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>

#ifdef _WIN32
#include <io.h>
#endif

namespace ravelto::settings {

namespace {

std::string SystemReason(int err) { return std::strerror(err); }

[[noreturn]] void ThrowCannotCreate(const std::string& path, int err) {
  throw SaveError("Cannot create file \"" + FullPath(path) + "\". " + SystemReason(err));
}

long DefaultWrite(int fd, const char* data, std::size_t size) {
#ifdef _WIN32
  return _write(fd, data, static_cast<unsigned>(size));
#else
  return static_cast<long>(::write(fd, data, size));
#endif
}

std::string TemporaryName(const std::string& path) {
  std::random_device rd;
  return path + ".tmp" + std::to_string(rd() % 1000000);
}

}  // namespace

std::string FullPath(const std::string& path) {
  std::error_code ec;
  const auto abs = std::filesystem::absolute(path, ec);
  return ec ? path : abs.string();
}

bool LoadSettings(SettingsList& list, const std::string& path) {
  list.Clear();
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad()) return false;
  list.SetText(bytes);
  return true;
}

void SaveSettings(const SettingsList& list, const std::string& path, const WriteFunction& write) {
  const std::string text = list.Text();
  // Keep the old file's permission bits on the new one.
  mode_t mode = 0666;
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) mode = st.st_mode & 07777;

  std::string tmp;
  int fd = -1;
  for (int attempt = 0; attempt < 10 && fd < 0; ++attempt) {
    tmp = TemporaryName(path);
#ifdef _WIN32
    fd = ::_open(tmp.c_str(), _O_WRONLY | _O_CREAT | _O_EXCL | _O_BINARY, _S_IREAD | _S_IWRITE);
#else
    fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
#endif
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) ThrowCannotCreate(path, errno);

  auto fail_write = [&]() {
    ::close(fd);
    ::unlink(tmp.c_str());
    throw SaveError("Stream write error");
  };
  const WriteFunction& out = write ? write : WriteFunction(DefaultWrite);
  std::size_t done = 0;
  while (done < text.size()) {
    const long n = out(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) fail_write();
    done += static_cast<std::size_t>(n);
  }
#ifndef _WIN32
  if (::fsync(fd) != 0) fail_write();
#endif
  if (::close(fd) != 0) {
    ::unlink(tmp.c_str());
    throw SaveError("Stream write error");
  }
  // filesystem::rename replaces an existing file on every platform.
  std::error_code ec;
  std::filesystem::rename(tmp, path, ec);
  if (ec) {
    ::unlink(tmp.c_str());
    ThrowCannotCreate(path, ec.value());
  }
}

}  // namespace ravelto::settings
