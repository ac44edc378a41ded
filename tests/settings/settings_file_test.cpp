#include "settings/settings_file.h"

#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "platform/files.h"

#ifdef _WIN32
#include <winerror.h>
#endif

namespace fs = std::filesystem;
using ravelto::settings::LoadSettings;
using ravelto::settings::SaveError;
using ravelto::settings::SaveSettings;
using ravelto::settings::SettingsList;

namespace {

// The system's code for a file in a folder that does not exist.
#ifdef _WIN32
constexpr int kMissingFolder = ERROR_PATH_NOT_FOUND;
#else
constexpr int kMissingFolder = ENOENT;
#endif

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
              "Cannot create file \"" + inMissingDir + "\". " + ravelto::platform::ErrorText(kMissingFolder));
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
#ifdef _WIN32
  GTEST_SKIP() << "Windows ignores a folder's read-only attribute when files are created in it; "
                  "only its access list refuses, and the test does not change access lists";
#else
  Put(path_, "old=1\r\n");
  fs::permissions(dir_, fs::perms::owner_read | fs::perms::owner_exec);
  if (::access(dir_.c_str(), W_OK) == 0) GTEST_SKIP() << "running with rights that ignore folder permissions";
  SettingsList list;
  list.SetText("new=2");
  try {
    SaveSettings(list, path_);
    FAIL();
  } catch (const SaveError& e) {
    EXPECT_EQ(std::string(e.what()),
              "Cannot create file \"" + path_ + "\". " + ravelto::platform::ErrorText(EACCES));
  }
  EXPECT_EQ(Read(path_), "old=1\r\n");
#endif
}

TEST_F(SettingsFileTest, RelativePathIsReportedInFull) {
  EXPECT_EQ(ravelto::settings::FullPath("config.ini"), (fs::current_path() / "config.ini").string());
}

// Folder names are Windows-1251 text: a save and a load in a folder named in
// Cyrillic reach the same file, and messages name it in the same bytes.
TEST_F(SettingsFileTest, CyrillicFolderIsReachedAndNamedInItsOwnBytes) {
  const std::string folder = ravelto::platform::PathText(dir_) + "/\xCA\xEE\xF0\xE7\xE8\xED\xE0";
  fs::create_directory(ravelto::platform::NativePath(folder));
  const std::string path = folder + "/config.ini";
  SettingsList list;
  list.SetText("path=\xD1:\\\xCA\xEE\xF0\xE2\xE0\xED");
  SaveSettings(list, path);
  SettingsList loaded;
  ASSERT_TRUE(LoadSettings(loaded, path));
  EXPECT_EQ(loaded.Text(), list.Text());
  const fs::path native = ravelto::platform::NativePath(folder);
  EXPECT_EQ(std::distance(fs::directory_iterator(native), fs::directory_iterator()), 1);  // no temporary left

  const std::string missing = folder + "/\xED\xE5\xF2/config.ini";
  try {
    SaveSettings(list, missing);
    FAIL();
  } catch (const SaveError& e) {
    EXPECT_EQ(std::string(e.what()), "Cannot create file \"" + ravelto::settings::FullPath(missing) + "\". " +
                                         ravelto::platform::ErrorText(kMissingFolder));
    EXPECT_NE(std::string(e.what()).find("\xCA\xEE\xF0\xE7\xE8\xED\xE0"), std::string::npos);
  }
}
