#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/process.h"
#include "tests/support/child_role.h"

#ifdef _WIN32
#include "platform/windows_api.h"
#endif

namespace ravelto::platform {
namespace {

namespace fs = std::filesystem;

// Writes what the child was started with into the file args[0] names,
// relative to its working folder: on Windows its whole command line as the
// system hands it over, elsewhere its arguments one a line. The text appears
// under its name at once (written aside, then renamed), and only after the
// parent has made "release.txt": a start that waited for the child would
// never return.
RAVELTO_CHILD_ROLE(RecordCommandLine) {
  if (args.empty() || !testing::WaitForFile("release.txt"))
    return 2;
#ifdef _WIN32
  const std::string seen = GetCommandLineA();
#else
  std::string seen;
  for (const std::string &arg : args)
    seen += arg + "\n";
#endif
  {
    std::ofstream out(args[0] + ".part", std::ios::binary);
    out << seen;
  }
  fs::rename(args[0] + ".part", args[0]);
  return 0;
}

class InFreshFolder : public ::testing::Test {
protected:
  void SetUp() override {
    before_ = fs::current_path();
    const auto stamp =
        std::chrono::steady_clock::now().time_since_epoch().count();
    folder_ =
        fs::temp_directory_path() / ("ravelto-start-" + std::to_string(stamp));
    fs::remove_all(folder_);
    fs::create_directories(folder_);
    fs::current_path(folder_);
  }
  void TearDown() override {
    fs::current_path(before_);
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  static std::string Read(const fs::path &path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

  fs::path before_;
  fs::path folder_;
};

TEST_F(InFreshFolder,
       StartsTheLineAsWrittenFromTheWorkingFolderWithoutWaiting) {
  // A doubled space and quoted property values, as msiexec's properties are
  // written: any re-quoting or re-joining of the line would show here.
  const std::string program = "\"" + CurrentProgram() + "\"";
  const std::string tail = " --ravelto-child=RecordCommandLine  started.txt "
                           "ALLUSERS=\"1\" REBOOT=\"R\"";
  ASSERT_TRUE(StartShown(program + tail));
  testing::TouchFile("release.txt");
  ASSERT_TRUE(testing::WaitForFile((folder_ / "started.txt").string()));
  if (kWindowsHost) {
    EXPECT_EQ(Read(folder_ / "started.txt"), program + tail);
  } else {
    // The shell splits the line into the child's arguments.
    EXPECT_EQ(Read(folder_ / "started.txt"),
              "started.txt\nALLUSERS=1\nREBOOT=R\n");
  }
}

TEST_F(InFreshFolder, ReportsALineThatCannotStart) {
  if (!kWindowsHost)
    GTEST_SKIP()
        << "on POSIX the shell starts and reports a missing program itself";
  EXPECT_FALSE(StartShown("ravelto-no-such-program-5e1c.exe /passive"));
}

} // namespace
} // namespace ravelto::platform
