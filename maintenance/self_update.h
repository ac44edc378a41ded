#pragma once
// The self-update's steps below the window: reading the latest version,
// downloading the new program and writing the files that swap it in.
// The window asks the operator, shows the messages and starts the script.

#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "maintenance/download_rules.h"
#include "maintenance/launch_commands.h"

namespace ravelto::maintenance {

// Fetches a URL's body as text; throws on failure (the HTTP client's FetchText).
using TextFetch = std::function<std::string(const std::string& url)>;
// Fetches a URL's body into the (emptied) buffer; throws on failure
// (the HTTP client's FetchToBuffer).
using BufferFetch = std::function<void(const std::string& url, std::vector<char>& buffer)>;

enum class UpdateCheck {
  kUnreadable,  // the fetch failed or its text is not a whole number
  kNoUpdate,    // the latest version is not greater than this one
  kAvailable,   // a newer version exists
};

// Fetches the latest-version text from `url`. Never throws: a failed fetch
// is kUnreadable like a text that is not a whole number.
UpdateCheck CheckForUpdate(const TextFetch& fetch, const std::string& url);

// Downloads the new program from `url` and judges its size (download_rules.h).
// On kAccepted writes into `folder`, each file atomically and in this order:
// "raveltonew.exe" (the bytes as downloaded), "update.bat", and on a POSIX
// host "update.sh". On kTooSmall writes nothing.
// Throws what the fetch throws, MaintenanceError above the size cap (nothing
// written), and MaintenanceError when a file cannot be written (the files
// written before it stay).
DownloadVerdict DownloadUpdate(const BufferFetch& fetch, const std::string& url,
                               const std::filesystem::path& folder, HostKind host);

}  // namespace ravelto::maintenance
