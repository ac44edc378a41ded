#pragma once
// Child processes for tests that need a second program on the same files (two
// writers at once, a writer killed mid-append, a lock held elsewhere). The
// test program starts itself again with `--ravelto-child=<role> args...`;
// the role's body runs instead of the tests and its return value is the exit
// code (1 when it throws). Works the same on POSIX and Windows, where fork()
// does not exist. Test programs using it link ravelto_test_child_main instead
// of GTest::gtest_main.
//
//   RAVELTO_CHILD_ROLE(Appender) {        // args: folder
//     ...; return 0;
//   }
//   auto child = ravelto::testing::StartChild("Appender", {folder});

#include <chrono>
#include <string>
#include <vector>

#include "platform/process.h"

namespace ravelto::testing {

using ChildArgs = std::vector<std::string>;
using ChildBody = int (*)(const ChildArgs& args);

struct ChildRoleRegistration {
  ChildRoleRegistration(const char* name, ChildBody body);
};

#define RAVELTO_CHILD_ROLE(name)                                                         \
  static int name##ChildBody(const ::ravelto::testing::ChildArgs& args);                \
  static const ::ravelto::testing::ChildRoleRegistration name##ChildRegistration(#name, \
                                                                                name##ChildBody); \
  static int name##ChildBody([[maybe_unused]] const ::ravelto::testing::ChildArgs& args)

// Starts this test program as the child `role` with `args`.
platform::ChildProcess StartChild(const std::string& role, const ChildArgs& args);

// When the command line asks for a child role, runs it and stores its exit
// code; false when the program was started to run its tests.
bool RunChildRole(int argc, char** argv, int* code);

// Signals between parent and child through files in a shared folder.
void TouchFile(const std::string& path);
// Waits until `path` exists; false when `timeout` passed first.
bool WaitForFile(const std::string& path, std::chrono::milliseconds timeout = std::chrono::seconds(120));

}  // namespace ravelto::testing
