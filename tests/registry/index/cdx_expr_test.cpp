// Key expressions and key encodings: results on a record, the order the
// encodings give, and what is refused.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "registry/index/cdx_expr.h"
#include "registry/index/cdx_format.h"
#include "registry/index/cdx_key.h"

namespace ravelto::registry {
namespace {

// A record with C(10) NAME, N(8,2) SUM, I KOD, D DAT, T STAMP, L OK, C(5) NUL nullable.
struct Fixture {
  CdxLayout layout;
  std::vector<uint8_t> rec;
  Fixture() {
    layout.fields = {{"NAME", 'C', 1, 10, 0, -1}, {"SUM", 'N', 11, 8, 2, -1}, {"KOD", 'I', 19, 4, 0, -1},
                     {"DAT", 'D', 23, 8, 0, -1},  {"STAMP", 'T', 31, 8, 0, -1}, {"OK", 'L', 39, 1, 0, -1},
                     {"NUL", 'C', 40, 5, 0, 0}};
    layout.record_length = 46;
    layout.null_flags_offset = 45;
    layout.null_flags_length = 1;
    rec.assign(46, ' ');
    std::memcpy(&rec[1], "  \xB8\xEB\xEA\xE0 b", 8);
    std::memcpy(&rec[11], "  -12.50", 8);
    int32_t kod = -7;
    std::memcpy(&rec[19], &kod, 4);
    std::memcpy(&rec[23], "20240229", 8);
    int32_t day = 2460370, ms = 45296789;  // 2024-02-29 12:34:56.789
    std::memcpy(&rec[31], &day, 4);
    std::memcpy(&rec[35], &ms, 4);
    rec[39] = 'T';
    rec[45] = 1;  // NUL is NULL
  }
  CdxValue Eval(const std::string& text) { return CdxExpression::Compile(text, layout).Evaluate(rec); }
};

TEST(CdxExpr, TextResults) {
  Fixture f;
  const std::pair<const char*, std::string> cases[] = {
      {"NAME", "  \xB8\xEB\xEA\xE0 b  "},
      {"Upper( NAME )", "  \xA8\xCB\xCA\xC0 B  "},
      {"lower(upper(NAME))", "  \xB8\xEB\xEA\xE0 b  "},
      {"ALLTRIM(NAME)+'|'", "\xB8\xEB\xEA\xE0 b|"},
      {"LTRIM(NAME)", "\xB8\xEB\xEA\xE0 b  "},
      {"RTRIM(NAME)+TRIM(NAME)", "  \xB8\xEB\xEA\xE0 b  \xB8\xEB\xEA\xE0 b"},
      {"SUBSTR(NAME,3,2)", "\xB8\xEB"},
      {"SUBS(NAME,9)", "  "},
      {"SUBSTR(NAME,20)", ""},
      {"LEFT(NAME,3)+RIGHT(NAME,2)", "  \xB8  "},
      {"PADL(ALLTRIM(NAME),8,'*')", "**\xB8\xEB\xEA\xE0 b"},
      {"PADR(LEFT(NAME,2),4)", "    "},
      {"STR(SUM)", "       -13"},
      {"STR(SUM,8,2)", "  -12.50"},
      {"STR(SUM,6,1)", " -12.5"},
      {"STR(KOD,3)", " -7"},
      {"STR(2.5,3)", "  3"},
      {"DTOS(DAT)+TTOC(STAMP,1)", "2024022920240229123457"},
      {"DTOS(STAMP)", "20240229"},
      {"IIF(OK, [yes], \"no!\")", "yes"},
      {"IIF(!OK .OR. DELETED(), 'a', 'b')", "b"},
      {"IIF(SUM < 0 AND KOD = -7, 'n', 'p')", "n"},
  };
  for (const auto& [expr, want] : cases) {
    CdxValue v = f.Eval(expr);
    EXPECT_EQ(v.type, CdxType::Char) << expr;
    EXPECT_EQ(v.text, want) << expr;
  }
  EXPECT_EQ(f.Eval("SUM*2+1").number, -24.0);
  EXPECT_EQ(f.Eval("KOD").integer, -7);
  EXPECT_TRUE(f.Eval("EMPTY(KOD-KOD)").logical);
  EXPECT_EQ(f.Eval("NUL").null, true);
}

TEST(CdxExpr, UnsupportedExpressionsAreRefusedWithTheReason) {
  Fixture f;
  const std::pair<const char*, const char*> cases[] = {
      {"VAL(NAME)", "VAL() is not supported"},
      {"NOSUCH", "NOSUCH, which is not a field"},
      {"other->NAME", "other tables"},
      {"TTOC(STAMP)", "wrong number of arguments"},
      {"TTOC(STAMP,2)", "format 1 only"},
      {"NAME = 'x'", "comparisons are supported for numbers"},
      {"NAME + SUM", "'+' is supported"},
      {"STR(SUM, KOD)", "constant"},
      {"UPPER(NUL)", "nullable field"},
      {"IIF(OK, NAME, SUM)", "different types"},
      {"EMPTY(NAME)", "EMPTY() of text"},
      {"NAME + 'x", "unterminated"},
  };
  for (const auto& [expr, why] : cases) {
    try {
      CdxExpression::Compile(expr, f.layout);
      ADD_FAILURE() << expr << " compiled";
    } catch (const CdxError& e) {
      EXPECT_NE(std::string(e.what()).find(why), std::string::npos) << expr << ": " << e.what();
    }
  }
}

TEST(CdxExpr, ValuesWithoutAnExactKeyAreRefusedWhenEvaluated) {
  Fixture f;
  const char* cases[] = {"STR(SUM,2)", "STR(-0.2,4)", "PADL(NAME,4)", "SUM/(KOD+7)"};
  for (const char* expr : cases) EXPECT_THROW(f.Eval(expr), CdxError) << expr;
  std::memcpy(&f.rec[11], "***.**  ", 8);
  EXPECT_THROW(f.Eval("SUM"), CdxError);
  std::memcpy(&f.rec[23], "20230229", 8);
  EXPECT_THROW(f.Eval("DTOS(DAT)"), CdxError);
}

TEST(CdxKey, EncodingsSortLikeTheirValues) {
  std::vector<double> numbers = {-1e300, -12345.5, -1, -0.001, 0, 0.001, 1, 2, 12345.5, 1e300};
  for (std::size_t i = 1; i < numbers.size(); ++i) {
    EXPECT_LT(NumberKey(numbers[i - 1]), NumberKey(numbers[i])) << numbers[i];
    EXPECT_EQ(NumberFromKey(NumberKey(numbers[i])), numbers[i]);
  }
  EXPECT_EQ(NumberKey(-0.0), NumberKey(0.0));
  EXPECT_EQ(NumberKey(1.0), std::string("\xBF\xF0\0\0\0\0\0\0", 8));
  std::vector<int32_t> ints = {INT32_MIN, -5, -1, 0, 1, 70000, INT32_MAX};
  for (std::size_t i = 1; i < ints.size(); ++i) EXPECT_LT(IntegerKey(ints[i - 1]), IntegerKey(ints[i]));
  EXPECT_EQ(IntegerKey(1), std::string("\x80\0\0\x01", 4));
}

TEST(CdxKey, TagKeysFollowTheKeyLengthAndCollation) {
  Fixture f;
  auto tag = [](const char* expr, uint16_t len, const char* coll = "") {
    CdxTagHeader t;
    t.name = "T";
    t.key_expr = expr;
    t.key_length = len;
    t.collation = coll;
    return t;
  };
  EXPECT_EQ(CdxTagKeys(tag("UPPER(NAME)", 10), f.layout).Key(f.rec), "  \xA8\xCB\xCA\xC0 B  ");
  EXPECT_EQ(CdxTagKeys(tag("ALLTRIM(NAME)", 10), f.layout).Key(f.rec), "\xB8\xEB\xEA\xE0 b    ");
  EXPECT_EQ(CdxTagKeys(tag("KOD", 4), f.layout).Key(f.rec), IntegerKey(-7));
  EXPECT_EQ(CdxTagKeys(tag("KOD", 8), f.layout).Key(f.rec), NumberKey(-7));
  EXPECT_EQ(CdxTagKeys(tag("DAT", 8), f.layout).Key(f.rec), NumberKey(2460370));
  EXPECT_EQ(CdxTagKeys(tag("STAMP", 8), f.layout).Key(f.rec), NumberKey(2460370 + 45296789 / 86400000.0));
  EXPECT_EQ(CdxTagKeys(tag("NUL", 6), f.layout).Key(f.rec), std::string(6, '\0'));
  f.rec[45] = 0;
  std::memcpy(&f.rec[40], "ab   ", 5);
  f.layout.fields[6].null_bit = -1;
  EXPECT_EQ(CdxTagKeys(tag("NUL", 5), f.layout).Key(f.rec), "ab   ");
  EXPECT_EQ(CdxTagKeys(tag("SUM", 8, "GENERAL"), f.layout).Key(f.rec), NumberKey(-12.5));  // numbers have no collation
  EXPECT_THROW(CdxTagKeys(tag("NAME", 10, "RUSSIAN"), f.layout), CdxError);
  EXPECT_THROW(CdxTagKeys(tag("NAME", 12), f.layout), CdxError);
  EXPECT_THROW(CdxTagKeys(tag("OK", 1), f.layout), CdxError);
}

TEST(CdxNode, LeavesRoundTripWithCompressionAndGrowRecordNumbers) {
  for (uint32_t base : {1u, 70000u, 20000000u}) {
    CdxNode node;
    node.attr = cdx::kAttrLeaf;
    for (uint32_t i = 0; i < 30; ++i) {
      std::string key = "KEY" + std::to_string(1000 + i / 3);
      key.resize(12, ' ');
      node.entries.push_back({key, base + i, 0});
    }
    node.entries.push_back({std::string(12, ' '), base + 99, 0});
    std::sort(node.entries.begin(), node.entries.end(),
              [](const CdxEntry& a, const CdxEntry& b) { return CompareEntry(a.key, a.recno, b.key, b.recno) < 0; });
    std::vector<uint8_t> page(512);
    ASSERT_TRUE(EncodeNode(node, 12, ' ', page));
    CdxNode back = DecodeNode(page, 512, 12, ' ');
    ASSERT_EQ(back.entries.size(), node.entries.size());
    for (std::size_t i = 0; i < node.entries.size(); ++i) {
      EXPECT_EQ(back.entries[i].key, node.entries[i].key);
      EXPECT_EQ(back.entries[i].recno, node.entries[i].recno);
    }
    EXPECT_EQ(back.stored_free, back.actual_free);
  }
}

}  // namespace
}  // namespace ravelto::registry
