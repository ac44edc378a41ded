#include "maintenance/driver_installer.h"

#include <string_view>
#include <system_error>
#include <vector>

#include "maintenance/atomic_file.h"
#include "maintenance/download_rules.h"
#include "maintenance/update_scripts.h"

namespace ravelto::maintenance {

DriverPackage PrepareDriverPackage(const BufferFetch& fetch, const std::string& url,
                                   const std::filesystem::path& folder) {
  const std::filesystem::path package = folder / kDriverPackageFileName;
  std::error_code error;
  if (std::filesystem::exists(package, error)) return DriverPackage::kReused;
  std::vector<char> buffer;
  fetch(url, buffer);
  if (JudgeDownload(buffer.size(), url) != DownloadVerdict::kAccepted) return DriverPackage::kTooSmall;
  WriteFileAtomically(package, std::string_view(buffer.data(), buffer.size()));
  return DriverPackage::kDownloaded;
}

}  // namespace ravelto::maintenance
