// The SQL subset's parser, the literal helpers of the accept step, the
// named-parameter scan and the Russian collating order.

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "registry/sql/collation.h"
#include "registry/sql/parameter_scan.h"
#include "registry/sql/sql_ast.h"
#include "registry/sql/sql_literal.h"
#include "registry/table/database_error.h"
#include "tests/registry/registry_test_util.h"

namespace ravelto::registry {
namespace {

using registry_test::Cp;

std::string ParseError(std::string_view sql) {
  try {
    ParseStatement(sql);
  } catch (const DatabaseError& e) {
    return e.what();
  }
  return "";
}

TEST(SqlParser, AcceptsEveryStatementTheDeskSends) {
  const char* statements[] = {
      "SELECT * from ci003",
      "SELECT * from ci003 WHERE kw>=61000 and kw<=61999",
      "select * from m1005 where kl=123\r\n",
      "select * from ci007 where kuch=5",
      "select * from ci003 where kw>=000 and kw<=999 order by nb",
      "select top 1 * from m1042 order by kl",
      "INSERT INTO m1042 (kl,data_vizc,kto,vr_z) VALUE (12,'112233','ZUVA',DATETIME())",
      "insert into m1042 (kl) values (1);",
      "UPDATE m1042 SET data_vizc='0',tosh=1,odish=1 WHERE data_vizc='112233'",
      "Select Top 3 * From t Where (a = 'x' OR NOT b # 2) And c == [y] Order By a Desc, b Asc",
      "select * from t where a + 'b' = \"ab\" and n - -2 >= .5 and d <> DATE() and l = .T.",
  };
  for (const char* sql : statements) EXPECT_EQ(ParseError(sql), "") << sql;
}

TEST(SqlParser, RejectsWithPositionAndWhatWasFound) {
  const std::pair<const char*, const char*> cases[] = {
      {"select * form m1005", "Syntax error at position 10: expected FROM, found \"form\""},
      {"delete from m1005", "Syntax error at position 1: expected SELECT, INSERT or UPDATE, found \"delete\""},
      {"select kl from m1005", "Syntax error at position 8: expected \"*\", found \"kl\""},
      {"select * from m1005 where kl=", "Syntax error at position 30: expected a value, found end of statement"},
      {"select * from m1005 where kl=?", "No value was supplied for the parameter at position 30"},
      {"INSERT INTO m1042 (kl,a) VALUE (1,'O'Brien')",
       "Syntax error at position 38: expected \")\", found \"Brien\""},
      {"insert into t (a, b) values (1)", "Syntax error at position 29: 2 columns but 1 values"},
      {"select * from t where a = 'open", "Syntax error at position 27: the text literal has no closing '"},
      {"select top 0 * from t order by a", "Syntax error at position 12: TOP needs a number from 1 to 2147483647"},
      {"update t set a = 1 where", "Syntax error at position 25: expected a value, found end of statement"},
      {"select * from t where 12ab = 1", "Syntax error at position 23: expected a number, found \"12ab\""},
      {"select * from t;;", "Syntax error at position 17: expected end of statement, found \";\""},
  };
  for (const auto& [sql, message] : cases) EXPECT_EQ(ParseError(sql), message) << sql;
}

TEST(QuoteLiteral, EveryTextRoundTripsThroughTheParserAndTheScan) {
  const std::string texts[] = {
      "", "plain", Cp("Кашель: 3 дня"), "O'Brien", "say \"hi\"", "a'b\"c", "a'b\"c]d", "[x]", "time 10:30",
      "it's 10:30", "`tick`", "'", "\"", "]", "'\"]`:", "::", "a\r\nb", Cp("Ёлкин"),
  };
  for (const std::string& text : texts) {
    const std::string literal = QuoteLiteral(text);
    SCOPED_TRACE(literal);
    EXPECT_EQ(ScanParameters(literal), literal);
    ExprPtr e = ParseExpression(literal);
    // Constant folding of the pieces: literals joined by + and CHR(n).
    std::function<std::string(const Expr&)> fold = [&](const Expr& x) -> std::string {
      if (x.kind == Expr::Kind::Literal) return x.literal.text;
      if (x.kind == Expr::Kind::Function) return std::string(1, static_cast<char>(std::stoi(x.args[0]->literal.text)));
      return fold(*x.args[0]) + fold(*x.args[1]);
    };
    EXPECT_EQ(fold(*e), text);
  }
  EXPECT_EQ(QuoteLiteral("abc"), "'abc'");
  EXPECT_EQ(QuoteLiteral("say \"hi\""), "'say \"hi\"'");
  EXPECT_EQ(QuoteLiteral("10:30 [x]"), "'10:30 [x]'");
  // An odd number of quote characters would leave the parameter scan inside
  // a literal for the rest of the statement: the apostrophe becomes CHR(39).
  EXPECT_EQ(QuoteLiteral("O'Brien"), "'O'+CHR(39)+'Brien'");
  EXPECT_EQ(QuoteLiteral("a\"b'c'd\""), "[a\"b'c'd\"]");
}

TEST(AssignmentFragment, AcceptsOnlyAssignmentsOfConstants) {
  const std::pair<const char*, bool> cases[] = {
      {"", true},
      {",tosh=1,odish=1,bol_sp=1,bol_gol=1,pov_nar=1", true},
      {",a='x'", true},
      {",a=-2.5", true},
      {",a=\"O'Brien\"", false},
      {",a=\"say 'x'\"", true},
      {"tosh=1", false},
      {",tosh=1 WHERE 1=1", false},
      {",tosh=1;", false},
      {",tosh=b", false},
      {",tosh=1+1", false},
      {",tosh=", false},
      {",", false},
      {",a=':x'", true},
      {",a=1,b=:x", false},
      {",a='it''s'", false},
      {",a=-'x'", false},
  };
  for (const auto& [fragment, ok] : cases) EXPECT_EQ(IsAssignmentFragment(fragment), ok) << fragment;
}

TEST(ParameterScan, ReplacesNamedParametersOutsideQuotes) {
  const std::pair<const char*, const char*> cases[] = {
      {"select * from m1005 where kl=12", "select * from m1005 where kl=12"},
      {"select * from m1005 where kl=:kl", "select * from m1005 where kl=?"},
      {"x=':a' and y=\":b\" and z=`:c`", "x=':a' and y=\":b\" and z=`:c`"},
      {"a::b", "a:b"},
      {"'a::b'", "'a::b'"},
      {"v=:p1,w=:p2)", "v=?,w=?)"},
      {"kl=12:30 and", "kl=12? and"},
      {"a=:x;b", "a=?;b"},
      {"n=:x\r\n", "n=?\r\n"},
      {"it's :here", "it's :here"},
      {"\"a'b\" :p", "\"a'b\" :p"},
      {"q=:'a b' c", "q=? c"},
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(ScanParameters(in), out) << in;
}

TEST(Collation, RussianOrderIgnoresCaseAndPutsYoAfterYe) {
  std::vector<std::string> names = {Cp("яковлев"), Cp("Жуков"), Cp("Ёлкин"), Cp("елисеев"), Cp("Абрамов"),
                                    Cp("абрамов"), "O'Brien", "Smith", "123", Cp("Ерёмин"), Cp("Юдин")};
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return CompareRussian(a, b) < 0;
  });
  const std::vector<std::string> expected = {"123",          "O'Brien",     "Smith",       Cp("Абрамов"),
                                             Cp("абрамов"), Cp("елисеев"), Cp("Ерёмин"), Cp("Ёлкин"),
                                             Cp("Жуков"),   Cp("Юдин"),    Cp("яковлев")};
  EXPECT_EQ(names, expected);
  EXPECT_EQ(CompareRussian("ab  ", "ab"), 0);
  EXPECT_LT(CompareRussian("ab", "abc"), 0);
}

}  // namespace
}  // namespace ravelto::registry
