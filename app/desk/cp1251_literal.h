#pragma once
// Windows-1251 bytes from UTF-8 source text, so that the desk's fixed Russian
// texts can be written readably in the source and still reach the subsystems
// as the single-byte text they hold everywhere.

#include <string>
#include <string_view>

namespace ravelto::desk {

// Converts UTF-8 text made of ASCII, the Cyrillic letters А-я, Ё, ё and the
// signs « » № – — to Windows-1251. Any other character is a programming
// error: it throws std::invalid_argument naming the offending byte offset.
std::string Cp1251(std::string_view utf8);

}  // namespace ravelto::desk
