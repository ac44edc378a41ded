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
    const Utf8Step step = NextUtf8(utf8.substr(i));
    const std::string at = " at offset " + std::to_string(i);
    switch (step.status) {
      case Utf8Step::Status::kOk: break;
      case Utf8Step::Status::kBadLead: throw std::invalid_argument("Cp1251: unsupported byte" + at);
      case Utf8Step::Status::kTruncated: throw std::invalid_argument("Cp1251: truncated character" + at);
      case Utf8Step::Status::kBadContinuation: throw std::invalid_argument("Cp1251: malformed character" + at);
    }
    if (step.cp < 0x80) {
      out += static_cast<char>(step.cp);
    } else {
      const unsigned char byte = ByteOf(step.cp);
      if (byte == 0) throw std::invalid_argument("Cp1251: no Windows-1251 byte for the character" + at);
      out += static_cast<char>(byte);
    }
    i += step.length;
  }
  return out;
}

}  // namespace ravelto::desk
