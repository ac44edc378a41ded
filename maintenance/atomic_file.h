#pragma once
// Writing a whole file so that a failure halfway never leaves a truncated
// copy behind. The bytes go to a temporary file beside the target
// ("<name>.part" in the same folder, so the rename stays on one file system),
// are flushed to the disk, and only then is the temporary file renamed over
// the target. A reader therefore sees either the old file (or none) or the
// complete new one — never a prefix that a later run would take for whole.

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string_view>

namespace ravelto::maintenance {

// Writes up to `size` bytes from `data` to `file`; returns how many it wrote.
// Fewer than `size` is a failed write.
using ChunkWriter = std::function<std::size_t(std::FILE* file, const char* data, std::size_t size)>;

// Replaces `target` by a file holding exactly `bytes`.
// On failure the target is left as it was, the temporary file is removed, and
// MaintenanceError is thrown with one of:
//   "Cannot create file "<temporary path>". <system reason>"
//   "Stream write error"                      (a short write or a failed flush)
//   "Cannot rename file "<temporary path>" to "<target>". <system reason>"
// (paths and reasons in Windows-1251, as the window shows them).
void WriteFileAtomically(const std::filesystem::path& target, std::string_view bytes);

// The same, with each piece written through `writer` (tests inject failures).
void WriteFileAtomically(const std::filesystem::path& target, std::string_view bytes,
                         const ChunkWriter& writer);

// The temporary name used for `target`.
std::filesystem::path TemporaryPathFor(const std::filesystem::path& target);

}  // namespace ravelto::maintenance
