#include "common/int_text.h"

#include <cstdint>

namespace ravelto {

std::optional<int> ParseInt(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && text[i] == ' ') ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (i == text.size()) return std::nullopt;
  std::int64_t value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
    if (value > std::int64_t{2147483648}) return std::nullopt;
  }
  if (negative) value = -value;
  if (value > 2147483647 || value < -2147483648LL) return std::nullopt;
  return static_cast<int>(value);
}

namespace {
std::string ConversionMessage(std::string_view text) {
  std::string message;
  message.reserve(text.size() + 32);
  message.push_back('\'');
  message.append(text);
  message.append("' is not a valid integer value");
  return message;
}
}  // namespace

ConversionError::ConversionError(std::string_view text) : std::runtime_error(ConversionMessage(text)) {}

int StrToInt(std::string_view text) {
  if (auto v = ParseInt(text)) return *v;
  throw ConversionError(text);
}

}  // namespace ravelto
