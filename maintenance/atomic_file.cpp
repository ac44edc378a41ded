#include "maintenance/atomic_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>

#include "maintenance/maintenance_error.h"
#include "platform/files.h"

namespace ravelto::maintenance {
namespace {

constexpr std::size_t kPieceSize = std::size_t{1} << 20;

std::size_t WriteWithStdio(std::FILE* file, const char* data, std::size_t size) {
  return std::fwrite(data, 1, size, file);
}

// Pushes the C library's buffer and then the system's cache to the disk.
bool FlushToDisk(std::FILE* file) {
  return std::fflush(file) == 0 && platform::Flush(fileno(file));
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
  // The names in messages and in the rename are Windows-1251 text; the file
  // is opened by its native name, so no conversion stands between the caller's
  // path and the file.
  const std::string temporaryText = platform::PathText(temporary);
  const std::string targetText = platform::PathText(target);
  const platform::File descriptor = platform::Open(temporary, platform::OpenMode::kCreateOrEmpty);
  if (descriptor == platform::kNoFile) {
    throw MaintenanceError("Cannot create file \"" + temporaryText + "\". " + platform::LastErrorText());
  }
  std::FILE* file = fdopen(descriptor, "wb");
  if (file == nullptr) {
    const int error = errno;
    platform::Close(descriptor);
    platform::RemoveFile(temporaryText);
    throw MaintenanceError("Cannot create file \"" + temporaryText + "\". " + std::strerror(error));
  }
  bool written = true;
  for (std::size_t offset = 0; written && offset < bytes.size(); offset += kPieceSize) {
    const std::size_t piece = std::min(kPieceSize, bytes.size() - offset);
    written = writer(file, bytes.data() + offset, piece) == piece;
  }
  written = written && FlushToDisk(file);
  if (std::fclose(file) != 0) written = false;
  if (!written) {
    platform::RemoveFile(temporaryText);
    throw MaintenanceError("Stream write error");
  }
  if (!platform::ReplaceFile(temporaryText, targetText)) {
    const int error = platform::LastError();
    platform::RemoveFile(temporaryText);
    throw MaintenanceError("Cannot rename file \"" + temporaryText + "\" to \"" + targetText + "\". " +
                               platform::ErrorText(error),
                           MaintenanceFailure::kReplaceFailed, targetText);
  }
  // The new file is in place; making the rename durable is best effort.
  platform::FlushFolder(platform::PathText(target.parent_path()));
}

}  // namespace ravelto::maintenance
