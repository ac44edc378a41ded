#pragma once
// Building safe statement text for the desk's accept step.

#include <string>
#include <string_view>

namespace ravelto::registry {

// A literal of the SQL subset that evaluates to exactly `text` and passes
// the named-parameter scan unchanged (so a colon in the text stays a colon
// and the rest of the statement is not affected). In order of preference:
// '...', "...", [...]; otherwise pieces joined with "+", the quote
// characters written as CHR(39), CHR(34) and CHR(96).
std::string QuoteLiteral(std::string_view text);

// True for "" and for a list of ",column=value" assignments whose values are
// numbers or literals of the SQL subset (checked by the parser), which the
// parameter scan leaves unchanged; false for anything else.
bool IsAssignmentFragment(std::string_view fragment);

}  // namespace ravelto::registry
