#pragma once
// The request service protocol: every URL the desk builds for the request
// service, the file service and the administration site, and the readers of
// the list and item answers. URLs are plain concatenations of fixed pieces
// and raw values (Windows-1251 bytes); nothing is percent-encoded or escaped.

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace ravelto::service {

// The program's version number, sent with every list poll.
inline constexpr int ProgramVersion = 21;

// Plain "http://host[:port]" base addresses, fixed at build time from the
// CMake cache variables REQUEST_SERVICE_BASE, FILE_SERVICE_BASE and
// ADMIN_SITE_BASE. No path, no trailing slash.
extern const std::string_view RequestServiceBase;
extern const std::string_view FileServiceBase;
extern const std::string_view AdminSiteBase;

// Request service. clientCode and password are the settings' raw texts.
std::string LoginUrl(std::string_view clientCode, std::string_view password);
std::string PingUrl();
std::string ListUrl(std::string_view clientCode, std::string_view password);
std::string ItemUrl(std::string_view clientCode, std::string_view password,
                    std::string_view requestId);
// reason, timeSlot and doctor arrive with spaces already replaced by "_".
std::string RejectUrl(std::string_view clientCode, std::string_view password,
                      std::string_view requestId, std::string_view reason);
std::string AcceptUrl(std::string_view clientCode, std::string_view password,
                      std::string_view requestId, std::string_view timeSlot,
                      std::string_view doctor);

// Administration site: opened in the browser, never fetched.
std::string AdminPageUrl(std::string_view clientCode, std::string_view password);

// File service. cacheNumber (0..999999) is drawn by the caller so that no
// cache between the desk and the service answers with an old copy.
std::string LatestVersionUrl();
std::string NewProgramUrl(int cacheNumber);
std::string DriverInstallerUrl(int cacheNumber);

inline constexpr std::size_t FieldCount = 20;
using Fields = std::array<std::string, FieldCount>;

// Splits text at sep into 20 slots. Slot i receives the text between
// separator i-1 and separator i; unused slots stay empty. On return text
// holds what followed the last separator (the whole text when there is none).
// A text with more than 19 separators never writes past slot 19: slot 19
// keeps the whole rest of the text, separators included.
Fields SplitFields(std::string& text, char sep);

// The request list: records ended by "#", each "id,status[,...]". Status
// exactly "0" lists the id as new, anything else as processed. Text after the
// last "#" is ignored. Both vectors keep the answer's order.
struct ListAnswer {
  std::vector<std::string> newIds;
  std::vector<std::string> processedIds;
};
ListAnswer ReadListAnswer(std::string_view body);

// One request: the whole body split at "|".
Fields ReadItemAnswer(std::string_view body);

}  // namespace ravelto::service
