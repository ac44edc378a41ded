#pragma once
// The scripts that swap the running desk for a downloaded version.
//
// "update.bat" is the Windows command script, byte for byte the same on every
// platform: seven lines, each ended by CR LF, all ASCII except the Russian
// words of line 1, which are in code page 866 because the Windows console
// shows batch output in the OEM code page:
//   echo Дождитесь завершения Lorvex и нажмите любую клавишу
//   pause
//   taskkill /F /IM ravelto.exe
//   del ravelto.exe
//   rename raveltonew.exe ravelto.exe
//   start ravelto.exe
//   del update.bat
//
// "update.sh" is its equivalent for systems without the Windows command
// interpreter, doing the same seven things in the same order (see
// UpdateShellScript).

#include <string>
#include <string_view>

namespace ravelto::maintenance {

inline constexpr std::string_view kNewProgramFileName = "raveltonew.exe";
inline constexpr std::string_view kUpdateBatchFileName = "update.bat";
inline constexpr std::string_view kUpdateShellFileName = "update.sh";
inline constexpr std::string_view kDriverPackageFileName = "odbc.msi";

// The bytes of "update.bat".
std::string UpdateBatchScript();

// The text of "update.sh", a POSIX shell script (Russian text in UTF-8, for
// the terminal) run as `sh update.sh <desk pid>` from the working folder:
//   1. prints the line-1 message;
//   2. waits for Enter (returns at once when standard input is closed);
//   3. ends the desk by force: kills <desk pid> when that process is still
//      named `programName` (never another process that reused the number),
//      and waits up to five seconds for it to go;
//   4. removes ./<programName>;
//   5. moves raveltonew.exe to ./<programName> and makes it executable;
//   6. starts ./<programName> in the background, detached from the script;
//   7. removes update.bat and itself.
std::string UpdateShellScript(std::string_view programName = "ravelto");

}  // namespace ravelto::maintenance
