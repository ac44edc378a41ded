#pragma once
// The administrator's views of a registry folder's structural indexes, as
// printed by registry-sql --describe-indexes and --check-indexes.

#include <ostream>
#include <string>

namespace ravelto::registry {

// For every table in folder whose header says it has a structural index:
// each tag's name, key expression, FOR clause, key length, options,
// collation, and "supported" or "refused: why". Returns the exit code: 0,
// or 1 when an index cannot be read at all.
int DescribeIndexes(const std::string& folder, std::ostream& out);

// Runs the full structural check of every such index against its table and
// prints "ok" or the problems. Returns 0 when all pass, 1 on any damage.
int CheckIndexes(const std::string& folder, std::ostream& out);

}  // namespace ravelto::registry
