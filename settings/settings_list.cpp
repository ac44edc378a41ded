#include "settings/settings_list.h"

#include <stdexcept>

namespace ravelto::settings {

namespace {

unsigned char FoldCase(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return static_cast<unsigned char>(c + ('a' - 'A'));
  if (c >= 0xC0 && c <= 0xDF) return static_cast<unsigned char>(c + 0x20);  // А..Я
  if (c == 0xA8) return 0xB8;                                              // Ё
  return c;
}

}  // namespace

bool NamesEqual(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldCase(static_cast<unsigned char>(a[i])) != FoldCase(static_cast<unsigned char>(b[i])))
      return false;
  }
  return true;
}

std::string LineKey(std::string_view line) {
  const auto eq = line.find('=');
  return eq == std::string_view::npos ? std::string() : std::string(line.substr(0, eq));
}

std::string LineValue(std::string_view line) {
  const auto eq = line.find('=');
  return eq == std::string_view::npos ? std::string(line) : std::string(line.substr(eq + 1));
}

void SettingsList::InsertLine(std::size_t i, std::string text) {
  if (i > lines_.size()) throw std::out_of_range("SettingsList::InsertLine");
  lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(i), std::move(text));
}

void SettingsList::RemoveLine(std::size_t i) {
  if (i >= lines_.size()) throw std::out_of_range("SettingsList::RemoveLine");
  lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(i));
}

void SettingsList::SetText(std::string_view bytes) {
  lines_.clear();
  const auto zero = bytes.find('\0');
  if (zero != std::string_view::npos) bytes = bytes.substr(0, zero);
  std::size_t start = 0;
  std::size_t i = 0;
  while (i < bytes.size()) {
    const char c = bytes[i];
    if (c == '\r' || c == '\n') {
      lines_.emplace_back(bytes.substr(start, i - start));
      if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
      start = ++i;
    } else {
      ++i;
    }
  }
  if (start < bytes.size()) lines_.emplace_back(bytes.substr(start));
}

std::string SettingsList::Text() const {
  std::string out;
  for (const auto& line : lines_) {
    out += line;
    out += "\r\n";
  }
  return out;
}

std::size_t SettingsList::IndexOfName(std::string_view name) const {
  for (std::size_t i = 0; i < lines_.size(); ++i) {
    const auto eq = lines_[i].find('=');
    if (eq == std::string::npos) continue;
    if (NamesEqual(std::string_view(lines_[i]).substr(0, eq), name)) return i;
  }
  return npos;
}

std::string SettingsList::Value(std::string_view name) const {
  const auto i = IndexOfName(name);
  return i == npos ? std::string() : LineValue(lines_[i]);
}

void SettingsList::Write(std::string_view name, std::string_view value) {
  const auto i = IndexOfName(name);
  if (value.empty()) {
    if (i != npos) RemoveLine(i);
    return;
  }
  std::string line(name);
  line += '=';
  line += value;
  if (i != npos) {
    lines_[i] = std::move(line);
  } else {
    lines_.push_back(std::move(line));
  }
}

}  // namespace ravelto::settings
