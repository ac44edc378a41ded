#include "platform/process.h"

#include <stdexcept>
#include <utility>

#include "platform/files.h"

#ifdef _WIN32
#include "platform/windows_api.h"
#else
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

extern char** environ;
#endif

namespace ravelto::platform {

#ifdef _WIN32

namespace {

// Quotes one argument so that CommandLineToArgvW and the C runtime read it
// back unchanged: backslashes double only before a quote.
std::wstring Quote(const std::wstring& argument) {
  if (!argument.empty() && argument.find_first_of(L" \t\"") == std::wstring::npos) return argument;
  std::wstring out = L"\"";
  std::size_t slashes = 0;
  for (wchar_t c : argument) {
    if (c == L'\\') {
      ++slashes;
      continue;
    }
    if (c == L'"') out.append(slashes * 2 + 1, L'\\');
    else out.append(slashes, L'\\');
    slashes = 0;
    out += c;
  }
  out.append(slashes * 2, L'\\');
  out += L'"';
  return out;
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments) {
  const std::wstring wideProgram = NativePath(program).native();
  std::wstring line = Quote(wideProgram);
  for (const std::string& argument : arguments) line += L" " + Quote(NativePath(argument).native());
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(wideProgram.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &info)) {
    throw std::runtime_error("Cannot start " + program + ": " + ErrorText(static_cast<int>(GetLastError())));
  }
  CloseHandle(info.hThread);
  process_ = info.hProcess;
}

bool ChildProcess::Started() const { return process_ != nullptr; }

int ChildProcess::Wait() {
  if (process_ == nullptr || done_) return code_;
  WaitForSingleObject(process_, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process_, &code);
  done_ = true;
  code_ = killed_ ? -1 : static_cast<int>(code);
  return code_;
}

void ChildProcess::Kill() {
  if (process_ == nullptr || done_) return;
  killed_ = true;
  TerminateProcess(process_, 1);
  Wait();
}

void ChildProcess::Release() {
  if (process_ != nullptr) {
    Kill();
    CloseHandle(process_);
    process_ = nullptr;
  }
}

std::string CurrentProgram() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (n < path.size()) {
      path.resize(n);
      break;
    }
    path.resize(path.size() * 2);
  }
  return PathText(path);
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : process_(std::exchange(other.process_, nullptr)), done_(other.done_), killed_(other.killed_),
      code_(other.code_) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    Release();
    process_ = std::exchange(other.process_, nullptr);
    done_ = other.done_;
    killed_ = other.killed_;
    code_ = other.code_;
  }
  return *this;
}

bool IsExecutableFile(const std::string& path) { return FileExists(path); }

bool StartShown(const std::string& commandLine) {
  // CreateProcessW may write into the line it is given, so it gets a copy.
  std::wstring line = NativePath(commandLine).native();
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOW;
  PROCESS_INFORMATION info{};
  // A windowed program has no console to share: the batch file's `pause`
  // needs one of its own, shown, to wait for the operator's key.
  if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr, nullptr,
                      &startup, &info)) {
    return false;
  }
  CloseHandle(info.hThread);
  CloseHandle(info.hProcess);
  return true;
}

#else  // POSIX

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& arguments) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& argument : arguments) argv.push_back(const_cast<char*>(argument.c_str()));
  argv.push_back(nullptr);
  pid_t pid = -1;
  const int error = ::posix_spawn(&pid, program.c_str(), nullptr, nullptr, argv.data(), environ);
  if (error != 0) throw std::runtime_error("Cannot start " + program + ": " + std::strerror(error));
  pid_ = pid;
}

bool ChildProcess::Started() const { return pid_ > 0; }

int ChildProcess::Wait() {
  if (pid_ <= 0 || done_) return code_;
  int status = 0;
  while (::waitpid(pid_, &status, 0) < 0) {
    if (errno != EINTR) break;
  }
  done_ = true;
  code_ = WIFEXITED(status) && !killed_ ? WEXITSTATUS(status) : -1;
  return code_;
}

void ChildProcess::Kill() {
  if (pid_ <= 0 || done_) return;
  killed_ = true;
  ::kill(pid_, SIGKILL);
  Wait();
}

void ChildProcess::Release() {
  if (pid_ > 0) {
    Kill();
    pid_ = -1;
  }
}

std::string CurrentProgram() {
  char buffer[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

ChildProcess::ChildProcess(ChildProcess&& other) noexcept
    : pid_(std::exchange(other.pid_, -1)), done_(other.done_), killed_(other.killed_), code_(other.code_) {}

ChildProcess& ChildProcess::operator=(ChildProcess&& other) noexcept {
  if (this != &other) {
    Release();
    pid_ = std::exchange(other.pid_, -1);
    done_ = other.done_;
    killed_ = other.killed_;
    code_ = other.code_;
  }
  return *this;
}

bool IsExecutableFile(const std::string& path) {
  return FileExists(path) && ::access(path.c_str(), X_OK) == 0;
}

bool StartShown(const std::string& commandLine) {
  // The shell puts the line in the background and ends at once, so it is
  // reaped here and the command itself is left to init, as a detached start.
  const char* argv[] = {"sh", "-c", "eval \"$1\" &", "sh", commandLine.c_str(), nullptr};
  pid_t pid = -1;
  if (::posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0) return false;
  int status = 0;
  while (::waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return false;
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

#endif

ChildProcess::~ChildProcess() { Release(); }

}  // namespace ravelto::platform
