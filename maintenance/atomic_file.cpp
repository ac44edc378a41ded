#include "maintenance/atomic_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <system_error>

#include "maintenance/maintenance_error.h"

#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

namespace ravelto::maintenance {
namespace {

constexpr std::size_t kPieceSize = std::size_t{1} << 20;

std::size_t WriteWithStdio(std::FILE* file, const char* data, std::size_t size) {
  return std::fwrite(data, 1, size, file);
}

// Pushes the C library's buffer and then the system's cache to the disk.
bool FlushToDisk(std::FILE* file) {
  if (std::fflush(file) != 0) return false;
#ifdef _WIN32
  return _commit(_fileno(file)) == 0;
#else
  return ::fsync(::fileno(file)) == 0;
#endif
}

void RemoveQuietly(const std::filesystem::path& path) {
  std::error_code ignored;
  std::filesystem::remove(path, ignored);
}

}  // namespace

std::filesystem::path TemporaryPathFor(const std::filesystem::path& target) {
  std::filesystem::path temporary = target;
  temporary += ".part";
  return temporary;
}

void WriteFileAtomically(const std::filesystem::path& target, std::string_view bytes) {
  WriteFileAtomically(target, bytes, WriteWithStdio);
}

void WriteFileAtomically(const std::filesystem::path& target, std::string_view bytes,
                         const ChunkWriter& writer) {
  const std::filesystem::path temporary = TemporaryPathFor(target);
  std::FILE* file = std::fopen(temporary.string().c_str(), "wb");
  if (file == nullptr) {
    const int error = errno;
    throw MaintenanceError("Cannot create file \"" + temporary.string() + "\". " +
                           std::strerror(error));
  }
  bool written = true;
  for (std::size_t offset = 0; written && offset < bytes.size(); offset += kPieceSize) {
    const std::size_t piece = std::min(kPieceSize, bytes.size() - offset);
    written = writer(file, bytes.data() + offset, piece) == piece;
  }
  written = written && FlushToDisk(file);
  if (std::fclose(file) != 0) written = false;
  if (!written) {
    RemoveQuietly(temporary);
    throw MaintenanceError("Stream write error");
  }
  std::error_code error;
  std::filesystem::rename(temporary, target, error);
  if (error) {
    RemoveQuietly(temporary);
    throw MaintenanceError("Cannot rename file \"" + temporary.string() + "\" to \"" +
                           target.string() + "\". " + error.message());
  }
}

}  // namespace ravelto::maintenance
