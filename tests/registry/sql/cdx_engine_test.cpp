// The engine's INSERT and UPDATE keep the fixture indexes true, and refuse
// (writing nothing) when a tag cannot be reproduced.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>

#include "registry/index/cdx_index.h"
#include "registry/index/cdx_key.h"
#include "registry/index/cdx_maintainer.h"
#include "registry/sql/statement_runner.h"
#include "registry/table/database_error.h"
#include "registry/table/file_io.h"
#include "tests/registry/index/cdx_test_util.h"

namespace ravelto::registry {
namespace {

using testing::Cdx;
using testing::CheckTable;
using testing::CopyFixtures;
using testing::Dbf;
using testing::FileBytes;


std::string Accept(int kl, int kw) {
  return "insert into m1042 (kl,data_vizc,kto,prich_v,telef,stree1_f,street_f,house_f,kv_f,kr_f,knacp_f,nnacp_f,kw)"
         " values (" + std::to_string(kl) + ",'112233','ZUVA','\xE3\xEE\xEB\xEE\xE2\xED\xE0\xFF \xE1\xEE\xEB\xFC','555',1,"
         "'\xCB\xE5\xED\xE8\xED\xE0','1','2',3,4,'\xCC\xEE\xF1\xEA\xE2\xE0'," + std::to_string(kw) + ")";
}

TEST(CdxEngine, AcceptedRequestsKeepTheHomeVisitIndexTrue) {
  SetDurableWrites(false);
  auto folder = CopyFixtures();
  for (int i = 0; i < 300; ++i) {
    RunStatement(folder.string(), Accept(1000 + (i * 37) % 250, 61000 + i % 40), false);
    if (i % 3 == 0) {
      RunStatement(folder.string(), "UPDATE m1042 SET data_vizc='0',tosh=1,kw=kw+1 WHERE data_vizc='112233'", false);
    }
  }
  EXPECT_EQ(CheckTable(folder, "m1042"), "");
  auto out = RunStatement(folder.string(), "select * from m1042 where data_vizc='112233'", true);
  EXPECT_EQ(out.result->rows.size(), 2u);  // the two accepted after the last update
}

TEST(CdxEngine, AnUnreadableOrMissingIndexRefusesTheInsert) {
  SetDurableWrites(false);
  for (bool missing : {false, true}) {
    auto folder = CopyFixtures();
    if (missing) {
      std::filesystem::remove(Cdx(folder, "m1042"));
    } else {
      std::filesystem::resize_file(Cdx(folder, "m1042"), 700);
    }
    auto dbf = FileBytes(Dbf(folder, "m1042"));
    try {
      RunStatement(folder.string(), Accept(5, 61001), false);
      ADD_FAILURE() << "not refused";
    } catch (const DatabaseError& e) {
      EXPECT_EQ(std::string(e.what()).rfind("Cannot write to table 'm1042'", 0), 0u) << e.what();
      EXPECT_NE(std::string(e.what()).find("nothing was written"), std::string::npos) << e.what();
    }
    EXPECT_EQ(FileBytes(Dbf(folder, "m1042")), dbf);
  }
}

TEST(CdxEngine, AnUnreproducibleTagRefusesTheInsertAndNothingIsWritten) {
  SetDurableWrites(false);
  auto folder = CopyFixtures();
  uint32_t at = 0;
  {
    FileCdxStore store(Cdx(folder, "m1042"), false);
    at = CdxIndex(store).FindTag("VIZC")->header_offset;
  }
  {
    std::fstream f(Cdx(folder, "m1042"), std::ios::binary | std::ios::in | std::ios::out);
    f.seekp(at + 494);
    f.write("RUSSIAN", 7);
  }
  auto dbf = FileBytes(Dbf(folder, "m1042"));
  auto cdx = FileBytes(Cdx(folder, "m1042"));
  try {
    RunStatement(folder.string(), Accept(5, 61001), false);
    FAIL() << "not refused";
  } catch (const DatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("index tag VIZC (DATA_VIZC, collation RUSSIAN) cannot be maintained"),
              std::string::npos)
        << e.what();
  }
  EXPECT_EQ(FileBytes(Dbf(folder, "m1042")), dbf);
  EXPECT_EQ(FileBytes(Cdx(folder, "m1042")), cdx);
}

// The leaf of tag KL that holds (or would hold) the key of kl, and its bytes.
std::pair<uint32_t, std::vector<char>> LeafOfKl(const std::filesystem::path& folder, double kl) {
  FileCdxStore store(Cdx(folder, "m1042"), false);
  CdxIndex index(store);
  const CdxTagHeader& tag = *index.FindTag("KL");
  const std::string key = NumberKey(kl);
  CdxNode node = index.ReadNode(tag.root, tag.key_length, 0);
  while (!node.IsLeaf()) {
    auto e = std::find_if(node.entries.begin(), node.entries.end(), [&](const CdxEntry& x) { return x.key >= key; });
    node = index.ReadNode(e == node.entries.end() ? node.entries.back().child : e->child, tag.key_length, 0);
  }
  std::vector<uint8_t> page(cdx::kPageSize);
  store.Read(node.offset, page);
  return {node.offset, std::vector<char>(page.begin(), page.end())};
}

void Overwrite(const std::filesystem::path& file, uint64_t at, const std::vector<char>& bytes) {
  std::fstream f(file, std::ios::binary | std::ios::in | std::ios::out);
  f.seekp(static_cast<std::streamoff>(at));
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

// A row the index cannot take, whatever the reason, leaves the table, its
// memo file and its index byte for byte as they were, and no journal: a key
// that cannot be computed (an empty date-time in the ZAPIS tag), or a
// damaged page on the new key's way down.
TEST(CdxEngine, ARowTheIndexCannotTakeLeavesEveryFileAsItWas) {
  SetDurableWrites(false);
  auto folder = CopyFixtures();
  for (int i = 0; i < 400; ++i) RunStatement(folder.string(), Accept(10 * i, 61000 + i % 40), false);
  auto [leaf, page] = LeafOfKl(folder, 2005);
  std::vector<char> damaged = page;
  damaged[0] = 7;  // no such node attribute
  Overwrite(Cdx(folder, "m1042"), leaf, damaged);
  struct Case {
    const char* table;
    std::string sql;
    const char* expected;
  } cases[] = {
      {"m1005", "insert into m1005 (kl,fiol,prim) values (1,'X','ìåìî')",
       "the key of index tag ZAPIS cannot be computed exactly for this row"},
      {"m1042", Accept(2005, 61001), "has the unknown attribute 7"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.table);
    const std::filesystem::path fpt = folder / (std::string(c.table) + ".fpt");
    auto dbf = FileBytes(Dbf(folder, c.table)), cdx = FileBytes(Cdx(folder, c.table)), memo = FileBytes(fpt);
    try {
      RunStatement(folder.string(), c.sql, false);
      ADD_FAILURE() << "not refused";
    } catch (const DatabaseError& e) {
      EXPECT_NE(std::string(e.what()).find(c.expected), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find("nothing was written"), std::string::npos) << e.what();
    }
    EXPECT_EQ(FileBytes(Dbf(folder, c.table)), dbf);
    EXPECT_EQ(FileBytes(fpt), memo);
    EXPECT_EQ(FileBytes(Cdx(folder, c.table)), cdx);
    EXPECT_FALSE(std::filesystem::exists(PendingMarkerPath(Cdx(folder, c.table))));
  }
  Overwrite(Cdx(folder, "m1042"), leaf, page);
  RunStatement(folder.string(), Accept(2005, 61001), false);
  EXPECT_EQ(CheckTable(folder, "m1042"), "");
}

// One statement moves 200 KL keys of the dense table from around a leaf
// another writer packed full (KL 54465) to around another (KL 60385), over
// three leaves packed to within a few bytes. With the last of those damaged,
// the statement stops at the first row that needs it (its key goes there, or
// a split of the leaf before it relinks it): the rows before it are written
// and indexed, the rest untouched.
TEST(CdxEngine, AMultiRowUpdateAcrossFullLeavesStopsAtTheRowTheIndexRefuses) {
  SetDurableWrites(false);
  const std::string update = "update m1042 set kl = kl + 6000, kto = 'MOVD' where kl >= 54000 and kl <= 55000";
  auto moved = [](const std::filesystem::path& folder) {
    return RunStatement(folder.string(), "select * from m1042 where kto = 'MOVD'", true).result->rows.size();
  };
  auto folder = CopyFixtures("registry-cdx-dense");
  EXPECT_EQ(RunStatement(folder.string(), update, false).rowsAffected, 200);
  EXPECT_EQ(CheckTable(folder, "m1042"), "");

  folder = CopyFixtures("registry-cdx-dense");
  auto [leaf, page] = LeafOfKl(folder, 61000);
  std::vector<char> damaged = page;
  damaged[0] = 7;
  Overwrite(Cdx(folder, "m1042"), leaf, damaged);
  EXPECT_THROW(RunStatement(folder.string(), update, false), DatabaseError);
  EXPECT_FALSE(std::filesystem::exists(PendingMarkerPath(Cdx(folder, "m1042"))));
  Overwrite(Cdx(folder, "m1042"), leaf, page);
  EXPECT_EQ(CheckTable(folder, "m1042"), "");
  EXPECT_GT(moved(folder), 0u);
  EXPECT_LT(moved(folder), 200u);
}

}  // namespace
}  // namespace ravelto::registry

#include <random>
#include <thread>

#include "platform/files.h"
#include "registry/index/cdx_maintainer.h"
#include "tests/support/child_role.h"

namespace ravelto::registry {
namespace {

// A registry folder whose name has Cyrillic letters (Windows-1251 bytes, as
// the settings hold it) is written with its index kept true; on Windows the
// folder is found under its real Unicode name.
TEST(CdxEngine, RegistryInACyrillicFolderIsWrittenWithItsIndex) {
  SetDurableWrites(false);
  const auto base = CopyFixtures();
  const std::string folder = platform::PathText(base) + "/\xD0\xE5\xE3\xE8\xF1\xF2\xF0";  // "Регистр"
  const auto native = platform::NativePath(folder);
  std::filesystem::create_directory(native);
  for (const char* name : {"m1042.dbf", "m1042.cdx", "m1042.fpt"}) std::filesystem::copy_file(base / name, native / name);
  const uint32_t before = ReadDbfImage(native / "m1042.dbf").record_count;
  RunStatement(folder, Accept(5, 61001), false);
  RunStatement(folder, "UPDATE m1042 SET data_vizc='0',kw=kw+1 WHERE data_vizc='112233'", false);
  EXPECT_EQ(ReadDbfImage(native / "m1042.dbf").record_count, before + 1);
  EXPECT_EQ(CheckTable(native, "m1042"), "");
#ifdef _WIN32
  EXPECT_TRUE(std::filesystem::exists(base / L"\u0420\u0435\u0433\u0438\u0441\u0442\u0440" / L"m1042.cdx"));
#endif
}

// Accepts and marks visits until killed; creates the file `started` after
// its first statement (args: folder, started).
RAVELTO_CHILD_ROLE(EngineWriter) {
  SetDurableWrites(false);
  for (int i = 0;; ++i) {
    RunStatement(args.at(0), Accept(i % 300, 61000 + i % 40), false);
    if (i % 5 == 4) RunStatement(args.at(0), "UPDATE m1042 SET data_vizc='0',kw=kw+1 WHERE data_vizc='112233'", false);
    if (i == 0) ::ravelto::testing::TouchFile(args.at(1));
  }
}

// An engine writer killed at random moments: once the next write has
// recovered from the journal, the table and its index are both before or
// both after the interrupted row.
TEST(CdxEngine, KilledInsertsLeaveTableAndIndexBeforeOrAfterTheRow) {
  SetDurableWrites(false);
  std::mt19937 rng(11);
  for (int round = 0; round < 10; ++round) {
    auto folder = testing::CopyFixtures();
    const std::string started = (folder / "started").string();
    auto child = ::ravelto::testing::StartChild("EngineWriter", {folder.string(), started});
    ASSERT_TRUE(::ravelto::testing::WaitForFile(started)) << "round " << round;
    std::this_thread::sleep_for(std::chrono::microseconds(30000 + rng() % 150000));
    child.Kill();
    RunStatement(folder.string(), Accept(1, 61001), false);  // recovers, then writes
    EXPECT_FALSE(std::filesystem::exists(PendingMarkerPath(Cdx(folder, "m1042"))));
    EXPECT_EQ(CheckTable(folder, "m1042"), "") << "round " << round;
  }
}

}  // namespace
}  // namespace ravelto::registry
