#include "registry/table/decimal_text.h"

#include <charconv>

#include <cstdio>

namespace ravelto::registry {

std::optional<DecimalText> ParseDecimalText(std::string_view t) {
  std::size_t i = 0, e = t.size();
  while (i < e && t[i] == ' ') ++i;
  while (e > i && t[e - 1] == ' ') --e;
  if (i == e) return std::nullopt;
  DecimalText d;
  if (t[i] == '-' || t[i] == '+') {
    d.negative = t[i] == '-';
    ++i;
  }
  const std::size_t intStart = i;
  while (i < e && t[i] >= '0' && t[i] <= '9') ++i;
  std::size_t intEnd = i, fracStart = i, fracEnd = i;
  if (i < e && t[i] == '.') {
    fracStart = ++i;
    while (i < e && t[i] >= '0' && t[i] <= '9') ++i;
    fracEnd = i;
  }
  if ((intEnd == intStart && fracEnd == fracStart) || i != e) return std::nullopt;
  std::size_t firstDigit = intStart;
  while (firstDigit + 1 < intEnd && t[firstDigit] == '0') ++firstDigit;
  d.integer = intEnd > intStart ? std::string(t.substr(firstDigit, intEnd - firstDigit)) : std::string("0");
  d.fraction = std::string(t.substr(fracStart, fracEnd - fracStart));
  return d;
}

namespace {

// Adds one unit in the last place of a digit string; false on carry out.
bool Increment(std::string& digits) {
  for (std::size_t i = digits.size(); i-- > 0;) {
    if (digits[i] != '9') {
      ++digits[i];
      return true;
    }
    digits[i] = '0';
  }
  return false;
}

// Integer and fraction digits rounded to `decimals` places.
void Round(const DecimalText& d, int decimals, std::string& integer, std::string& fraction) {
  integer = d.integer;
  fraction = d.fraction;
  const std::size_t keep = static_cast<std::size_t>(decimals);
  bool roundUp = fraction.size() > keep && fraction[keep] >= '5';
  if (fraction.size() > keep) fraction.resize(keep);
  while (fraction.size() < keep) fraction += '0';
  if (roundUp) {
    if (!Increment(fraction)) {
      if (!Increment(integer)) integer = "1" + integer;
    }
  }
}

bool IsZero(const std::string& integer, const std::string& fraction) {
  return integer.find_first_not_of('0') == std::string::npos &&
         fraction.find_first_not_of('0') == std::string::npos;
}

}  // namespace

std::optional<std::int64_t> ScaledValue(const DecimalText& d, int scale) {
  std::string integer, fraction;
  Round(d, scale, integer, fraction);
  const std::string digits = integer + fraction;
  if (digits.size() > 18 && digits.find_first_not_of('0') < digits.size() - 18) return std::nullopt;
  std::int64_t v = 0;
  for (char c : digits) v = v * 10 + (c - '0');
  return d.negative ? -v : v;
}

std::optional<std::string> FormatFixed(const DecimalText& d, int width, int decimals) {
  std::string integer, fraction;
  Round(d, decimals, integer, fraction);
  std::string text;
  if (d.negative && !IsZero(integer, fraction)) text += '-';
  text += integer;
  if (decimals > 0) {
    text += '.';
    text += fraction;
  }
  if (text.size() > static_cast<std::size_t>(width)) {
    // A value below 1 may drop its leading zero to fit ("-.5" in N(3,1)).
    if (integer == "0" && text.size() == static_cast<std::size_t>(width) + 1 && decimals > 0) {
      const std::size_t zero = text.find('0');
      text.erase(zero, 1);
    } else {
      return std::nullopt;
    }
  }
  return std::string(static_cast<std::size_t>(width) - text.size(), ' ') + text;
}

DecimalText DecimalFromDouble(double value) {
  // std::to_chars gives the shortest text that reads back the same value and
  // never depends on the C locale's decimal point (the desk runs under the
  // operator's locale, where it may be a comma).
  char buf[512];
  auto r = std::to_chars(buf, buf + sizeof buf, value);
  std::string s(buf, r.ptr);
  if (s.find_first_of("eE") != std::string::npos) {
    r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
    s.assign(buf, r.ptr);
  }
  auto parsed = ParseDecimalText(s);
  return parsed ? *parsed : DecimalText{};
}

double ParseDouble(std::string_view text) {
  while (!text.empty() && text.front() == ' ') text.remove_prefix(1);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  double value = 0;
  std::from_chars(text.data(), text.data() + text.size(), value);
  return value;
}

}  // namespace ravelto::registry
