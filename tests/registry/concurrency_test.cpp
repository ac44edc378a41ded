// Several processes on one table: appends that interleave, appends killed at
// random moments, and locks held by another program.

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <set>

#include "registry/create_table.h"
#include "registry/file_io.h"
#include "tests/registry/registry_test_util.h"

namespace ravelto::registry {
namespace {

using registry_test::Gateway;
using registry_test::TempFolder;

// Runs `body` in a child process; returns its pid. The child exits 0 when
// the body returns, 1 when it throws.
template <typename Body>
pid_t Spawn(Body body) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    int code = 0;
    try {
      body();
    } catch (...) {
      code = 1;
    }
    ::_exit(code);
  }
  return pid;
}

int Wait(pid_t pid) {
  int status = 0;
  ::waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

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

TEST(Concurrency, TwoProcessesAppendingAThousandRowsEachLeaveTwoThousand) {
  TempFolder folder;
  CreateLog(folder.Path());
  auto writer = [&](const char* who) {
    return Spawn([&folder, who] {
      SetDurableWrites(false);
      SetLockRetryPolicy({2000, std::chrono::milliseconds(1)});
      Gateway g(folder.Path());
      for (int i = 1; i <= 1000; ++i)
        g.Execute(std::string("insert into log (who, id, note, at) values ('") + who + "', " + std::to_string(i) +
                  ", 'note " + who + std::to_string(i) + "', DATETIME())");
    });
  };
  const pid_t a = writer("A");
  const pid_t b = writer("B");
  EXPECT_EQ(Wait(a), 0);
  EXPECT_EQ(Wait(b), 0);
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
    int started[2];
    ASSERT_EQ(::pipe(started), 0);
    const pid_t child = Spawn([&folder, &started] {
      SetDurableWrites(false);
      Gateway g(folder.Path());
      g.Open("select * from log");
      for (int i = g.query.RecordCount() + 1;; ++i) {
        g.Execute("insert into log (who, id, note) values ('K', " + std::to_string(i) + ", 'row " +
                  std::to_string(i) + "')");
        if (started[1] >= 0) {
          const char c = 's';
          if (::write(started[1], &c, 1) != 1) return;
          ::close(started[1]);
          started[1] = -1;
        }
      }
    });
    char c = 0;
    ASSERT_EQ(::read(started[0], &c, 1), 1);
    ::close(started[0]);
    ::close(started[1]);
    ::usleep(static_cast<useconds_t>(random() % 20000));
    ::kill(child, SIGKILL);
    Wait(child);
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

// A child holds one lock byte of the table until the parent says so.
class LockHolder {
 public:
  LockHolder(const std::string& path, std::uint64_t position) {
    if (::pipe(ready_) != 0 || ::pipe(release_) != 0) throw std::runtime_error("pipe");
    pid_ = Spawn([this, path, position] {
      const int fd = OpenShared(path, true);
      ByteLock lock(fd, position, "test", path);
      char c = 'r';
      if (::write(ready_[1], &c, 1) != 1) return;
      if (::read(release_[0], &c, 1) != 1) return;
    });
    char c;
    if (::read(ready_[0], &c, 1) != 1) throw std::runtime_error("holder failed");
  }
  ~LockHolder() {
    char c = 'x';
    if (::write(release_[1], &c, 1) != 1) ::kill(pid_, SIGKILL);
    Wait(pid_);
    for (int fd : {ready_[0], ready_[1], release_[0], release_[1]}) ::close(fd);
  }

 private:
  int ready_[2];
  int release_[2];
  pid_t pid_;
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
