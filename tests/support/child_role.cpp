#include "tests/support/child_role.h"

#include <cstdio>
#include <cstring>
#include <exception>
#include <map>
#include <thread>

#include "platform/files.h"

namespace ravelto::testing {
namespace {

constexpr char kFlag[] = "--ravelto-child=";

std::map<std::string, ChildBody>& Roles() {
  static std::map<std::string, ChildBody> roles;
  return roles;
}

}  // namespace

ChildRoleRegistration::ChildRoleRegistration(const char* name, ChildBody body) { Roles()[name] = body; }

platform::ChildProcess StartChild(const std::string& role, const ChildArgs& args) {
  ChildArgs all{std::string(kFlag) + role};
  all.insert(all.end(), args.begin(), args.end());
  return platform::ChildProcess(platform::CurrentProgram(), all);
}

bool RunChildRole(int argc, char** argv, int* code) {
  if (argc < 2 || std::strncmp(argv[1], kFlag, sizeof kFlag - 1) != 0) return false;
  const std::string role = argv[1] + sizeof kFlag - 1;
  const auto found = Roles().find(role);
  if (found == Roles().end()) {
    std::fprintf(stderr, "unknown child role %s\n", role.c_str());
    *code = 2;
    return true;
  }
  try {
    *code = found->second(ChildArgs(argv + 2, argv + argc));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "child %s: %s\n", role.c_str(), e.what());
    *code = 1;
  } catch (...) {
    *code = 1;
  }
  return true;
}

void TouchFile(const std::string& path) {
  platform::Close(platform::Open(path, platform::OpenMode::kReadWriteOrCreate));
}

bool WaitForFile(const std::string& path, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!platform::FileExists(path)) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

}  // namespace ravelto::testing
