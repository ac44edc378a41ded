#pragma once
// Choosing rows through a structural index for a WHERE condition: the SQL
// side of an indexed lookup. The index layer answers ranges and prefixes of
// one column; this reads the condition's AND-ed comparisons and asks it.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace ravelto::registry {

struct Expr;
class TableFile;

// For a WHERE condition on the table: when one of its AND-ed parts compares
// an indexed column with a constant (=, ==, <, <=, >, >= with a number on a
// numeric column; = or == with text on a character column), the record
// numbers that may match, ascending; nullopt when no index serves the
// condition. The caller still tests every row (value and deletion flag).
// A character column may be served by a tag in another collation whose
// encoding this process learned; the entries used are then confirmed
// against their records when another writer changed the index since.
std::optional<std::vector<uint32_t>> IndexCandidates(const TableFile& table, const Expr& where);

}  // namespace ravelto::registry
