#include "maintenance/launch_commands.h"

#include <gtest/gtest.h>

#include "tests/maintenance/temp_folder.h"

namespace ravelto::maintenance {
namespace {

using testing::TempFolder;
using testing::WriteFile;

namespace fs = std::filesystem;

void MakeProgram(const fs::path& path, bool executable = true) {
  WriteFile(path, "#!/bin/sh\n");
  fs::permissions(path, executable ? fs::perms(0755) : fs::perms(0644));
}

// Windows files carry no execute bit, so there every regular file counts as
// a program.
#ifdef _WIN32
constexpr bool kFilesHaveExecuteBits = false;
#else
constexpr bool kFilesHaveExecuteBits = true;
#endif

TEST(FindProgramInPath, TakesTheFirstExecutableFileInPathOrder) {
  TempFolder first, second;
  if (kFilesHaveExecuteBits) MakeProgram(first / "msiexec", /*executable=*/false);
  std::filesystem::create_directory(first / "x-terminal-emulator");  // a folder, not a program
  MakeProgram(second / "msiexec");
  MakeProgram(second / "x-terminal-emulator");
  const std::string sep(1, kPathListSeparator);
  const std::string path = sep + sep + first.path().string() + sep + second.path().string() + sep;
  EXPECT_EQ(FindProgramInPath("msiexec", path), (second / "msiexec").string());
  EXPECT_EQ(FindProgramInPath("x-terminal-emulator", path), (second / "x-terminal-emulator").string());
  EXPECT_EQ(FindProgramInPath("wine", path), std::nullopt);
  EXPECT_EQ(FindProgramInPath("msiexec", ""), std::nullopt);
}

TEST(UpdateLaunch, RunsTheBatchFileOnWindowsAndTheShellScriptElsewhere) {
  TempFolder withTerminal, bare;
  MakeProgram(withTerminal / "x-terminal-emulator");

  const LaunchCommand windows = UpdateLaunch(HostKind::kWindows, withTerminal.path().string(), 42);
  EXPECT_EQ(windows.commandLine, "update.bat");
  EXPECT_EQ(windows.program, "cmd.exe");
  EXPECT_EQ(windows.arguments, (std::vector<std::string>{"/c", "update.bat"}));

  const LaunchCommand terminal = UpdateLaunch(HostKind::kPosix, withTerminal.path().string(), 4242);
  EXPECT_EQ(terminal.program, (withTerminal / "x-terminal-emulator").string());
  EXPECT_EQ(terminal.arguments, (std::vector<std::string>{"-e", "/bin/sh", "update.sh", "4242"}));

  const LaunchCommand direct = UpdateLaunch(HostKind::kPosix, bare.path().string(), 7);
  EXPECT_EQ(direct.program, "/bin/sh");
  EXPECT_EQ(direct.arguments, (std::vector<std::string>{"update.sh", "7"}));
  EXPECT_EQ(direct.commandLine, "/bin/sh update.sh 7");
}

TEST(DriverInstallerLaunch, NamesMsiexecOrSaysWhyNothingStarts) {
  TempFolder withInstaller, bare;
  MakeProgram(withInstaller / "msiexec");

  const LaunchCommand windows = DriverInstallerLaunch(HostKind::kWindows, "");
  EXPECT_EQ(windows.commandLine, "msiexec /passive /i odbc.msi ALLUSERS=\"1\" REBOOT=\"R\"");
  EXPECT_EQ(windows.program, "msiexec");
  EXPECT_EQ(windows.arguments,
            (std::vector<std::string>{"/passive", "/i", "odbc.msi", "ALLUSERS=\"1\"", "REBOOT=\"R\""}));
  EXPECT_TRUE(windows.note.empty());

  const LaunchCommand wine = DriverInstallerLaunch(HostKind::kPosix, withInstaller.path().string());
  EXPECT_EQ(wine.program, (withInstaller / "msiexec").string());
  EXPECT_EQ(wine.arguments,
            (std::vector<std::string>{"/passive", "/i", "odbc.msi", "ALLUSERS=1", "REBOOT=R"}));
  EXPECT_TRUE(wine.note.empty());

  const LaunchCommand none = DriverInstallerLaunch(HostKind::kPosix, bare.path().string());
  EXPECT_TRUE(none.program.empty());
  EXPECT_TRUE(none.arguments.empty());
  EXPECT_NE(none.note.find("msiexec"), std::string::npos);
}

}  // namespace
}  // namespace ravelto::maintenance
