#pragma once
// Syntax tree of the SQL subset:
//   SELECT [TOP n] * FROM t [WHERE e] [ORDER BY col [ASC|DESC], ...]
//   INSERT INTO t (col, ...) VALUE|VALUES (e, ...)
//   UPDATE t SET col = e, ... [WHERE e]

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "registry/sql/sql_value.h"

namespace ravelto::registry {

struct FieldDescriptor;

enum class Op {
  Or, And, Not, Negate,
  Equal,       // =   prefix comparison of character values
  ExactEqual,  // ==  blank-padded full comparison
  NotEqual,    // <> != #
  Less, LessEqual, Greater, GreaterEqual,
  Add, Subtract, Multiply, Divide,
};

// The comparison seen from its other side: a < b is b > a.
inline Op Mirror(Op op) {
  switch (op) {
    case Op::Less: return Op::Greater;
    case Op::LessEqual: return Op::GreaterEqual;
    case Op::Greater: return Op::Less;
    case Op::GreaterEqual: return Op::LessEqual;
    default: return op;
  }
}

struct Expr {
  enum class Kind { Literal, Column, Unary, Binary, Function };
  Kind kind = Kind::Literal;
  std::size_t position = 0;  // 1-based place in the statement text
  Value literal;             // Literal
  std::string name;          // Column (lower case) or Function (upper case)
  Op op = Op::Equal;         // Unary, Binary
  std::vector<std::unique_ptr<Expr>> args;
  const FieldDescriptor* field = nullptr;  // Column, once bound to a table
};
using ExprPtr = std::unique_ptr<Expr>;

struct OrderItem {
  std::string column;  // lower case
  bool descending = false;
  std::size_t position = 0;
};

struct Statement {
  enum class Kind { Select, Insert, Update };
  Kind kind = Kind::Select;
  std::string table;  // as written
  std::size_t tablePosition = 0;
  // SELECT
  std::optional<std::uint64_t> top;
  std::vector<OrderItem> orderBy;
  // SELECT, UPDATE
  ExprPtr where;
  // INSERT (columns + values), UPDATE (columns + values as assignments)
  std::vector<std::string> columns;  // lower case
  std::vector<std::size_t> columnPositions;
  std::vector<ExprPtr> values;
};

// Parses one statement; throws DatabaseError "Syntax error at position N:
// expected X, found "Y"" for text outside the subset.
Statement ParseStatement(std::string_view sql);

// Parses a standalone expression (the whole text), for tests and for
// checking literals.
ExprPtr ParseExpression(std::string_view text);

}  // namespace ravelto::registry
