#pragma once
// Reading one result cell as text, as a 32-bit integer or as a date-time,
// with the regional formats. Failures raise DatabaseError with the exact
// messages ("Cannot access field '%s' as type %s", "'%s' is not a valid
// integer value", "'%s' is not a valid date and time").

#include <string>
#include <string_view>

#include "registry/gateway.h"
#include "registry/sql/result_set.h"

namespace ravelto::registry {

std::string CellAsText(const Cell& cell, const ResultColumn& column, const RegionalFormats& formats);
int CellAsInteger(const Cell& cell, const ResultColumn& column);
double CellAsDateTime(const Cell& cell, const ResultColumn& column, const RegionalFormats& formats);

// Formatting helpers, exposed for tests.
// Days since 1899-12-30 (+ ms of the day) in a Qt-style pattern.
std::string FormatDateTimePattern(std::string_view pattern, std::int64_t msSince1899);
// A scaled-by-10^4 value with at most four decimals, no trailing zeros.
std::string FormatDecimal(std::int64_t scaled, char separator);
// General format, up to 15 significant digits.
std::string FormatFloat(double value, char separator);
// Round half to even, into 32 bits (low 32 bits when out of range).
int RoundHalfEven(double value);

}  // namespace ravelto::registry
