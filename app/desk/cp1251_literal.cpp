#include "app/desk/cp1251_literal.h"

#include <stdexcept>

#include "common/cp1251.h"

namespace ravelto::desk {

namespace {

// The characters the desk's fixed texts may use outside ASCII; anything else
// is refused even when Windows-1251 has a byte for it.
bool Allowed(char32_t cp) {
  return (cp >= 0x0410 && cp <= 0x044F) || cp == 0x0401 || cp == 0x0451 || cp == 0x00AB ||
         cp == 0x00BB || cp == 0x2116 || cp == 0x2013 || cp == 0x2014;
}

// Windows-1251 byte of a code point outside ASCII, or 0 when it has none here.
unsigned char ByteOf(char32_t cp) {
  if (!Allowed(cp)) return 0;
  return ravelto::Cp1251Byte(cp).value_or(0);
}

}  // namespace

std::string Cp1251(std::string_view utf8) {
  std::string out;
  out.reserve(utf8.size());
  size_t i = 0;
  while (i < utf8.size()) {
    const auto lead = static_cast<unsigned char>(utf8[i]);
    if (lead < 0x80) {
      out += static_cast<char>(lead);
      ++i;
      continue;
    }
    size_t length = 0;
    char32_t cp = 0;
    if ((lead & 0xE0) == 0xC0) {
      length = 2;
      cp = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
      length = 3;
      cp = lead & 0x0F;
    } else {
      throw std::invalid_argument("Cp1251: unsupported byte at offset " + std::to_string(i));
    }
    if (i + length > utf8.size()) {
      throw std::invalid_argument("Cp1251: truncated character at offset " + std::to_string(i));
    }
    for (size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(utf8[i + k]);
      if ((next & 0xC0) != 0x80) {
        throw std::invalid_argument("Cp1251: malformed character at offset " + std::to_string(i));
      }
      cp = (cp << 6) | (next & 0x3F);
    }
    const unsigned char byte = ByteOf(cp);
    if (byte == 0) {
      throw std::invalid_argument("Cp1251: no Windows-1251 byte for the character at offset " +
                                  std::to_string(i));
    }
    out += static_cast<char>(byte);
    i += length;
  }
  return out;
}

}  // namespace ravelto::desk
