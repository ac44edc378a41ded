#pragma once
// Exact decimal numbers as text: the form numeric fields store ("  -12.50")
// and SQL number literals take.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace ravelto::registry {

struct DecimalText {
  bool negative = false;
  std::string integer;   // digits, no leading zeros ("0" for zero)
  std::string fraction;  // digits after the point, trailing zeros kept
};

// Parses [blanks][+|-]digits[.digits][blanks] (at least one digit); blank
// text is nullopt, as is anything else.
std::optional<DecimalText> ParseDecimalText(std::string_view text);

// The value scaled by 10^scale, rounded half away from zero; nullopt when
// it does not fit in 64 bits.
std::optional<std::int64_t> ScaledValue(const DecimalText& d, int scale);

// The value with exactly `decimals` digits after the point (rounded half
// away from zero), right-aligned in `width` characters; nullopt when it does
// not fit.
std::optional<std::string> FormatFixed(const DecimalText& d, int width, int decimals);

// The canonical text of a double (enough digits to read back the same value).
DecimalText DecimalFromDouble(double value);

// Reads a number in C notation ([blanks][+|-]digits[.digits][e[+|-]digits])
// whatever the process's locale; 0 when the text holds none.
double ParseDouble(std::string_view text);

}  // namespace ravelto::registry
