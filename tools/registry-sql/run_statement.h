#pragma once
// The default mode of registry-sql: one statement through the gateway.

#include <ostream>
#include <string>

namespace ravelto::tools {

// Opens `folder`, runs `statement` and prints, for a query, the field list
// ("name<TAB>code" per column, then a blank line) and the rows (values as
// text, tab-separated), or for other statements the number of rows
// affected. Failures go to `err`; returns the exit code (0 or 1).
int RunStatementMode(const std::string& folder, const std::string& statement, std::ostream& out,
                     std::ostream& err);

}  // namespace ravelto::tools
