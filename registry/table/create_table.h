#pragma once
// Creating a new, empty free table (Visual FoxPro format, code page
// Windows-1251), with a memo file when it has memo fields. Used by tests,
// the demo registry tool and the benchmarks; the desk itself never creates
// tables.

#include <string>
#include <string_view>
#include <vector>

namespace ravelto::registry {

struct FieldSpec {
  std::string name;    // up to 10 characters
  char type = 'C';     // C V N F I B Y D T L M Q W G
  int length = 0;      // C V Q N F: the width; fixed for the other types
  int decimals = 0;    // N F B
  bool nullable = false;
  bool binary = false;  // C V M: bytes are never translated
};

// Creates `name`.dbf (and `name`.fpt when memo fields exist) in `folder`.
// Fails with DatabaseError when the table exists or a field is invalid.
void CreateTable(const std::string& folder, std::string_view name, const std::vector<FieldSpec>& fields);

}  // namespace ravelto::registry
