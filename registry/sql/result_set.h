#pragma once
// A query's static result: the field list and the rows, fetched whole.

#include <cstdint>
#include <string>
#include <vector>

#include "registry/sql/ado_types.h"

namespace ravelto::registry {

// One value of a result row. Which member holds the value depends on the
// column's kind:
//   Text, Memo, Binary       bytes
//   Integer, LargeInteger    integer
//   Decimal                  integer, scaled by 10 000 (four decimal places)
//   Float                    real
//   Date                     integer, days since 1899-12-30
//   DateTime                 integer, milliseconds since 1899-12-30 00:00
//   Boolean                  integer, 0 or 1
struct Cell {
  bool isNull = false;
  std::int64_t integer = 0;
  double real = 0;
  std::string bytes;
};

struct ResultColumn {
  std::string name;  // as reported: lower case
  AdoColumn ado;     // ADO type, precision, scale
  ValueKind kind = ValueKind::Text;
  int typeCode = 0;  // field type code (1 text, 11 date-time, 16 memo, ...)
};

struct ResultSet {
  std::vector<ResultColumn> columns;
  std::vector<std::vector<Cell>> rows;
};

}  // namespace ravelto::registry
