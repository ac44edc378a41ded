#pragma once
// What the maintenance handlers start, as data: the window hands a
// LaunchCommand to its platform layer, which starts it in a shown window
// without waiting. Nothing here starts a process.
//
// Windows: the update runs "update.bat" through the command interpreter and
// the driver runs "msiexec /passive /i odbc.msi ALLUSERS="1" REBOOT="R"";
// `commandLine` holds each exactly as one Windows command line.
//
// Elsewhere (no command interpreter, usually no Windows installer):
// - the update runs "update.sh" (see update_scripts.h) with the desk's process
//   id, inside x-terminal-emulator when one is on the PATH so that the operator
//   sees the message and can press Enter, else directly through /bin/sh;
// - the driver runs `msiexec` when one is on the PATH (Wine provides one),
//   with the same arguments; otherwise nothing is started and `note` says why.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/process.h"

namespace ravelto::maintenance {

enum class HostKind { kWindows, kPosix };

// The kind of system this program was built for.
HostKind CurrentHost();

struct LaunchCommand {
  std::string program;                 // empty: nothing to start
  std::vector<std::string> arguments;  // each passed as one argument
  std::string commandLine;             // the whole command as one line
  std::string note;                    // when program is empty: why
};

// The exact Windows command line of the driver installer.
inline constexpr std::string_view kDriverInstallerCommandLine =
    "msiexec /passive /i odbc.msi ALLUSERS=\"1\" REBOOT=\"R\"";

// The separator of the folders in a PATH value: ':' on POSIX, ';' on Windows.
inline constexpr char kPathListSeparator = platform::kPathListSeparator;

// Looks `name` up in the folders of `pathVariable` (a PATH value, folders
// separated by kPathListSeparator; an empty folder, which would mean the
// current one, is skipped) and returns the first regular executable file
// found (on Windows any regular file: no permission bit marks programs there).
// Names are Windows-1251 text.
std::optional<std::string> FindProgramInPath(std::string_view name, std::string_view pathVariable);

// The command that runs the update script. deskPid is this program's process
// id; the POSIX script uses it to end the desk.
LaunchCommand UpdateLaunch(HostKind host, std::string_view pathVariable, long deskPid);

// The command that runs the driver installer on "odbc.msi".
LaunchCommand DriverInstallerLaunch(HostKind host, std::string_view pathVariable);

}  // namespace ravelto::maintenance
