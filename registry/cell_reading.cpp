#include "registry/cell_reading.h"

#include <charconv>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "common/int_text.h"
#include "registry/table/byte_codec.h"

namespace ravelto::registry {

namespace {

[[noreturn]] void AccessError(const ResultColumn& column, ValueKind asked) {
  throw DatabaseError("Cannot access field '" + column.name + "' as type " + AskedTypeName(asked));
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

void AppendNumber(std::string& out, std::int64_t v, int width) {
  std::string digits = std::to_string(v < 0 ? -v : v);
  if (v < 0) out += '-';
  for (int i = static_cast<int>(digits.size()); i < width; ++i) out += '0';
  out += digits;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads the numbers of `text` (runs of digits separated by anything else).
std::vector<long> Numbers(std::string_view text, bool* ok) {
  std::vector<long> out;
  size_t i = 0;
  *ok = true;
  while (i < text.size()) {
    if (!IsDigit(text[i])) {
      ++i;
      continue;
    }
    long v = 0;
    size_t n = 0;
    while (i < text.size() && IsDigit(text[i])) {
      if (++n > 6) *ok = false;
      v = v * 10 + (text[i] - '0');
      if (v > 999999) v = 999999;
      ++i;
    }
    out.push_back(v);
  }
  return out;
}

// Order of day, month and year in a short date pattern, e.g. "dMy".
std::string DateOrder(std::string_view pattern) {
  std::string order;
  for (char c : pattern) {
    const char k = (c == 'd' || c == 'M' || c == 'y') ? c : 0;
    if (k && order.find(k) == std::string::npos) order += k;
  }
  if (order.size() != 3) order = "dMy";
  return order;
}

bool OnlyDateCharacters(std::string_view s, char separator) {
  for (char c : s)
    if (!IsDigit(c) && c != separator && c != '.' && c != '/' && c != '-') return false;
  return true;
}

}  // namespace

std::string FormatDateTimePattern(std::string_view pattern, std::int64_t ms) {
  const std::int64_t days = FloorDiv(ms, kMsPerDay);
  const std::int64_t msOfDay = ms - days * kMsPerDay;
  const CivilDate date = CivilFromDays(days + kEpoch1899);
  const std::int64_t secs = msOfDay / 1000;
  const std::int64_t hour = secs / 3600, minute = secs / 60 % 60, second = secs % 60;
  std::string out;
  size_t i = 0;
  while (i < pattern.size()) {
    const char c = pattern[i];
    if (c == '\'') {  // quoted literal text
      const size_t end = pattern.find('\'', i + 1);
      out.append(pattern.substr(i + 1, end == std::string_view::npos ? std::string_view::npos
                                                                      : end - i - 1));
      i = end == std::string_view::npos ? pattern.size() : end + 1;
      continue;
    }
    size_t run = 1;
    while (i + run < pattern.size() && pattern[i + run] == c) ++run;
    size_t used = run;
    switch (c) {
      case 'd': used = std::min<size_t>(run, 2); AppendNumber(out, date.day, static_cast<int>(used)); break;
      case 'M': used = std::min<size_t>(run, 2); AppendNumber(out, date.month, static_cast<int>(used)); break;
      case 'h': case 'H': used = std::min<size_t>(run, 2); AppendNumber(out, hour, static_cast<int>(used)); break;
      case 'm': used = std::min<size_t>(run, 2); AppendNumber(out, minute, static_cast<int>(used)); break;
      case 's': used = std::min<size_t>(run, 2); AppendNumber(out, second, static_cast<int>(used)); break;
      case 'y':
        if (run >= 4) {
          used = 4;
          AppendNumber(out, date.year, 4);
        } else if (run >= 2) {
          used = 2;
          AppendNumber(out, ((date.year % 100) + 100) % 100, 2);
        } else {
          out += c;
        }
        break;
      default: out.append(run, c); break;
    }
    i += used;
  }
  return out;
}

std::string FormatDecimal(std::int64_t scaled, char separator) {
  const bool negative = scaled < 0;
  const std::uint64_t mag = negative ? 0 - static_cast<std::uint64_t>(scaled)
                                     : static_cast<std::uint64_t>(scaled);
  std::string out = negative ? "-" : "";
  out += std::to_string(mag / 10000);
  std::uint64_t frac = mag % 10000;
  if (frac != 0) {
    std::string f = std::to_string(frac);
    f.insert(0, 4 - f.size(), '0');
    while (!f.empty() && f.back() == '0') f.pop_back();
    out += separator;
    out += f;
  }
  return out;
}

std::string FormatFloat(double value, char separator) {
  if (std::isnan(value)) return "NAN";
  if (std::isinf(value)) return value > 0 ? "INF" : "-INF";
  // General format, 15 significant digits, without the C locale's say in
  // the decimal point.
  char buf[64];
  const auto r = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::general, 15);
  std::string s(buf, r.ptr);
  for (char& c : s)
    if (c == 'e') c = 'E';
  // Exponent as E<sign?><digits> without leading zeros or "+".
  const size_t e = s.find('E');
  std::string mantissa = s.substr(0, e);
  std::string exponent;
  if (e != std::string::npos) {
    std::string ex = s.substr(e + 1);
    bool neg = !ex.empty() && ex[0] == '-';
    if (!ex.empty() && (ex[0] == '-' || ex[0] == '+')) ex.erase(0, 1);
    while (ex.size() > 1 && ex[0] == '0') ex.erase(0, 1);
    exponent = std::string("E") + (neg ? "-" : "") + ex;
  }
  for (char& c : mantissa)
    if (c == '.') c = separator;
  if (mantissa == "-0") mantissa = "0";
  return mantissa + exponent;
}

int RoundHalfEven(double value) {
  double r = std::nearbyint(value);  // default rounding mode: to nearest, ties to even
  if (std::fabs(r) < 9.2e18) {
    return static_cast<int>(static_cast<std::uint32_t>(static_cast<std::int64_t>(r)));
  }
  return 0;
}

std::string CellAsText(const Cell& cell, const ResultColumn& column, const RegionalFormats& formats) {
  if (cell.isNull) return {};
  switch (column.kind) {
    case ValueKind::Text: case ValueKind::Memo: case ValueKind::Binary: case ValueKind::Other:
      return cell.bytes;
    case ValueKind::Integer: case ValueKind::LargeInteger: return std::to_string(cell.integer);
    case ValueKind::Decimal: return FormatDecimal(cell.integer, formats.decimalSeparator);
    case ValueKind::Float: return FormatFloat(cell.real, formats.decimalSeparator);
    case ValueKind::Boolean: return cell.integer ? "True" : "False";
    case ValueKind::Date: return FormatDateTimePattern(formats.shortDate, cell.integer * kMsPerDay);
    case ValueKind::DateTime: {
      std::string text = FormatDateTimePattern(formats.shortDate, cell.integer);
      if (cell.integer - FloorDiv(cell.integer, kMsPerDay) * kMsPerDay != 0) {
        text += ' ';
        text += FormatDateTimePattern(formats.longTime, cell.integer);
      }
      return text;
    }
  }
  return cell.bytes;
}

int CellAsInteger(const Cell& cell, const ResultColumn& column) {
  switch (column.kind) {
    case ValueKind::Text: {
      const std::string text = cell.isNull ? std::string() : cell.bytes;
      if (auto v = ParseInt(text)) return *v;
      throw DatabaseError(ConversionError(text).what());
    }
    case ValueKind::Integer: case ValueKind::LargeInteger:
      return cell.isNull ? 0 : static_cast<int>(static_cast<std::uint32_t>(cell.integer));
    case ValueKind::Decimal: {
      if (cell.isNull) return 0;
      // Exact half-to-even rounding of the scaled value.
      std::int64_t q = cell.integer / 10000, r = cell.integer % 10000;
      if (r > 5000 || (r == 5000 && (q & 1))) ++q;
      if (r < -5000 || (r == -5000 && (q & 1))) --q;
      return static_cast<int>(static_cast<std::uint32_t>(q));
    }
    case ValueKind::Float: return cell.isNull ? 0 : RoundHalfEven(cell.real);
    default: AccessError(column, ValueKind::Integer);
  }
}

// Reads text in the regional date format, optionally followed by a blank and
// a time of day (hours, minutes, optional seconds).
static bool ParseRegionalDateTime(std::string_view text, const RegionalFormats& formats, double* out) {
  size_t b = 0, e = text.size();
  while (b < e && text[b] == ' ') ++b;
  while (e > b && text[e - 1] == ' ') --e;
  std::string_view s = text.substr(b, e - b);
  if (s.empty()) return false;
  const size_t space = s.find(' ');
  std::string_view datePart = s.substr(0, space);
  std::string_view timePart = space == std::string_view::npos ? std::string_view() : s.substr(space + 1);
  if (datePart.find(':') != std::string_view::npos) {  // a time alone
    timePart = s;
    datePart = {};
  }
  double value = 0;
  bool ok = true;
  if (!datePart.empty()) {
    if (!OnlyDateCharacters(datePart, formats.decimalSeparator)) return false;
    std::vector<long> n = Numbers(datePart, &ok);
    if (!ok || n.size() != 3) return false;
    const std::string order = DateOrder(formats.shortDate);
    long d = 0, m = 0, y = 0;
    for (size_t i = 0; i < 3; ++i) {
      if (order[i] == 'd') d = n[i];
      if (order[i] == 'M') m = n[i];
      if (order[i] == 'y') y = n[i];
    }
    if (y < 100) y += (y < 50) ? 2000 : 1900;
    if (!ValidCivil(y, static_cast<unsigned>(m), static_cast<unsigned>(d))) return false;
    value = static_cast<double>(DaysFromCivil(y, static_cast<unsigned>(m), static_cast<unsigned>(d)) - kEpoch1899);
  }
  if (!timePart.empty()) {
    for (char c : timePart)
      if (!IsDigit(c) && c != ':') return false;
    std::vector<long> n = Numbers(timePart, &ok);
    if (!ok || n.size() < 2 || n.size() > 3) return false;
    const long h = n[0], mi = n[1], se = n.size() == 3 ? n[2] : 0;
    if (h > 23 || mi > 59 || se > 59) return false;
    const double frac = (h * 3600 + mi * 60 + se) / 86400.0;
    value += value < 0 ? -frac : frac;
  }
  *out = value;
  return true;
}

double CellAsDateTime(const Cell& cell, const ResultColumn& column, const RegionalFormats& formats) {
  switch (column.kind) {
    case ValueKind::Text: {
      const std::string text = cell.isNull ? std::string() : cell.bytes;
      double v = 0;
      if (ParseRegionalDateTime(text, formats, &v)) return v;
      throw DatabaseError("'" + text + "' is not a valid date and time");
    }
    case ValueKind::Date: return cell.isNull ? 0.0 : static_cast<double>(cell.integer);
    case ValueKind::DateTime:
      return cell.isNull ? 0.0 : static_cast<double>(cell.integer) / static_cast<double>(kMsPerDay);
    default: AccessError(column, ValueKind::DateTime);
  }
}

}  // namespace ravelto::registry
