// The evaluator of compiled index expressions: reading field bytes, the
// supported functions and operators, and Windows-1251 case mapping.
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include "registry/index/cdx_expr_node.h"

namespace ravelto::registry {

namespace {

[[noreturn]] void Refuse(const std::string& why) { throw CdxError(why); }

CdxValue Number(double v) {
  CdxValue out;
  out.type = CdxType::Number;
  out.number = v;
  return out;
}
CdxValue Text(std::string s) {
  CdxValue out;
  out.type = CdxType::Char;
  out.text = std::move(s);
  return out;
}
CdxValue Logical(bool b) {
  CdxValue out;
  out.type = CdxType::Logical;
  out.logical = b;
  return out;
}

double AsDouble(const CdxValue& v) { return v.type == CdxType::Integer ? static_cast<double>(v.integer) : v.number; }

// A numeric field's text: blanks around an optional sign and digits; all
// blanks read as zero, anything else (such as asterisks) is refused.
CdxValue ReadNumberText(const CdxField& f, const std::string& raw) {
  std::size_t b = raw.find_first_not_of(' ');
  std::size_t e = raw.find_last_not_of(' ');
  if (b == std::string::npos) return Number(0);
  std::string t = raw.substr(b, e - b + 1);
  const char* first = t.data();
  if (*first == '+') ++first;
  double d = 0;
  auto r = std::from_chars(first, t.data() + t.size(), d);
  if (r.ec != std::errc() || r.ptr != t.data() + t.size()) {
    Refuse("field " + f.name + " holds '" + raw + "', which is not a number");
  }
  return Number(d);
}

// A date field: all blanks is the empty date, else eight digits YYYYMMDD of
// a real calendar day.
CdxValue ReadDate(const CdxField& f, const std::string& raw) {
  CdxValue v;
  v.type = CdxType::Date;
  if (raw.find_first_not_of(' ') == std::string::npos) return v;
  int y = 0, m = 0, d = 0;
  bool digits = raw.size() == 8;
  for (char c : raw) digits = digits && c >= '0' && c <= '9';
  std::optional<int64_t> jdn;
  if (digits) {
    y = std::stoi(raw.substr(0, 4));
    m = std::stoi(raw.substr(4, 2));
    d = std::stoi(raw.substr(6, 2));
    jdn = JulianDay(y, m, d);
  }
  if (!jdn) Refuse("field " + f.name + " holds '" + raw + "', which is not a date");
  v.integer = *jdn;
  return v;
}

CdxValue ReadField(const CdxField& f, std::span<const uint8_t> rec) {
  if (f.offset + f.length > rec.size()) Refuse("the record is shorter than field " + f.name);
  const uint8_t* p = rec.data() + f.offset;
  std::string raw(reinterpret_cast<const char*>(p), f.length);
  CdxValue v;
  switch (f.type) {
    case 'C': return Text(std::move(raw));
    case 'N': case 'F': return ReadNumberText(f, raw);
    case 'B': {
      if (f.length != 8) Refuse("field " + f.name + " has an unexpected width");
      uint64_t bits = 0;
      for (int i = 0; i < 8; ++i) bits |= static_cast<uint64_t>(p[i]) << (8 * i);
      double d;
      std::memcpy(&d, &bits, 8);
      if (!std::isfinite(d)) Refuse("field " + f.name + " holds a value that is not a finite number");
      return Number(d);
    }
    case 'I':
      if (f.length != 4) Refuse("field " + f.name + " has an unexpected width");
      v.type = CdxType::Integer;
      v.integer = static_cast<int32_t>(cdx::GetLe32(p));
      return v;
    case 'Y': {
      if (f.length != 8) Refuse("field " + f.name + " has an unexpected width");
      uint64_t bits = 0;
      for (int i = 0; i < 8; ++i) bits |= static_cast<uint64_t>(p[i]) << (8 * i);
      v.type = CdxType::Currency;
      v.number = static_cast<double>(static_cast<int64_t>(bits)) / 10000.0;
      return v;
    }
    case 'D': return ReadDate(f, raw);
    case 'T': {
      if (f.length != 8) Refuse("field " + f.name + " has an unexpected width");
      v.type = CdxType::DateTime;
      v.integer = static_cast<int32_t>(cdx::GetLe32(p));
      v.ms = static_cast<int32_t>(cdx::GetLe32(p + 4));
      if (v.integer < 0 || v.ms < 0 || v.ms >= 86400000) Refuse("field " + f.name + " holds an impossible date-time");
      return v;
    }
    case 'L': return Logical(raw[0] == 'T' || raw[0] == 't' || raw[0] == 'Y' || raw[0] == 'y');
    default: Refuse("field " + f.name + " cannot be read for a key");
  }
}

std::string FormatStr(double value, int len, int dec) {
  if (!std::isfinite(value) || std::fabs(value) >= 1e15) Refuse("STR() of a value this large is not reproduced");
  double scale = std::pow(10.0, dec);
  double scaled = std::round(value * scale);  // half away from zero
  if (scaled == 0 && value < 0) Refuse("STR() of a negative value that rounds to zero is not reproduced");
  bool negative = scaled < 0;
  std::string digits = std::to_string(static_cast<long long>(std::fabs(scaled)));
  if (dec > 0) {
    if (digits.size() <= static_cast<std::size_t>(dec)) digits.insert(0, static_cast<std::size_t>(dec) + 1 - digits.size(), '0');
    digits.insert(digits.size() - static_cast<std::size_t>(dec), 1, '.');
  }
  if (negative) digits = '-' + digits;  // not insert(): MinGW's GCC 12 warns falsely (-Wrestrict) there
  if (digits.size() > static_cast<std::size_t>(len)) Refuse("STR() of a value that does not fit its length is not reproduced");
  return std::string(static_cast<std::size_t>(len) - digits.size(), ' ') + digits;
}

std::string DateDigits(int64_t jdn) {
  if (jdn == 0) return std::string(8, ' ');
  int y, m, d;
  CivilFromJulian(jdn, y, m, d);
  if (y < 1 || y > 9999) Refuse("a date outside years 1 to 9999 has no key");
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", y, m, d);
  return buf;
}

bool IsBlankish(char c) { return c == ' '; }

void CheckTrimmable(const std::string& s) {
  for (char c : {s.empty() ? ' ' : s.front(), s.empty() ? ' ' : s.back()}) {
    if (c == '\t' || c == '\0' || c == '\r' || c == '\n') {
      Refuse("trimming text that begins or ends with a control character is not reproduced");
    }
  }
}

// UPPER(), LOWER() and the trims applied to their evaluated argument.
CdxValue EvalCaseOrTrim(const CdxExprNode& n, CdxValue v) {
  if (n.op == Op::Upper || n.op == Op::Lower) {
    for (char& c : v.text) c = n.op == Op::Upper ? UpperCp1251(c) : LowerCp1251(c);
    return v;
  }
  CheckTrimmable(v.text);
  std::string& s = v.text;
  if (n.op != Op::LTrim) while (!s.empty() && IsBlankish(s.back())) s.pop_back();
  if (n.op != Op::RTrim) {
    std::size_t b = 0;
    while (b < s.size() && IsBlankish(s[b])) ++b;
    s.erase(0, b);
  }
  return v;
}

// DTOS() and TTOC(t, 1) of an evaluated date or date-time.
CdxValue EvalDateText(const CdxExprNode& n, const CdxValue& v) {
  if (n.op == Op::Dtos) {
    if (v.type == CdxType::DateTime && v.integer == 0 && v.ms == 0) return Text(std::string(8, ' '));
    return Text(DateDigits(v.integer));
  }
  if (v.integer == 0) Refuse("TTOC() of an empty date-time is not reproduced");
  int64_t seconds = (v.ms + 500) / 1000;
  if (seconds >= 86400) Refuse("TTOC() of a time that rounds to midnight is not reproduced");
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d%02d%02d", static_cast<int>(seconds / 3600),
                static_cast<int>(seconds / 60 % 60), static_cast<int>(seconds % 60));
  return Text(DateDigits(v.integer) + buf);
}

// SUBSTR(), LEFT(), RIGHT(), PADL() and PADR() of an evaluated text.
CdxValue EvalPart(const CdxExprNode& n, const CdxValue& v) {
  switch (n.op) {
    case Op::Substr: {
      std::size_t start = static_cast<std::size_t>(n.ints[0]) - 1;
      if (start >= v.text.size()) return Text("");
      std::size_t len = n.ints[1] < 0 ? std::string::npos : static_cast<std::size_t>(n.ints[1]);
      return Text(v.text.substr(start, len));
    }
    case Op::Left: return Text(v.text.substr(0, static_cast<std::size_t>(n.ints[0])));
    case Op::Right: {
      std::size_t len = std::min(v.text.size(), static_cast<std::size_t>(n.ints[0]));
      return Text(v.text.substr(v.text.size() - len));
    }
    default: {  // PADL(), PADR()
      std::size_t len = static_cast<std::size_t>(n.ints[0]);
      if (v.text.size() > len) Refuse("PADL()/PADR() of a longer text is not reproduced");
      std::string fill(len - v.text.size(), static_cast<char>(n.ints[1]));
      return Text(n.op == Op::Padl ? fill + v.text : v.text + fill);
    }
  }
}

// EMPTY() of an evaluated value that is not text.
CdxValue EvalEmpty(const CdxValue& v) {
  switch (v.type) {
    case CdxType::Logical: return Logical(!v.logical);
    case CdxType::Date: return Logical(v.integer == 0);
    case CdxType::DateTime: return Logical(v.integer == 0 && v.ms == 0);
    default: return Logical(AsDouble(v) == 0);
  }
}

// A comparison of two evaluated values of one kind: logicals (equal or
// not), dates and date-times (day, then time of day), or numbers.
CdxValue EvalComparison(const CdxExprNode& n, const CdxValue& a, const CdxValue& b) {
  int c = 0;
  if (a.type == CdxType::Logical) {
    c = a.logical == b.logical ? 0 : 1;
  } else if (a.type == CdxType::Date || a.type == CdxType::DateTime) {
    c = a.integer != b.integer ? (a.integer < b.integer ? -1 : 1) : (a.ms != b.ms ? (a.ms < b.ms ? -1 : 1) : 0);
  } else {
    double x = AsDouble(a), y = AsDouble(b);
    c = x < y ? -1 : (x > y ? 1 : 0);
  }
  switch (n.op) {
    case Op::Eq: return Logical(c == 0);
    case Op::Ne: return Logical(c != 0);
    case Op::Lt: return Logical(c < 0);
    case Op::Le: return Logical(c <= 0);
    case Op::Gt: return Logical(c > 0);
    default: return Logical(c >= 0);
  }
}

CdxValue Eval(const CdxExprNode& n, std::span<const uint8_t> rec, const CdxLayout& layout) {
  auto arg = [&](std::size_t i) { return Eval(*n.args[i], rec, layout); };
  switch (n.op) {
    case Op::Literal: return n.literal;
    case Op::Field: {
      if (layout.IsNull(*n.field, rec)) {
        CdxValue v;
        v.type = n.type;
        v.null = true;
        return v;
      }
      return ReadField(*n.field, rec);
    }
    case Op::Deleted: return Logical(!rec.empty() && rec[0] == '*');
    case Op::Upper: case Op::Lower: case Op::AllTrim: case Op::LTrim: case Op::RTrim:
      return EvalCaseOrTrim(n, arg(0));
    case Op::Str: return Text(FormatStr(AsDouble(arg(0)), n.ints[0], n.ints[1]));
    case Op::Dtos: case Op::Ttoc: return EvalDateText(n, arg(0));
    case Op::Substr: case Op::Left: case Op::Right: case Op::Padl: case Op::Padr:
      return EvalPart(n, arg(0));
    case Op::Iif: return arg(0).logical ? arg(1) : arg(2);
    case Op::Empty: return EvalEmpty(arg(0));
    case Op::Concat: return Text(arg(0).text + arg(1).text);
    case Op::Add: return Number(AsDouble(arg(0)) + AsDouble(arg(1)));
    case Op::Sub: return Number(AsDouble(arg(0)) - AsDouble(arg(1)));
    case Op::Mul: return Number(AsDouble(arg(0)) * AsDouble(arg(1)));
    case Op::Div: {
      double d = AsDouble(arg(1));
      if (d == 0) Refuse("division by zero has no key");
      return Number(AsDouble(arg(0)) / d);
    }
    case Op::Neg: return Number(-AsDouble(arg(0)));
    case Op::Not: return Logical(!arg(0).logical);
    case Op::And: return Logical(arg(0).logical && arg(1).logical);
    case Op::Or: return Logical(arg(0).logical || arg(1).logical);
    default: break;
  }
  // Comparisons.
  CdxValue a = arg(0), b = arg(1);
  return EvalComparison(n, a, b);
}

}  // namespace

char UpperCp1251(char c) {
  auto u = static_cast<uint8_t>(c);
  if (u >= 'a' && u <= 'z') return static_cast<char>(u - 32);
  if (u >= 0xE0) return static_cast<char>(u - 32);
  if (u == 0xB8) return static_cast<char>(0xA8);
  return c;
}

char LowerCp1251(char c) {
  auto u = static_cast<uint8_t>(c);
  if (u >= 'A' && u <= 'Z') return static_cast<char>(u + 32);
  if (u >= 0xC0 && u <= 0xDF) return static_cast<char>(u + 32);
  if (u == 0xA8) return static_cast<char>(0xB8);
  return c;
}

CdxValue EvalCdxExpression(const CdxExprNode& node, std::span<const uint8_t> record, const CdxLayout& layout) {
  return Eval(node, record, layout);
}

}  // namespace ravelto::registry
