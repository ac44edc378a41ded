// Windows-1251 <-> UTF-8 conversion and the small text escapes the request
// service needs. The service holds every text as Windows-1251 bytes (what the
// desk sends and expects); UTF-8 appears only in its web form and its state file.
#pragma once

#include <string>
#include <string_view>

namespace ravelto::reqsvc {

// Every byte maps to one code point; 0x98, which Windows-1251 leaves undefined,
// maps to U+0098 so that Cp1251ToUtf8 followed by Utf8ToCp1251 gives back the
// same bytes for any input.
std::string Cp1251ToUtf8(std::string_view cp1251);

// Code points without a Windows-1251 byte, and malformed UTF-8 sequences,
// become '?'.
std::string Utf8ToCp1251(std::string_view utf8);

// HTML text escaping of & < > " ' (byte-transparent for everything else).
std::string HtmlEscape(std::string_view text);

// Decodes %XX escapes and '+' (as space) of an application/x-www-form-urlencoded
// value; a '%' not followed by two hex digits is kept as it is.
std::string FormDecode(std::string_view text);

}  // namespace ravelto::reqsvc
