#include "registry/sql/parameter_scan.h"

namespace ravelto::registry {

namespace {
bool IsQuote(char c) { return c == '\'' || c == '"' || c == '`'; }
bool EndsName(char c) {
  return c == ' ' || c == ',' || c == ';' || c == ')' || c == '\r' || c == '\n';
}
}  // namespace

std::string ScanParameters(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  bool inLiteral = false;
  size_t i = 0;
  while (i < text.size()) {
    const char c = text[i];
    if (IsQuote(c)) {
      inLiteral = !inLiteral;
      out += c;
      ++i;
      continue;
    }
    if (inLiteral || c != ':') {
      out += c;
      ++i;
      continue;
    }
    if (i + 1 < text.size() && text[i + 1] == ':') {
      out += ':';
      i += 2;
      continue;
    }
    // A parameter: skip the colon and the name; quotes inside the name
    // still toggle, and a quoted part of the name runs past delimiters.
    ++i;
    while (i < text.size() && (inLiteral || !EndsName(text[i]))) {
      if (IsQuote(text[i])) inLiteral = !inLiteral;
      ++i;
    }
    out += '?';
  }
  return out;
}

}  // namespace ravelto::registry
