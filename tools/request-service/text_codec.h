// Windows-1251 <-> UTF-8 conversion and the small text escapes the request
// service needs. The service holds every text as Windows-1251 bytes (what the
// desk sends and expects); UTF-8 appears only in its web form and its state file.
#pragma once

#include "common/cp1251.h"

#include <string>
#include <string_view>

namespace ravelto::reqsvc {

// Windows-1251 <-> UTF-8 (0x98 <-> U+0098, so the round trip is exact;
// characters without a byte become '?').
using ravelto::Cp1251ToUtf8;
using ravelto::Utf8ToCp1251;

// HTML text escaping of & < > " ' (byte-transparent for everything else).
std::string HtmlEscape(std::string_view text);

// Decodes %XX escapes and '+' (as space) of an application/x-www-form-urlencoded
// value; a '%' not followed by two hex digits is kept as it is.
std::string FormDecode(std::string_view text);

}  // namespace ravelto::reqsvc
