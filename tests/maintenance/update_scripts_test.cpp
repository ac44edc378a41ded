#include "maintenance/update_scripts.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

#include "tests/maintenance/expected_update_bat.h"
#include "tests/maintenance/temp_folder.h"

#ifndef _WIN32
#include <signal.h>
#include <sys/stat.h>
#endif

namespace ravelto::maintenance {
namespace {

using testing::ReadFile;
using testing::TempFolder;
using testing::WriteFile;

TEST(UpdateBatchScript, IsTheSevenLinesByteForByte) {
  EXPECT_EQ(UpdateBatchScript(), testing::ExpectedUpdateBat());
}

// update.sh is written and run only on POSIX hosts (DownloadUpdate leaves it
// out for Windows); running it needs /bin/sh, /bin/sleep and /proc.
#ifdef _WIN32
constexpr const char* kNoPosixShell =
    "update.sh runs only on POSIX hosts: Windows has no /bin/sh, /bin/sleep or /proc";
#else

// Runs a shell command and returns its exit status.
int RunShell(const std::string& command) { return std::system(command.c_str()); }

// Starts `program args` in `folder` in the background, detached from this
// process, and returns its process id.
long StartInBackground(const std::filesystem::path& folder, const std::string& commandLine) {
  const auto pidFile = folder / "started.pid";
  RunShell("cd '" + folder.string() + "' && (" + commandLine + " >/dev/null 2>&1 & echo $! > started.pid)");
  return std::stol(ReadFile(pidFile));
}

// A process that is gone or only waits to be reaped no longer runs.
bool IsRunning(long pid) {
  const std::string stat = ReadFile("/proc/" + std::to_string(pid) + "/stat");
  if (stat.empty()) return false;
  const auto close = stat.rfind(')');
  return close != std::string::npos && close + 2 < stat.size() && stat[close + 2] != 'Z';
}

bool WaitForFile(const std::filesystem::path& path) {
  for (int i = 0; i < 200 && !std::filesystem::exists(path); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(25));
  }
  return std::filesystem::exists(path);
}
#endif

// The POSIX script does what update.bat does, in its order: it ends the
// running desk, puts the new program in its place, starts it and removes
// both scripts.
TEST(UpdateShellScript, SwapsInTheNewProgramAndStartsIt) {
#ifdef _WIN32
  GTEST_SKIP() << kNoPosixShell;
#else
  TempFolder folder;
  // The running desk: a copy of sleep named like the desk.
  std::filesystem::copy_file("/bin/sleep", folder / "ravelto");
  const long desk = StartInBackground(folder.path(), "./ravelto 60");
  ASSERT_TRUE(IsRunning(desk));
  WriteFile(folder / "raveltonew.exe", "#!/bin/sh\necho started > new-program-ran\n");
  WriteFile(folder / "update.bat", UpdateBatchScript());
  WriteFile(folder / "update.sh", UpdateShellScript());

  EXPECT_EQ(RunShell("cd '" + folder.path().string() + "' && sh update.sh " + std::to_string(desk) +
                " </dev/null >/dev/null 2>&1"),
            0);

  EXPECT_FALSE(IsRunning(desk));
  EXPECT_TRUE(WaitForFile(folder / "new-program-ran"));
  EXPECT_EQ(ReadFile(folder / "ravelto"), "#!/bin/sh\necho started > new-program-ran\n");
  struct stat info {};
  ASSERT_EQ(::stat((folder / "ravelto").c_str(), &info), 0);
  EXPECT_NE(info.st_mode & S_IXUSR, 0u);
  for (const char* gone : {"raveltonew.exe", "update.sh", "update.bat"}) {
    EXPECT_FALSE(std::filesystem::exists(folder / gone)) << gone;
  }
#endif
}

// The desk's process id may have been reused by the time the operator
// presses Enter; a process of another name must survive.
TEST(UpdateShellScript, LeavesAProcessOfAnotherNameAlone) {
#ifdef _WIN32
  GTEST_SKIP() << kNoPosixShell;
#else
  TempFolder folder;
  const long stranger = StartInBackground(folder.path(), "sleep 60");
  WriteFile(folder / "raveltonew.exe", "#!/bin/sh\n");
  WriteFile(folder / "update.sh", UpdateShellScript());
  RunShell("cd '" + folder.path().string() + "' && sh update.sh " + std::to_string(stranger) +
      " </dev/null >/dev/null 2>&1");
  EXPECT_TRUE(IsRunning(stranger));
  ::kill(static_cast<pid_t>(stranger), SIGKILL);
#endif
}

TEST(UpdateShellScript, WaitsForTheOperatorBeforeEndingAnything) {
  const std::string script = UpdateShellScript();
  const auto message = script.find("echo '\xD0\x94\xD0\xBE\xD0\xB6\xD0\xB4");
  const auto wait = script.find("read -r");
  const auto kill = script.find("kill -9");
  const auto move = script.find("mv -f raveltonew.exe './ravelto'");
  const auto start = script.find("nohup './ravelto'");
  const auto remove = script.find("rm -f update.bat");
  for (auto at : {message, wait, kill, move, start, remove}) ASSERT_NE(at, std::string::npos);
  EXPECT_LT(message, wait);
  EXPECT_LT(wait, kill);
  EXPECT_LT(kill, move);
  EXPECT_LT(move, start);
  EXPECT_LT(start, remove);
}

}  // namespace
}  // namespace ravelto::maintenance
