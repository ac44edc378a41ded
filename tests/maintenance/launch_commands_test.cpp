#include "maintenance/launch_commands.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "tests/maintenance/temp_folder.h"

namespace ravelto::maintenance {
namespace {

using testing::TempFolder;
using testing::WriteFile;

void MakeProgram(const std::filesystem::path& path, bool executable = true) {
  WriteFile(path, "#!/bin/sh\n");
  ::chmod(path.c_str(), executable ? 0755 : 0644);
}

TEST(FindProgramInPath, TakesTheFirstExecutableFileInPathOrder) {
  TempFolder first, second;
  MakeProgram(first / "msiexec", /*executable=*/false);
  std::filesystem::create_directory(first / "x-terminal-emulator");  // a folder, not a program
  MakeProgram(second / "msiexec");
  MakeProgram(second / "x-terminal-emulator");
  const std::string path = "::" + first.path().string() + ":" + second.path().string() + ":";
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
