#pragma once
// Reading and writing the settings file "config.ini".
//
// Loading never fails loudly: a missing or unreadable file leaves the list
// empty. Saving replaces the file safely: the content goes to a temporary
// file in the same folder, is flushed to disk, and is then renamed over the
// old file, so a crash or a full disk in the middle leaves the old file whole.

#include <cstddef>
#include <functional>
#include <stdexcept>
#include <string>

#include "settings/settings_list.h"

namespace ravelto::settings {

// The settings file's name; it lives in the process's working directory.
inline constexpr const char* kSettingsFileName = "config.ini";

// A failed save. what() is the exact message for the operator:
//   "Cannot create file "<full path>". <system reason>"  (cannot create/replace)
//   "Stream write error"                                  (writing the content failed)
class SaveError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Writes up to `size` bytes to the open descriptor (a platform::File, a C
// runtime descriptor on every system); returns the count written or -1 with
// errno set, like POSIX write(). Replaceable so tests can simulate a full disk.
using WriteFunction = std::function<long(int fd, const char* data, std::size_t size)>;

// Replaces the list with the file's lines. Returns false (list left empty)
// when the file cannot be opened or read. `path` is Windows-1251 bytes.
bool LoadSettings(SettingsList& list, const std::string& path = kSettingsFileName);

// Writes the list (each line + CR LF) to `path`, replacing it atomically.
// Throws SaveError; on failure the old file is unchanged and no temporary
// file is left behind. By default the bytes go out through the platform
// layer's positioned writes.
void SaveSettings(const SettingsList& list, const std::string& path = kSettingsFileName,
                  const WriteFunction& write = {});

// The absolute form of `path` as shown in messages (relative paths are taken
// against the working directory; no symlink resolution), Windows-1251 bytes.
std::string FullPath(const std::string& path);

}  // namespace ravelto::settings
