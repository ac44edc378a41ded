#pragma once
// SettingsList: the program's only store of settings, an ordered list of
// text lines (Windows-1251 bytes) of the form name=value. Lines need not be
// settings: blank lines, lines without "=", unknown names and repeated names
// keep their places.
//
// A line's name is the text before its first "=", its value the text after
// it (further "=" belong to the value). Nothing is trimmed. A line without
// "=" has no name and never matches a lookup.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace ravelto::settings {

class SettingsList {
 public:
  // --- the lines -----------------------------------------------------------
  std::size_t Count() const { return lines_.size(); }
  const std::string& Line(std::size_t i) const { return lines_.at(i); }
  const std::vector<std::string>& Lines() const { return lines_; }
  void SetLine(std::size_t i, std::string text) { lines_.at(i) = std::move(text); }
  void InsertLine(std::size_t i, std::string text);
  void RemoveLine(std::size_t i);
  void Clear() { lines_.clear(); }

  // Replaces the list with the lines of a file's bytes. A line ends at CR LF,
  // a lone CR or a lone LF; text after the last break is a last line; a final
  // break adds no empty line; a zero byte ends the text. A byte-order mark is
  // not special: it becomes part of the first line.
  void SetText(std::string_view bytes);
  // Every line followed by CR LF; an empty list gives an empty text.
  std::string Text() const;

  // --- settings by name ----------------------------------------------------
  // Value of the first line whose name equals `name` ignoring letter case
  // (Latin and Windows-1251 Cyrillic letters are folded); empty when none.
  std::string Value(std::string_view name) const;
  // Index of that first matching line, or npos.
  std::size_t IndexOfName(std::string_view name) const;
  // A handler's write: a non-empty value replaces the first matching line by
  // name + "=" + value (name as given, callers pass it lower case) or appends
  // that line; an empty value deletes the first matching line, if any.
  void Write(std::string_view name, std::string_view value);

  static constexpr std::size_t npos = static_cast<std::size_t>(-1);

 private:
  std::vector<std::string> lines_;
};

// Grid view of one line: the key is the name (empty for a line without "="),
// the value is the text after the first "=", or the whole line without "=".
std::string LineKey(std::string_view line);
std::string LineValue(std::string_view line);

// True when two names are equal ignoring letter case (ASCII and the
// Windows-1251 Cyrillic letters, including Ё/ё).
bool NamesEqual(std::string_view a, std::string_view b);

}  // namespace ravelto::settings
