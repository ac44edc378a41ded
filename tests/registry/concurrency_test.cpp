// Several processes on one table: appends that interleave, appends killed at
// random moments, and locks held by another program.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <thread>

#include "registry/table/create_table.h"
#include "registry/table/file_io.h"
#include "tests/registry/registry_test_util.h"
#include "tests/support/child_role.h"

namespace ravelto::registry {
namespace {

using registry_test::Gateway;
using registry_test::TempFolder;

void CreateLog(const std::string& folder) {
  CreateTable(folder, "log", {{"who", 'C', 1}, {"id", 'N', 8}, {"note", 'M'}, {"at", 'T'}});
}

int PythonCount(const std::string& dbf) {
  std::string out;
  registry_test::RunCommand(registry_test::Python() + " -c \"import dbf; t = dbf.Table('" + dbf +
                                "'); t.open(); print(len([r for r in t if not dbf.is_deleted(r)]))\" 2>&1",
                            &out);
  return std::atoi(out.c_str());
}

bool PythonReady() {
  return registry_test::RunCommand(registry_test::Python() + " -c 'import dbf' 2>/dev/null") == 0;
}

// Appends rows 1..1000 marked `who` (args: folder, who).
RAVELTO_CHILD_ROLE(ThousandAppends) {
  SetDurableWrites(false);
  SetLockRetryPolicy({2000, std::chrono::milliseconds(1)});
  Gateway g(args.at(0));
  const std::string who = args.at(1);
  for (int i = 1; i <= 1000; ++i)
    g.Execute("insert into log (who, id, note, at) values ('" + who + "', " + std::to_string(i) + ", 'note " + who +
              std::to_string(i) + "', DATETIME())");
  return 0;
}

// Appends numbered rows until killed; creates the file `started` once its
// first row is in (args: folder, started).
RAVELTO_CHILD_ROLE(EndlessAppends) {
  SetDurableWrites(false);
  Gateway g(args.at(0));
  g.Open("select * from log");
  bool told = false;
  for (int i = g.query.RecordCount() + 1;; ++i) {
    g.Execute("insert into log (who, id, note) values ('K', " + std::to_string(i) + ", 'row " + std::to_string(i) +
              "')");
    if (!told) ravelto::testing::TouchFile(args.at(1));
    told = true;
  }
}

// Holds one lock byte of a file until the file `release` appears
// (args: path, position, ready, release).
RAVELTO_CHILD_ROLE(LockHolder) {
  const std::string& path = args.at(0);
  const int fd = OpenShared(path, true);
  ByteLock lock(fd, std::stoull(args.at(1)), "test", path);
  ravelto::testing::TouchFile(args.at(2));
  const bool released = ravelto::testing::WaitForFile(args.at(3));
  CloseFile(fd);
  return released ? 0 : 3;
}

TEST(Concurrency, TwoProcessesAppendingAThousandRowsEachLeaveTwoThousand) {
  TempFolder folder;
  CreateLog(folder.Path());
  auto a = ravelto::testing::StartChild("ThousandAppends", {folder.Path(), "A"});
  auto b = ravelto::testing::StartChild("ThousandAppends", {folder.Path(), "B"});
  EXPECT_EQ(a.Wait(), 0);
  EXPECT_EQ(b.Wait(), 0);
  Gateway g(folder.Path());
  g.Open("select * from log");
  ASSERT_EQ(g.query.RecordCount(), 2000);
  std::set<std::string> seen;
  for (g.query.First(); !g.query.Eof(); g.query.Next()) {
    const std::string key = g.query.AsText("who") + g.query.AsText("id");
    EXPECT_EQ(g.query.AsText("note"), "note " + key);
    seen.insert(key);
  }
  EXPECT_EQ(seen.size(), 2000u);
  if (PythonReady()) {
    EXPECT_EQ(PythonCount(folder.File("log.dbf")), 2000);
  }
}

TEST(Concurrency, AppendsKilledAtRandomMomentsLeaveWholeTables) {
  TempFolder folder;
  CreateLog(folder.Path());
  std::mt19937 random(42);
  int expectedAtLeast = 0;
  for (int round = 0; round < 25; ++round) {
    // The child says when its first row is in; the kill comes at a random
    // moment after that, in the middle of its appends.
    const std::string started = folder.File("started" + std::to_string(round));
    auto child = ravelto::testing::StartChild("EndlessAppends", {folder.Path(), started});
    ASSERT_TRUE(ravelto::testing::WaitForFile(started)) << "round " << round;
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 20000));
    child.Kill();
    Gateway g(folder.Path());
    g.Open("select * from log");
    const int count = g.query.RecordCount();
    EXPECT_GE(count, expectedAtLeast);
    expectedAtLeast = count;
    int id = 0;
    for (g.query.First(); !g.query.Eof(); g.query.Next()) {
      ++id;
      ASSERT_EQ(g.query.AsInteger("id"), id) << "round " << round;
      ASSERT_EQ(g.query.AsText("note"), "row " + std::to_string(id)) << "round " << round;
    }
    if (PythonReady() && round % 5 == 4) {
      EXPECT_EQ(PythonCount(folder.File("log.dbf")), count);
    }
  }
  EXPECT_GT(expectedAtLeast, 0);
}

// A child holds one lock byte of a file while the object lives.
class LockHolder {
 public:
  LockHolder(const std::string& path, std::uint64_t position)
      : ready_(path + ".ready"), release_(path + ".release"),
        child_(ravelto::testing::StartChild("LockHolder", {path, std::to_string(position), ready_, release_})) {
    if (!ravelto::testing::WaitForFile(ready_)) throw std::runtime_error("holder failed");
  }
  ~LockHolder() {
    ravelto::testing::TouchFile(release_);
    child_.Wait();
    std::remove(ready_.c_str());
    std::remove(release_.c_str());
  }

 private:
  std::string ready_;
  std::string release_;
  ravelto::platform::ChildProcess child_;
};

TEST(Concurrency, LocksHeldElsewhereFailClearlyAndWriteNothing) {
  TempFolder folder;
  CreateLog(folder.Path());
  Gateway g(folder.Path());
  g.Execute("insert into log (who, id) values ('A', 1)");
  SetLockRetryPolicy({3, std::chrono::milliseconds(1)});
  const std::string dbf = folder.File("log.dbf");
  const std::string before = registry_test::ReadBytes(dbf);
  {
    LockHolder holder(dbf, 0x7FFFFFFE);
    EXPECT_EQ(g.ExecuteError("insert into log (who, id) values ('B', 2)"),
              "Table 'log' is in use by another user (" + dbf + ")");
  }
  {
    LockHolder holder(dbf, 0x7FFFFFFE - 1);
    EXPECT_EQ(g.ExecuteError("update log set id = 5 where who = 'A'"),
              "Record 1 of table 'log' is in use by another user (" + dbf + ")");
  }
  {
    LockHolder holder(folder.File("log.fpt"), 0x40000000);
    EXPECT_EQ(g.ExecuteError("insert into log (who, note) values ('C', 'memo')"),
              "Memo file of table 'log' is in use by another user (" + folder.File("log.fpt") + ")");
  }
  EXPECT_EQ(registry_test::ReadBytes(dbf), before);
  SetLockRetryPolicy({});
  EXPECT_EQ(g.Execute("update log set id = 5 where who = 'A'"), 1);
}

}  // namespace
}  // namespace ravelto::registry
