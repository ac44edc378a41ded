#pragma once
// What a downloaded file (the new program, the driver installer) must look
// like before anything of it is written to disk.
//
// A download of kSmallestRefusedSize bytes or less is taken for an error page
// or a broken transfer: the caller shows kDownloadTooSmallMessage and writes
// nothing. A download larger than kDownloadSizeCap is refused as well, with a
// MaintenanceError: no file of ours is that large, and holding more in memory
// could starve the workstation.

#include <cstddef>
#include <string>
#include <string_view>

namespace ravelto::maintenance {

inline constexpr std::size_t kSmallestRefusedSize = 100000;
inline constexpr std::size_t kDownloadSizeCap = std::size_t{512} << 20;  // 512 MiB

// "Ошибка загрузки файла!" in Windows-1251.
inline constexpr std::string_view kDownloadTooSmallMessage =
    "\xCE\xF8\xE8\xE1\xEA\xE0 \xE7\xE0\xE3\xF0\xF3\xE7\xEA\xE8 \xF4\xE0\xE9\xEB\xE0!";

enum class DownloadVerdict { kAccepted, kTooSmall };

// Judges a finished download of `size` bytes fetched from `url`.
// Returns kTooSmall for 100000 bytes or less, kAccepted above that.
// Throws MaintenanceError(DownloadTooLargeMessage(url)) above the cap.
DownloadVerdict JudgeDownload(std::size_t size, std::string_view url);

// "Загружаемый файл больше 512 МБ, загрузка прервана: <url>" (Windows-1251).
std::string DownloadTooLargeMessage(std::string_view url);

}  // namespace ravelto::maintenance
