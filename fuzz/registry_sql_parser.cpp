// fuzz_sql_parser: arbitrary bytes as statement text: the parameter scan,
// the parser, and the literal helpers (every literal QuoteLiteral builds
// must parse back to the same text).

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "registry/sql/parameter_scan.h"
#include "registry/sql/sql_ast.h"
#include "registry/sql/sql_literal.h"
#include "registry/table/database_error.h"

namespace {

std::string Fold(const ravelto::registry::Expr& e) {
  using ravelto::registry::Expr;
  if (e.kind == Expr::Kind::Literal) return e.literal.text;
  if (e.kind == Expr::Kind::Function) return std::string(1, static_cast<char>(std::atoi(e.args[0]->literal.text.c_str())));
  return Fold(*e.args[0]) + Fold(*e.args[1]);
}

}  // namespace

int FuzzSqlParser(const std::uint8_t* data, std::size_t size) {
  using namespace ravelto::registry;
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::string scanned = ScanParameters(text);
  for (const std::string* sql : {&text, &scanned}) {
    try {
      ParseStatement(*sql);
    } catch (const DatabaseError&) {
    }
  }
  IsAssignmentFragment(text);
  const std::string literal = QuoteLiteral(text);
  if (ScanParameters(literal) != literal) std::abort();
  if (Fold(*ParseExpression(literal)) != text) std::abort();
  return 0;
}

#ifndef RAVELTO_FUZZ_REPLAY
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return FuzzSqlParser(data, size);
}
#endif
