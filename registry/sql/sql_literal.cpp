#include "registry/sql/sql_literal.h"

#include "registry/sql/parameter_scan.h"
#include "registry/sql/sql_ast.h"
#include "registry/table/database_error.h"

namespace ravelto::registry {

namespace {

// The scan must leave the text alone and end outside a literal.
bool ScanSafe(std::string_view text) {
  std::size_t toggles = 0;
  for (char c : text)
    if (c == '\'' || c == '"' || c == '`') ++toggles;
  return toggles % 2 == 0 && ScanParameters(text) == text;
}

bool IsQuoteChar(char c) { return c == '\'' || c == '"' || c == '`'; }

}  // namespace

std::string QuoteLiteral(std::string_view text) {
  const std::string t(text);
  const std::pair<char, char> forms[] = {{'\'', '\''}, {'"', '"'}, {'[', ']'}};
  for (const auto& [open, close] : forms) {
    if (t.find(close) != std::string::npos) continue;
    const std::string literal = open + t + close;
    if (ScanSafe(literal)) return literal;
  }
  // Pieces: runs without quote characters in '...', each quote character
  // as CHR(n).
  std::string out;
  std::string run;
  auto flush = [&]() {
    if (run.empty()) return;
    if (!out.empty()) out += '+';
    out += "'" + run + "'";
    run.clear();
  };
  for (char c : t) {
    if (!IsQuoteChar(c)) {
      run += c;
      continue;
    }
    flush();
    if (!out.empty()) out += '+';
    out += "CHR(" + std::to_string(static_cast<unsigned char>(c)) + ")";
  }
  flush();
  return out.empty() ? "''" : out;
}

bool IsAssignmentFragment(std::string_view fragment) {
  if (fragment.empty()) return true;
  if (fragment[0] != ',' || !ScanSafe(fragment)) return false;
  try {
    const Statement s = ParseStatement("UPDATE t SET a=0" + std::string(fragment) + " WHERE 1=1");
    for (std::size_t i = 1; i < s.values.size(); ++i) {
      const Expr* e = s.values[i].get();
      if (e->kind == Expr::Kind::Unary && e->op == Op::Negate) e = e->args[0].get();
      if (e->kind != Expr::Kind::Literal) return false;
      const Value::Type t = e->literal.type;
      if (t != Value::Type::Number && t != Value::Type::Char) return false;
      if (e != s.values[i].get() && t != Value::Type::Number) return false;
    }
    return s.values.size() > 1;
  } catch (const DatabaseError&) {
    return false;
  }
}

}  // namespace ravelto::registry
