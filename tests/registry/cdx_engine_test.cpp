// The engine's INSERT and UPDATE keep the fixture indexes true, and refuse
// (writing nothing) when a tag cannot be reproduced.

#include <gtest/gtest.h>

#include <fstream>

#include "cdx_test_util.h"
#include "registry/cdx_index.h"
#include "registry/database_error.h"
#include "registry/file_io.h"
#include "registry/statement_runner.h"

namespace ravelto::registry {
namespace {

using testing::Cdx;
using testing::CheckTable;
using testing::CopyFixtures;
using testing::Dbf;

std::vector<char> Bytes(const std::filesystem::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

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
    auto dbf = Bytes(Dbf(folder, "m1042"));
    try {
      RunStatement(folder.string(), Accept(5, 61001), false);
      ADD_FAILURE() << "not refused";
    } catch (const DatabaseError& e) {
      EXPECT_EQ(std::string(e.what()).rfind("Cannot write to table 'm1042'", 0), 0u) << e.what();
      EXPECT_NE(std::string(e.what()).find("nothing was written"), std::string::npos) << e.what();
    }
    EXPECT_EQ(Bytes(Dbf(folder, "m1042")), dbf);
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
  auto dbf = Bytes(Dbf(folder, "m1042"));
  auto cdx = Bytes(Cdx(folder, "m1042"));
  try {
    RunStatement(folder.string(), Accept(5, 61001), false);
    FAIL() << "not refused";
  } catch (const DatabaseError& e) {
    EXPECT_NE(std::string(e.what()).find("index tag VIZC (DATA_VIZC, collation RUSSIAN) cannot be maintained"),
              std::string::npos)
        << e.what();
  }
  EXPECT_EQ(Bytes(Dbf(folder, "m1042")), dbf);
  EXPECT_EQ(Bytes(Cdx(folder, "m1042")), cdx);
}

}  // namespace
}  // namespace ravelto::registry

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>

#include "registry/cdx_maintainer.h"

namespace ravelto::registry {
namespace {

// An engine writer killed at random moments: once the next write has
// recovered from the journal, the table and its index are both before or
// both after the interrupted row.
TEST(CdxEngine, KilledInsertsLeaveTableAndIndexBeforeOrAfterTheRow) {
  SetDurableWrites(false);
  std::mt19937 rng(11);
  for (int round = 0; round < 10; ++round) {
    auto folder = testing::CopyFixtures();
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (int i = 0;; ++i) {
        RunStatement(folder.string(), Accept(i % 300, 61000 + i % 40), false);
        if (i % 5 == 4) RunStatement(folder.string(), "UPDATE m1042 SET data_vizc='0',kw=kw+1 WHERE data_vizc='112233'", false);
      }
    }
    ::usleep(30000 + static_cast<useconds_t>(rng() % 150000));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    RunStatement(folder.string(), Accept(1, 61001), false);  // recovers, then writes
    EXPECT_FALSE(std::filesystem::exists(PendingMarkerPath(Cdx(folder, "m1042"))));
    EXPECT_EQ(CheckTable(folder, "m1042"), "") << "round " << round;
  }
}

}  // namespace
}  // namespace ravelto::registry
