#include <gtest/gtest.h>

#include <stdexcept>

#include "maintenance/download_rules.h"
#include "maintenance/driver_installer.h"
#include "maintenance/maintenance_error.h"
#include "maintenance/self_update.h"
#include "maintenance/update_scripts.h"
#include "maintenance/version_check.h"
#include "tests/maintenance/expected_update_bat.h"
#include "tests/maintenance/temp_folder.h"

namespace ravelto::maintenance {
namespace {

using testing::ReadFile;
using testing::TempFolder;
using testing::WriteFile;

TEST(CheckForUpdate, OnlyAWholeNumberAboveTheProgramVersionIsAnUpdate) {
  struct Case {
    const char* answer;
    UpdateCheck expected;
  };
  const Case cases[] = {
      {"21", UpdateCheck::kNoUpdate},     {"22", UpdateCheck::kAvailable},
      {" 22", UpdateCheck::kAvailable},   {"+22", UpdateCheck::kAvailable},
      {"-5", UpdateCheck::kNoUpdate},     {"0021", UpdateCheck::kNoUpdate},
      {"22\r\n", UpdateCheck::kUnreadable}, {"22 ", UpdateCheck::kUnreadable},
      {"", UpdateCheck::kUnreadable},     {"v22", UpdateCheck::kUnreadable},
      {"99999999999", UpdateCheck::kUnreadable},
  };
  for (const Case& c : cases) {
    std::string asked;
    auto fetch = [&](const std::string& url) {
      asked = url;
      return std::string(c.answer);
    };
    EXPECT_EQ(CheckForUpdate(fetch, "http://files/upload/online.php?home=1"), c.expected)
        << '"' << c.answer << '"';
    EXPECT_EQ(asked, "http://files/upload/online.php?home=1");
  }
}

TEST(CheckForUpdate, AFailedFetchIsUnreadableAndNeverThrows) {
  auto failing = [](const std::string&) -> std::string { throw std::runtime_error("Read Timeout"); };
  EXPECT_EQ(CheckForUpdate(failing, "u"), UpdateCheck::kUnreadable);
}

TEST(JudgeDownload, RefusesSmallAndOversizedDownloads) {
  EXPECT_EQ(JudgeDownload(0, "u"), DownloadVerdict::kTooSmall);
  EXPECT_EQ(JudgeDownload(100000, "u"), DownloadVerdict::kTooSmall);
  EXPECT_EQ(JudgeDownload(100001, "u"), DownloadVerdict::kAccepted);
  EXPECT_EQ(JudgeDownload(kDownloadSizeCap, "u"), DownloadVerdict::kAccepted);
  try {
    JudgeDownload(kDownloadSizeCap + 1, "http://files/upload/ravelto.exe?5");
    FAIL() << "no failure";
  } catch (const MaintenanceError& e) {
    EXPECT_EQ(std::string(e.what()), DownloadTooLargeMessage("http://files/upload/ravelto.exe?5"));
  }
  EXPECT_EQ(kDownloadTooSmallMessage,
            "\xCE\xF8\xE8\xE1\xEA\xE0 \xE7\xE0\xE3\xF0\xF3\xE7\xEA\xE8 \xF4\xE0\xE9\xEB\xE0!");
}

// A fetch that fills the buffer with `size` bytes of a recognisable pattern.
BufferFetch Serving(std::size_t size, int* calls = nullptr, std::string* url = nullptr) {
  return [=](const std::string& asked, std::vector<char>& buffer) {
    if (calls) ++*calls;
    if (url) *url = asked;
    buffer.assign(size, 'A');
    if (size > 0) buffer.back() = 'Z';
  };
}

TEST(DownloadUpdate, WritesNothingUpToTheFloorAndEveryFileAboveIt) {
  for (HostKind host : {HostKind::kWindows, HostKind::kPosix}) {
    TempFolder folder;
    EXPECT_EQ(DownloadUpdate(Serving(100000), "u", folder.path(), host), DownloadVerdict::kTooSmall);
    EXPECT_TRUE(std::filesystem::is_empty(folder.path()));

    std::string url;
    EXPECT_EQ(DownloadUpdate(Serving(100001, nullptr, &url), "http://f/upload/ravelto.exe?77",
                             folder.path(), host),
              DownloadVerdict::kAccepted);
    EXPECT_EQ(url, "http://f/upload/ravelto.exe?77");
    const std::string program = ReadFile(folder / "raveltonew.exe");
    ASSERT_EQ(program.size(), 100001u);
    EXPECT_EQ(program.back(), 'Z');
    EXPECT_EQ(ReadFile(folder / "update.bat"), testing::ExpectedUpdateBat());
    EXPECT_EQ(std::filesystem::exists(folder / "update.sh"), host == HostKind::kPosix);
    if (host == HostKind::kPosix) {
      EXPECT_EQ(ReadFile(folder / "update.sh"), UpdateShellScript());
    }
  }
}

TEST(DownloadUpdate, AFailedDownloadWritesNothing) {
  TempFolder folder;
  auto failing = [](const std::string&, std::vector<char>&) {
    throw std::runtime_error("HTTP/1.1 404 Not Found");
  };
  EXPECT_THROW(DownloadUpdate(failing, "u", folder.path(), HostKind::kPosix), std::runtime_error);
  EXPECT_TRUE(std::filesystem::is_empty(folder.path()));
}

TEST(PrepareDriverPackage, ReusesAnyExistingPackageWithoutFetching) {
  TempFolder folder;
  WriteFile(folder / "odbc.msi", "damaged");
  int calls = 0;
  EXPECT_EQ(PrepareDriverPackage(Serving(200000, &calls), "u", folder.path()), DriverPackage::kReused);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(ReadFile(folder / "odbc.msi"), "damaged");
}

TEST(PrepareDriverPackage, DownloadsAndWritesOnlyAboveTheFloor) {
  TempFolder folder;
  EXPECT_EQ(PrepareDriverPackage(Serving(100000), "u", folder.path()), DriverPackage::kTooSmall);
  EXPECT_TRUE(std::filesystem::is_empty(folder.path()));
  std::string url;
  EXPECT_EQ(PrepareDriverPackage(Serving(100001, nullptr, &url), "http://f/upload/VFPOLEDBSetup.msi?3",
                                 folder.path()),
            DriverPackage::kDownloaded);
  EXPECT_EQ(url, "http://f/upload/VFPOLEDBSetup.msi?3");
  EXPECT_EQ(std::filesystem::file_size(folder / "odbc.msi"), 100001u);
  EXPECT_FALSE(std::filesystem::exists(folder / "odbc.msi.part"));
}

}  // namespace
}  // namespace ravelto::maintenance
