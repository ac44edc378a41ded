#include "maintenance/self_update.h"

#include <exception>
#include <string_view>

#include "maintenance/atomic_file.h"
#include "maintenance/update_scripts.h"
#include "maintenance/version_check.h"

namespace ravelto::maintenance {

UpdateCheck CheckForUpdate(const TextFetch& fetch, const std::string& url) {
  std::optional<int> latest;
  try {
    latest = ReadLatestVersion(fetch(url));
  } catch (const std::exception&) {
    return UpdateCheck::kUnreadable;
  }
  if (!latest) return UpdateCheck::kUnreadable;
  return IsNewerThanProgram(*latest) ? UpdateCheck::kAvailable : UpdateCheck::kNoUpdate;
}

DownloadVerdict DownloadUpdate(const BufferFetch& fetch, const std::string& url,
                               const std::filesystem::path& folder, HostKind host) {
  std::vector<char> buffer;
  fetch(url, buffer);
  const DownloadVerdict verdict = JudgeDownload(buffer.size(), url);
  if (verdict != DownloadVerdict::kAccepted) return verdict;
  WriteFileAtomically(folder / kNewProgramFileName, std::string_view(buffer.data(), buffer.size()));
  std::vector<char>().swap(buffer);  // release the download before writing the scripts
  WriteFileAtomically(folder / kUpdateBatchFileName, UpdateBatchScript());
  if (host == HostKind::kPosix) {
    WriteFileAtomically(folder / kUpdateShellFileName, UpdateShellScript());
  }
  return verdict;
}

}  // namespace ravelto::maintenance
