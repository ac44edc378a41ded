#include "maintenance/launch_commands.h"

#include <filesystem>

#include "platform/files.h"
#include "platform/process.h"

namespace ravelto::maintenance {
namespace {

std::string JoinCommandLine(const std::string& program, const std::vector<std::string>& arguments) {
  std::string line = program;
  for (const std::string& argument : arguments) {
    line += ' ';
    line += argument;
  }
  return line;
}

}  // namespace

HostKind CurrentHost() { return platform::kWindowsHost ? HostKind::kWindows : HostKind::kPosix; }

std::optional<std::string> FindProgramInPath(std::string_view name, std::string_view pathVariable) {
  if (name.empty()) return std::nullopt;
  std::size_t start = 0;
  while (start <= pathVariable.size()) {
    std::size_t end = pathVariable.find(kPathListSeparator, start);
    if (end == std::string_view::npos) end = pathVariable.size();
    const std::string_view folder = pathVariable.substr(start, end - start);
    if (!folder.empty()) {
      const std::string candidate = platform::PathText(platform::NativePath(std::string(folder)) /
                                                       platform::NativePath(std::string(name)));
      if (platform::IsExecutableFile(candidate)) return candidate;
    }
    start = end + 1;
  }
  return std::nullopt;
}

LaunchCommand UpdateLaunch(HostKind host, std::string_view pathVariable, long deskPid) {
  LaunchCommand command;
  if (host == HostKind::kWindows) {
    command.program = "cmd.exe";
    command.arguments = {"/c", "update.bat"};
    command.commandLine = "update.bat";
    return command;
  }
  const std::vector<std::string> script = {"update.sh", std::to_string(deskPid)};
  if (auto terminal = FindProgramInPath("x-terminal-emulator", pathVariable)) {
    command.program = *terminal;
    command.arguments = {"-e", "/bin/sh"};
  } else {
    command.program = "/bin/sh";
  }
  command.arguments.insert(command.arguments.end(), script.begin(), script.end());
  command.commandLine = JoinCommandLine(command.program, command.arguments);
  return command;
}

LaunchCommand DriverInstallerLaunch(HostKind host, std::string_view pathVariable) {
  LaunchCommand command;
  command.commandLine = std::string(kDriverInstallerCommandLine);
  if (host == HostKind::kWindows) {
    command.program = "msiexec";
    command.arguments = {"/passive", "/i", "odbc.msi", "ALLUSERS=\"1\"", "REBOOT=\"R\""};
    return command;
  }
  if (auto installer = FindProgramInPath("msiexec", pathVariable)) {
    // Passed as separate arguments, the property values need no quotes:
    // ALLUSERS=1 means to the installer what ALLUSERS="1" means on a command line.
    command.program = *installer;
    command.arguments = {"/passive", "/i", "odbc.msi", "ALLUSERS=1", "REBOOT=R"};
    command.commandLine = JoinCommandLine(command.program, command.arguments);
    return command;
  }
  command.note =
      "msiexec was not found on the PATH: odbc.msi is kept in the working folder "
      "and no installer was started";
  return command;
}

}  // namespace ravelto::maintenance
