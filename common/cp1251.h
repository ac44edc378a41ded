#pragma once
// Windows-1251 <-> Unicode for the Qt-free code: one table of the 128 upper
// bytes, both directions derived from it.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace ravelto {

// Code point of a Windows-1251 byte. 0x98, which the code page leaves
// undefined, gives U+0098 so that every byte has one code point.
char32_t Cp1251CodePoint(unsigned char byte);

// Windows-1251 byte of a code point, or nullopt when it has none.
// U+0098 gives 0x98 (the inverse of the above).
std::optional<unsigned char> Cp1251Byte(char32_t cp);

// Every byte becomes its code point in UTF-8, so Utf8ToCp1251 gives back the
// same bytes for any input.
std::string Cp1251ToUtf8(std::string_view cp1251);

// The first UTF-8 sequence of a non-empty text: its code point and length in
// bytes, or why it is not one (a byte that cannot start a sequence, a
// sequence cut by the end of the text, a byte that cannot continue it).
struct Utf8Step {
  enum class Status { kOk, kBadLead, kTruncated, kBadContinuation };
  Status status = Status::kOk;
  char32_t cp = 0;
  std::size_t length = 1;
};
Utf8Step NextUtf8(std::string_view text);

// Code points without a Windows-1251 byte, and each byte of a malformed
// UTF-8 sequence, become '?'.
std::string Utf8ToCp1251(std::string_view utf8);

}  // namespace ravelto
