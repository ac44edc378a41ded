// ORDER BY and UPDATE through a structural index give exactly what the same
// statements give on a copy of the table without its index, and read only
// the rows they need.

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "registry/index/cdx_build.h"
#include "registry/sql/statement_runner.h"
#include "registry/table/file_io.h"
#include "registry/table/rows_read.h"
#include "tests/registry/index/cdx_test_util.h"

namespace ravelto::registry {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Rows(const fs::path& folder, const std::string& sql) {
  auto out = RunStatement(folder.string(), sql, true);
  std::vector<std::string> rows;
  for (const auto& row : out.result->rows) {
    std::string line;
    for (const auto& cell : row)
      line += (cell.isNull ? std::string("<null>") : cell.bytes + std::to_string(cell.integer) +
                                                         std::to_string(cell.real)) + "|";
    rows.push_back(line);
  }
  return rows;
}

// Rows read while running sql.
std::uint64_t RowsRead(const fs::path& folder, const std::string& sql, bool wantRows = true) {
  const std::uint64_t before = RowsReadByStatements();
  RunStatement(folder.string(), sql, wantRows);
  return RowsReadByStatements() - before;
}

// Sets or clears the "has a structural index" flag of a table.
void SetIndexFlag(const fs::path& folder, const std::string& table, bool on) {
  std::fstream f(testing::Dbf(folder, table), std::ios::in | std::ios::out | std::ios::binary);
  f.seekg(28);
  char flags = 0;
  f.read(&flags, 1);
  flags = static_cast<char>(on ? (flags | 0x01) : (flags & ~0x01));
  f.seekp(28);
  f.write(&flags, 1);
}

// Clears the flag and removes the index.
void DropIndex(const fs::path& folder, const std::string& table) {
  SetIndexFlag(folder, table, false);
  fs::remove(testing::Cdx(folder, table));
}

class CdxOrder : public ::testing::Test {
 protected:
  void SetUp() override {
    SetDurableWrites(false);
    indexed_ = testing::CopyFixtures();
    plain_ = testing::CopyFixtures();
    DropIndex(plain_, "m1005");
    DropIndex(plain_, "m1042");
  }
  // Runs a writing statement on both copies.
  void OnBoth(const std::string& sql) {
    EXPECT_EQ(RunStatement(indexed_.string(), sql, false).rowsAffected,
              RunStatement(plain_.string(), sql, false).rowsAffected)
        << sql;
  }
  void ExpectSameRows(const std::string& sql) {
    EXPECT_EQ(Rows(indexed_, sql), Rows(plain_, sql)) << sql;
  }
  fs::path indexed_;
  fs::path plain_;
};

TEST_F(CdxOrder, IndexOrderGivesTheRowsOfAScanAndSort) {
  // Duplicate keys (ties keep record order) and negative values.
  OnBoth("update m1005 set kl = 7, kod = 7 where kl + 0 >= 700 and kl + 0 < 800");
  OnBoth("update m1005 set kl = -3, kod = -3 where kl + 0 >= 1400 and kl + 0 < 1450");
  OnBoth("update m1005 set kl = 3493 where kl + 0 = 21");
  const std::string queries[] = {
      "select * from m1005 order by kl",
      "select * from m1005 order by kl desc",
      "select top 1 * from m1005 order by kl",
      "select top 1 * from m1005 order by kl desc",
      "select top 5 * from m1005 order by kl",
      "select top 3 * from m1005 order by kl desc",
      "select top 1000 * from m1005 order by kl desc",
      "select * from m1005 order by zapis",
      "select top 10 * from m1005 order by zapis desc",
      "select * from m1005 order by kod desc",
      "select top 4 * from m1005 order by kod",
      "select * from m1005 where aktiv order by kl desc",
      "select top 3 * from m1005 where uch = 1 order by kl",
      "select top 3 * from m1005 where uch = 1 order by kl desc",
      "select top 2 * from m1005 where kl > 400 order by kod desc",  // WHERE served by an index
      "select * from m1005 where kl + 0 = 350 order by kl",          // a deleted row
      "select top 5 * from m1005 where fiol <> '' order by data_r",  // no tag on the column
      "select top 5 * from m1005 order by uch",                      // only a UNIQUE tag
      "select top 5 * from m1005 order by fiol desc",                // text: not by the tag
      "select top 3 * from m1005 order by kl, kod",                  // two columns
  };
  for (const auto& sql : queries) ExpectSameRows(sql);
  EXPECT_EQ(Rows(indexed_, "select top 3 * from m1005 order by kl").size(), 3u);
}

TEST_F(CdxOrder, TopThroughTheIndexReadsOnlyTheRowsItReturns) {
  OnBoth("insert into m1042 (kl, data_vizc) values (5, '1')");
  OnBoth("insert into m1042 (kl, data_vizc) values (2, '2')");
  OnBoth("insert into m1042 (kl, data_vizc) values (9, '3')");
  ExpectSameRows("select top 1 * from m1042 order by kl");
  EXPECT_EQ(RowsRead(indexed_, "select top 1 * from m1042 order by kl"), 1u);
  EXPECT_EQ(RowsRead(plain_, "select top 1 * from m1042 order by kl"), 3u);

  const std::uint64_t all = RowsRead(plain_, "select * from m1005");
  EXPECT_GT(all, 400u);
  // The row with the largest key is deleted: it is read and skipped.
  EXPECT_EQ(RowsRead(indexed_, "select top 1 * from m1005 order by kl desc"), 2u);
  EXPECT_EQ(RowsRead(indexed_, "select top 1 * from m1005 order by kl"), 1u);
  EXPECT_EQ(RowsRead(indexed_, "select top 2 * from m1005 order by zapis"), 2u);
  // A full walk reads every record once (deleted ones included).
  EXPECT_GE(RowsRead(indexed_, "select * from m1005 order by kl"), all);
  // A text column is ordered by the Russian sequence, not by its tag.
  EXPECT_EQ(RowsRead(indexed_, "select top 1 * from m1042 order by data_vizc"), 3u);
}

TEST_F(CdxOrder, AnIndexBeingWrittenIsNotUsed) {
  // A writer's journal beside the index: the index may be half written.
  std::ofstream(testing::Cdx(indexed_, "m1005").string() + ".pending") << "x";
  const std::uint64_t all = RowsRead(plain_, "select * from m1005");
  EXPECT_EQ(RowsRead(indexed_, "select top 1 * from m1005 order by kl"), all);
  EXPECT_EQ(RowsRead(indexed_, "select * from m1005 where kl = 7"), all);
  ExpectSameRows("select top 2 * from m1005 order by kl desc");
}

TEST_F(CdxOrder, AnIndexThatDisagreesWithTheTableIsNotWalked) {
  // Rows written while the flag was off: a stale key puts a row out of
  // order; a record without a key is missed by a full walk. Either way the
  // statement scans instead.
  SetIndexFlag(indexed_, "m1005", false);
  OnBoth("update m1005 set kl = 3 where kl + 0 = 14");
  SetIndexFlag(indexed_, "m1005", true);
  for (const char* sql : {"select * from m1005 order by kl", "select * from m1005 order by kl desc",
                          "select * from m1005 where uch = 2 order by kl"})
    ExpectSameRows(sql);
  OnBoth("insert into m1042 (kl) values (1)");
  SetIndexFlag(indexed_, "m1042", false);
  OnBoth("insert into m1042 (kl) values (2)");
  SetIndexFlag(indexed_, "m1042", true);
  ExpectSameRows("select * from m1042 order by kl desc");
  EXPECT_EQ(RowsRead(indexed_, "select * from m1042 order by kl desc"), 1u + 2u);  // walk, then scan
}

TEST_F(CdxOrder, UpdateFindsItsRowsThroughTheIndex) {
  for (const char* v : {"112233", "1122334", "11223", "0", "112233", "x112233"}) {
    OnBoth(std::string("insert into m1042 (kl, data_vizc) values (1, '") + v + "')");
  }
  OnBoth("insert into m1042 (kl) values (2)");
  const std::string updates[] = {
      "update m1042 set kto = 'a' where data_vizc = '112233'",
      "update m1042 set kto = 'b' where data_vizc = '1122'",    // up to the shorter operand
      "update m1042 set kto = 'c' where data_vizc == '11223'",  // exact
      "update m1042 set kto = 'd' where data_vizc = '112233  '",
      "update m1042 set kto = 'e' where data_vizc = '1122334455667'",  // longer than the column
      "update m1042 set data_vizc = '777' where data_vizc = '0'",     // changes the key itself
      "update m1042 set kl = kl + 10 where kl = 1 and data_vizc = '11'",
      "update m1005 set kod = kod + 1 where kl >= 14 and kl < 28.5",
      "update m1005 set note = 'n' where kl = 350",  // a deleted row
  };
  for (const auto& sql : updates) {
    OnBoth(sql);
    ExpectSameRows("select * from m1042");
    ExpectSameRows("select * from m1005");
  }
  EXPECT_EQ(testing::CheckTable(indexed_, "m1042"), "");
  EXPECT_EQ(testing::CheckTable(indexed_, "m1005"), "");
  // Only the named rows are read.
  EXPECT_EQ(RowsRead(indexed_, "update m1042 set kto = 'z' where data_vizc = '777'", false), 1u);
  EXPECT_EQ(RowsRead(plain_, "update m1042 set kto = 'z' where data_vizc = '777'", false), 7u);
  EXPECT_EQ(RowsRead(indexed_, "update m1005 set kod = 1 where kl = 7", false), 1u);
  EXPECT_GT(RowsRead(plain_, "update m1005 set kod = 1 where kl = 7", false), 400u);
  ExpectSameRows("select * from m1042");
  ExpectSameRows("select * from m1005");
}

// A changed key costs a read of the table only where a UNIQUE tag loses the
// record it lists and no other tag of that key lists the rest: then once
// per statement, however many rows change.
TEST_F(CdxOrder, ChangedKeysReadTheTableOnlyForAUniqueTagWithoutATwin) {
  const std::uint64_t all = ReadDbfImage(testing::Dbf(indexed_, "m1005")).record_count;
  const std::uint64_t low = RowsRead(indexed_, "select * from m1005 where kl < 701");
  ASSERT_GT(low, 10u);
  // Non-unique tags (KL, KLDESC, UCHKL, AKT; VIZC of m1042): only the row itself.
  EXPECT_EQ(RowsRead(indexed_, "update m1005 set kl = kl + 1 where kl = 7", false), 1u);
  for (int i = 0; i < 3; ++i) RunStatement(indexed_.string(), "insert into m1042 (kl, data_vizc) values (5, '112233')", false);
  EXPECT_EQ(RowsRead(indexed_, "update m1042 set data_vizc = '0' where data_vizc = '112233'", false), 3u);
  EXPECT_EQ(testing::CheckTable(indexed_, "m1042"), "");
  // UCHU is UNIQUE on UCH with no twin: one pass for the whole statement.
  const std::uint64_t moved = RowsRead(indexed_, "update m1005 set uch = uch + 100 where kl < 701", false);
  EXPECT_EQ(moved, low + all);
  EXPECT_EQ(testing::CheckTable(indexed_, "m1005"), "");
  // With a plain tag on UCH beside it the replacement comes from that tag.
  DbfImage image = ReadDbfImage(testing::Dbf(indexed_, "m1005"));
  BuildIndex(testing::Cdx(indexed_, "m1005"), image.layout, testing::Source(image),
             {{"KL", "KL", "", false, false}, {"UCHU", "UCH", "", true, false}, {"UCH", "UCH", "", false, false}});
  EXPECT_EQ(RowsRead(indexed_, "update m1005 set uch = uch - 100 where kl < 701", false), low);
  EXPECT_EQ(testing::CheckTable(indexed_, "m1005"), "");
}

}  // namespace
}  // namespace ravelto::registry
