#pragma once
// The driver installer's steps below the window: reusing or downloading the
// package "odbc.msi". The window starts the installer (launch_commands.h)
// and shows its message.

#include <filesystem>
#include <string>

#include "maintenance/self_update.h"

namespace ravelto::maintenance {

enum class DriverPackage {
  kReused,      // "odbc.msi" was there already; nothing was fetched
  kDownloaded,  // downloaded and written
  kTooSmall,    // downloaded 100000 bytes or less; nothing written
};

// An existing "odbc.msi" in `folder` (whatever its contents) is used again
// without any network access. Otherwise downloads it from `url`, judges the
// size (download_rules.h) and writes it atomically.
// Throws what the fetch throws, MaintenanceError above the size cap and when
// the file cannot be written; nothing is written then.
DriverPackage PrepareDriverPackage(const BufferFetch& fetch, const std::string& url,
                                   const std::filesystem::path& folder);

}  // namespace ravelto::maintenance
