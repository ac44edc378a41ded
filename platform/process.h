#pragma once
// Child processes started with an argument list: posix_spawn on POSIX,
// CreateProcessW on Windows (arguments quoted as the C runtime reads them).
// Used where a program of ours must run beside another copy of itself, for
// example two writers on one table.

#include <string>
#include <vector>

namespace ravelto::platform {

class ChildProcess {
 public:
  ChildProcess() = default;
  // Starts `program` (a path, Windows-1251) with `arguments`; throws
  // std::runtime_error naming the program when it cannot be started.
  ChildProcess(const std::string& program, const std::vector<std::string>& arguments);
  ~ChildProcess();  // kills a child still running and waits for it
  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess& operator=(ChildProcess&& other) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Waits for the end; the exit code, or -1 when the child was killed.
  int Wait();
  // Ends the child at once, as a crash or a power cut would (SIGKILL or
  // TerminateProcess), and waits for it.
  void Kill();
  bool Started() const;

 private:
  void Release();
#ifdef _WIN32
  void* process_ = nullptr;
#else
  int pid_ = -1;
#endif
  bool done_ = false;
  bool killed_ = false;
  int code_ = -1;
};

// Starts `commandLine` (Windows-1251) the way the desk's maintenance
// commands must run: without waiting, from the current working folder, in a
// window the operator sees. On Windows the line goes to CreateProcessW
// exactly as written (no quoting added: it is the child's whole command
// line, and a batch file such as "update.bat" runs in the command
// interpreter) with a new, shown console, as WinExec(line, SW_SHOW) starts
// it from a windowed program. On POSIX /bin/sh runs the line in the
// background. False when it could not be started; nothing is thrown.
bool StartShown(const std::string& commandLine);

// The path of the running program.
std::string CurrentProgram();

// Whether this build runs on Windows (else on POSIX).
#ifdef _WIN32
inline constexpr bool kWindowsHost = true;
#else
inline constexpr bool kWindowsHost = false;
#endif

// The separator of the folders in a PATH value: ';' on Windows, ':' on POSIX.
inline constexpr char kPathListSeparator = kWindowsHost ? ';' : ':';

// Whether `path` names an existing file this user may run. On Windows any
// existing file counts: no permission bit marks a file as a program there.
bool IsExecutableFile(const std::string& path);

}  // namespace ravelto::platform
