#include "app/desk/card_text.h"

#include <cmath>

#include "app/desk/cp1251_literal.h"

namespace ravelto::desk {

namespace {
bool IsTrimmed(char c) { return static_cast<unsigned char>(c) <= 32; }

std::string_view SlotAt(std::span<const std::string> slots, size_t i) {
  return i < slots.size() ? std::string_view(slots[i]) : std::string_view();
}
}  // namespace

std::string TrimText(std::string_view text) {
  size_t begin = 0;
  size_t end = text.size();
  while (begin < end && IsTrimmed(text[begin])) ++begin;
  while (end > begin && IsTrimmed(text[end - 1])) --end;
  return std::string(text.substr(begin, end - begin));
}

std::string JoinTrimmed(std::span<const std::string> parts) {
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i > 0) out += ' ';
    out += TrimText(parts[i]);
  }
  return out;
}

int AgeYears(double birthDate, double today) {
  return static_cast<int>(std::trunc(std::fabs(today - birthDate) / 365.25));
}

std::string AgeText(int years) {
  static const std::string kUnderOne = Cp1251("до 1 года");
  static const std::string kGod = Cp1251(" год");
  static const std::string kGoda = Cp1251(" года");
  static const std::string kLet = Cp1251(" лет");
  if (years == 0) return kUnderOne;
  const std::string number = std::to_string(years);
  if (years >= 11 && years <= 19) return number + kLet;
  switch (years % 10) {
    case 1: return number + kGod;
    case 2:
    case 3:
    case 4: return number + kGoda;
    default: return number + kLet;
  }
}

std::optional<std::string> StatusLine(std::span<const std::string> slots) {
  static const std::string kAccepted = Cp1251("Принят. Врач:");
  static const std::string kTime = Cp1251(" Время:");
  static const std::string kRejected = Cp1251("Отказ. Причина: ");
  const std::string_view status = SlotAt(slots, 1);
  if (status == "1") {
    return kAccepted + std::string(SlotAt(slots, 9)) + kTime + std::string(SlotAt(slots, 8));
  }
  if (status == "2") return kRejected + std::string(SlotAt(slots, 7));
  return std::nullopt;
}

std::string DoctorEntry(std::string_view name, std::string_view codeText) {
  return TrimText(name) + "(" + std::string(codeText) + ")";
}

std::string DoctorCode(std::string_view comboText) {
  const size_t open = comboText.find('(');
  const size_t close = comboText.find(')');
  const long p = open == std::string_view::npos ? 0 : static_cast<long>(open) + 1;
  const long q = close == std::string_view::npos ? 0 : static_cast<long>(close) + 1;
  if (p == 0 || p == 1) return "0";
  const long count = q - p - 1;
  if (count <= 0) return "";
  return std::string(comboText.substr(static_cast<size_t>(p), static_cast<size_t>(count)));
}

std::string SpacesToUnderscores(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c == ' ') c = '_';
  }
  return out;
}

bool IsWholeNumber(std::string_view text) {
  if (!text.empty() && (text.front() == '+' || text.front() == '-')) text.remove_prefix(1);
  if (text.empty()) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

}  // namespace ravelto::desk
