#pragma once
// The named-parameter scan applied to statement text as lines are added.

#include <string>
#include <string_view>

namespace ravelto::registry {

// Walks `text`: ' " and ` toggle between inside and outside a literal.
// Outside a literal "::" becomes ":", and ":" followed by anything else
// starts a parameter: the colon and its name (up to a space, comma,
// semicolon, ")", CR or LF; quote characters toggle as before) become "?".
std::string ScanParameters(std::string_view text);

}  // namespace ravelto::registry
