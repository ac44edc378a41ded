#include "maintenance/download_rules.h"

#include "maintenance/maintenance_error.h"

namespace ravelto::maintenance {

std::string DownloadTooLargeMessage(std::string_view url) {
  // "Загружаемый файл больше 512 МБ, загрузка прервана: "
  std::string text =
      "\xC7\xE0\xE3\xF0\xF3\xE6\xE0\xE5\xEC\xFB\xE9 \xF4\xE0\xE9\xEB \xE1\xEE\xEB\xFC\xF8\xE5 512 "
      "\xCC\xC1, \xE7\xE0\xE3\xF0\xF3\xE7\xEA\xE0 \xEF\xF0\xE5\xF0\xE2\xE0\xED\xE0: ";
  text += url;
  return text;
}

DownloadVerdict JudgeDownload(std::size_t size, std::string_view url) {
  if (size > kDownloadSizeCap) throw MaintenanceError(DownloadTooLargeMessage(url));
  return size > kSmallestRefusedSize ? DownloadVerdict::kAccepted : DownloadVerdict::kTooSmall;
}

}  // namespace ravelto::maintenance
