#include "settings/settings_file.h"

#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>

namespace fs = std::filesystem;
using ravelto::settings::LoadSettings;
using ravelto::settings::SaveError;
using ravelto::settings::SaveSettings;
using ravelto::settings::SettingsList;

namespace {

class SettingsFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("settings_file_test_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(dir_);
    fs::create_directories(dir_);
    path_ = (dir_ / "config.ini").string();
  }
  void TearDown() override {
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(dir_);
  }

  static std::string Read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  static void Put(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
  }
  std::size_t FilesInDir() const {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir_), fs::directory_iterator()));
  }

  fs::path dir_;
  std::string path_;
};

}  // namespace

TEST_F(SettingsFileTest, MissingFileLoadsAsEmptyList) {
  SettingsList list;
  list.SetText("stale=1");
  EXPECT_FALSE(LoadSettings(list, path_));
  EXPECT_EQ(list.Count(), 0u);
}

TEST_F(SettingsFileTest, RoundTripKeepsBytesAndWritesCrLf) {
  Put(path_, "id=1\npath=\xD1:\\\xCA\xEE\xF0\xE2\xE0\xED\n[x]\r\n");
  SettingsList list;
  ASSERT_TRUE(LoadSettings(list, path_));
  SaveSettings(list, path_);
  EXPECT_EQ(Read(path_), "id=1\r\npath=\xD1:\\\xCA\xEE\xF0\xE2\xE0\xED\r\n[x]\r\n");
  EXPECT_EQ(FilesInDir(), 1u);  // no temporary file left behind
}

TEST_F(SettingsFileTest, EmptyListCreatesEmptyFile) {
  SaveSettings(SettingsList{}, path_);
  ASSERT_TRUE(fs::exists(path_));
  EXPECT_EQ(fs::file_size(path_), 0u);
}

TEST_F(SettingsFileTest, FullDiskKeepsOldFileWhole) {
  Put(path_, "old=content\r\n");
  SettingsList list;
  list.SetText("id=1\npass=2\npath=3\n");
  // The writer accepts a few bytes at a time, then reports a full disk.
  for (std::size_t limit : {std::size_t{0}, std::size_t{1}, std::size_t{7}, std::size_t{15}}) {
    std::size_t written = 0;
    auto failing = [&](int fd, const char* data, std::size_t size) -> long {
      if (written >= limit) {
        errno = ENOSPC;
        return -1;
      }
      const std::size_t n = std::min<std::size_t>({size, 3, limit - written});
      written += n;
      return static_cast<long>(::write(fd, data, n));
    };
    try {
      SaveSettings(list, path_, failing);
      FAIL() << "save succeeded with limit " << limit;
    } catch (const SaveError& e) {
      EXPECT_STREQ(e.what(), "Stream write error");
    }
    EXPECT_EQ(Read(path_), "old=content\r\n") << "limit " << limit;
    EXPECT_EQ(FilesInDir(), 1u) << "limit " << limit;
  }
}

TEST_F(SettingsFileTest, UncreatableFileNamesFullPathAndReason) {
  SettingsList list;
  list.SetText("a=1");
  const std::string inMissingDir = (dir_ / "no-such-dir" / "config.ini").string();
  try {
    SaveSettings(list, inMissingDir);
    FAIL();
  } catch (const SaveError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot create file \"" + inMissingDir + "\". No such file or directory");
  }
  // The target is a folder: the rename over it fails and nothing is left behind.
  fs::create_directory(path_);
  try {
    SaveSettings(list, path_);
    FAIL();
  } catch (const SaveError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Cannot create file \"" + path_ + "\". ", 0), 0u) << e.what();
  }
  EXPECT_EQ(FilesInDir(), 1u);
}

TEST_F(SettingsFileTest, ReadOnlyFolderRefusesAndKeepsOldFile) {
  Put(path_, "old=1\r\n");
  fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
  if (::access(dir_.c_str(), W_OK) == 0) GTEST_SKIP() << "running with rights that ignore folder permissions";
  SettingsList list;
  list.SetText("new=2");
  try {
    SaveSettings(list, path_);
    FAIL();
  } catch (const SaveError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot create file \"" + path_ + "\". Permission denied");
  }
  EXPECT_EQ(Read(path_), "old=1\r\n");
}

TEST_F(SettingsFileTest, RelativePathIsReportedInFull) {
  EXPECT_EQ(ravelto::settings::FullPath("config.ini"), (fs::current_path() / "config.ini").string());
}
