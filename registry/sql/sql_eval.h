#pragma once
// Binding expressions to a table, checking their types, evaluating them on
// a record, and compiling a WHERE condition into a predicate that works on
// raw record bytes where it can.

#include <cstdint>
#include <memory>

#include "registry/sql/sql_ast.h"
#include "registry/table/dbf_table.h"

namespace ravelto::registry {

// Resolves every column of `expr` against the table and checks operand
// types; returns the expression's static type (Null when it is the NULL
// literal). Throws DatabaseError: "Column 'x' not found in table 't'",
// "Operator/operand type mismatch at position N".
Value::Type BindExpression(Expr& expr, const TableFile& table);

// Evaluates a bound expression on `record` (nullptr when no row is in play,
// e.g. INSERT values).
Value Evaluate(const Expr& expr, const TableFile& table, const unsigned char* record, std::uint32_t recno);

// Three-valued truth of a condition.
enum class Truth { False, True, Unknown };

// Compares two non-null values of compatible types: <0, 0, >0. Character
// values compare as `op` says (Equal: up to the shorter length; ExactEqual:
// trailing blanks ignored), bytes as unsigned.
int CompareValues(const Value& a, const Value& b, Op op);

class Predicate {
 public:
  virtual ~Predicate() = default;
  virtual Truth Test(const unsigned char* record, std::uint32_t recno) const = 0;
};

// A predicate for a bound condition of static type Logical (or NULL).
std::unique_ptr<Predicate> CompilePredicate(const Expr& condition, const TableFile& table);

// The statement's WHERE bound to the table and compiled; nullptr when the
// statement has none. Fails when the condition is not a logical expression.
std::unique_ptr<Predicate> CompileWhere(Statement& statement, const TableFile& table);

}  // namespace ravelto::registry
