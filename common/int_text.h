#pragma once
// The program's one rule for reading a whole number from text, used for the
// proxy port, registry values read as integers and the latest-version number.

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace ravelto {

// Reads a 32-bit signed decimal integer: optional leading blanks (0x20),
// an optional "+" or "-", one or more digits, and nothing after them.
// Returns nullopt for anything else, including the empty text and values
// outside the 32-bit range.
std::optional<int> ParseInt(std::string_view text);

// The failure raised when text that must be a whole number is not one.
// what() is "'<text>' is not a valid integer value".
class ConversionError : public std::runtime_error {
 public:
  explicit ConversionError(std::string_view text);
};

// ParseInt, raising ConversionError when the text is not a whole number.
int StrToInt(std::string_view text);

}  // namespace ravelto
