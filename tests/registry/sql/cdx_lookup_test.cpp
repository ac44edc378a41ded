// Reads through the index give exactly the rows a scan gives.

#include <gtest/gtest.h>

#include "registry/index/cdx_lookup.h"
#include "registry/sql/index_candidates.h"
#include "registry/sql/sql_ast.h"
#include "registry/sql/statement_runner.h"
#include "registry/table/dbf_table.h"
#include "registry/table/file_io.h"
#include "tests/registry/index/cdx_test_util.h"

namespace ravelto::registry {
namespace {

std::vector<std::string> Rows(const std::string& folder, const std::string& sql) {
  auto out = RunStatement(folder, sql, true);
  std::vector<std::string> rows;
  for (const auto& row : out.result->rows) {
    std::string line;
    for (const auto& cell : row) line += cell.bytes + std::to_string(cell.integer) + std::to_string(cell.real) + "|";
    rows.push_back(line);
  }
  return rows;
}

TEST(CdxLookup, IndexedConditionsGiveTheRowsOfAScan) {
  const std::string folder = std::string(RAVELTO_TEST_DATA) + "/registry-cdx";
  // Each indexed condition next to the same condition the index cannot serve.
  const std::pair<std::string, std::string> cases[] = {
      {"kl=7", "kl+0=7"},           {"kl = 250", "0+kl = 250"},
      {"7=kl", "7=kl+0"},           {"kl>495", "kl+0>495"},
      {"kl<=3 and uch>=0", "kl+0<=3 and uch>=0"},
      {"kod < 0", "kod+0 < 0"},     {"kl>=14 and kl<28.5", "kl+0>=14 and kl+0<28.5"},
      {"kl=100000", "kl+0=100000"}, {"kl=350", "kl+0=350"},  // row 50 is deleted
  };
  for (const auto& [indexed, scanned] : cases) {
    auto a = Rows(folder, "select * from m1005 where " + indexed);
    auto b = Rows(folder, "select * from m1005 where " + scanned);
    EXPECT_EQ(a, b) << indexed;
  }
  EXPECT_EQ(Rows(folder, "select * from m1005 where kl=7").size(), 1u);
  EXPECT_TRUE(Rows(folder, "select * from m1005 where kl=350").empty());
  EXPECT_EQ(Rows(folder, "select * from m1005 where kl>=14 and kl<28.5").size(), 3u);
}

TEST(CdxLookup, OnlyExactColumnTagsWithoutFilterServeAColumn) {
  const std::string folder = std::string(RAVELTO_TEST_DATA) + "/registry-cdx";
  TableFile table(folder, "m1005", false);
  const CdxLayout layout = LayoutOfSchema(table.Schema());
  EXPECT_NE(CdxColumnIndex::Open(table.CdxPath(), layout, "kl"), nullptr);
  EXPECT_NE(CdxColumnIndex::Open(table.CdxPath(), layout, "KOD"), nullptr);
  EXPECT_EQ(CdxColumnIndex::Open(table.CdxPath(), layout, "uch"), nullptr);   // only a UNIQUE tag
  EXPECT_EQ(CdxColumnIndex::Open(table.CdxPath(), layout, "fiol"), nullptr);  // only inside UPPER()+
  auto kl = CdxColumnIndex::Open(table.CdxPath(), layout, "kl");
  auto few = kl->Range(14, true, 28, false);
  ASSERT_TRUE(few.has_value());
  EXPECT_EQ(few->size(), 2u);
  ExprPtr where = ParseExpression("kl = 7");
  auto picked = IndexCandidates(table, *where);
  ASSERT_TRUE(picked.has_value());
  EXPECT_EQ(picked->size(), 1u);
  EXPECT_FALSE(IndexCandidates(table, *ParseExpression("kl + 1 = 7")).has_value());
  std::vector<uint32_t> order;
  EXPECT_TRUE(kl->Walk([&](uint32_t r) {
    order.push_back(r);
    return order.size() < 5;
  }));
  EXPECT_EQ(order.size(), 5u);
}

TEST(CdxLookup, TextConditionsUseThePrefixAndTheEngineKeepsItsComparisonRule) {
  SetDurableWrites(false);
  auto folder = testing::CopyFixtures();
  for (const char* v : {"112233", "1122334", "11223", "0", "112233"}) {
    RunStatement(folder.string(), std::string("insert into m1042 (kl, data_vizc) values (1, '") + v + "')", false);
  }
  for (const char* cond : {"data_vizc='112233'", "data_vizc=='112233'", "data_vizc='11223'", "data_vizc='0'",
                           "data_vizc='112233  '"}) {
    std::string c = cond;
    std::string scanned = "data_vizc+''" + c.substr(c.find('='));
    EXPECT_EQ(Rows(folder.string(), "select * from m1042 where " + c),
              Rows(folder.string(), "select * from m1042 where " + scanned))
        << cond;
  }
}

}  // namespace
}  // namespace ravelto::registry
