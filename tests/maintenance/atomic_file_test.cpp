#include "maintenance/atomic_file.h"

#include <gtest/gtest.h>

#include "maintenance/maintenance_error.h"
#include "platform/files.h"
#include "tests/maintenance/temp_folder.h"

namespace ravelto::maintenance {
namespace {

using testing::ReadFile;
using testing::TempFolder;
using testing::WriteFile;

std::string Pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + 7) & 0xFF);
  return bytes;
}

TEST(WriteFileAtomically, WritesEveryByteAndReplacesAnOldFile) {
  TempFolder folder;
  const auto target = folder / "raveltonew.exe";
  WriteFile(target, "old contents that are longer than nothing");
  // Larger than one write piece, with every byte value and zeros inside.
  const std::string bytes = Pattern((std::size_t{1} << 20) * 2 + 17);
  WriteFileAtomically(target, bytes);
  EXPECT_EQ(ReadFile(target), bytes);
  EXPECT_FALSE(std::filesystem::exists(TemporaryPathFor(target)));

  WriteFileAtomically(target, "");
  EXPECT_TRUE(std::filesystem::exists(target));
  EXPECT_EQ(std::filesystem::file_size(target), 0u);
}

// A write that stops short (a full disk) must leave the old file whole and no
// partial file behind that a later run could take for the real one.
TEST(WriteFileAtomically, AShortWriteKeepsTheOldFileAndLeavesNoPartialFile) {
  TempFolder folder;
  const auto target = folder / "odbc.msi";
  for (bool hadOldFile : {true, false}) {
    SCOPED_TRACE(hadOldFile);
    std::filesystem::remove(target);
    if (hadOldFile) WriteFile(target, "the old package");
    std::size_t calls = 0;
    auto failOnSecondPiece = [&](std::FILE* file, const char* data, std::size_t size) -> std::size_t {
      if (++calls == 2) return std::fwrite(data, 1, size / 2, file);
      return std::fwrite(data, 1, size, file);
    };
    try {
      WriteFileAtomically(target, Pattern(3 << 20), failOnSecondPiece);
      FAIL() << "no failure";
    } catch (const MaintenanceError& e) {
      EXPECT_STREQ(e.what(), "Stream write error");
    }
    EXPECT_EQ(std::filesystem::exists(target), hadOldFile);
    if (hadOldFile) {
      EXPECT_EQ(ReadFile(target), "the old package");
    }
    EXPECT_FALSE(std::filesystem::exists(TemporaryPathFor(target)));
  }
}

TEST(WriteFileAtomically, AFolderThatCannotHoldTheFileIsReportedWithItsPath) {
  TempFolder folder;
  // The process may run as root, so a missing folder (not a read-only one)
  // is what reliably cannot be written.
  const auto target = folder / "missing" / "update.bat";
  try {
    WriteFileAtomically(target, "pause\r\n");
    FAIL() << "no failure";
  } catch (const MaintenanceError& e) {
    const std::string message = e.what();
    EXPECT_EQ(message.rfind("Cannot create file \"" + TemporaryPathFor(target).string() + "\". ", 0), 0u)
        << message;
    EXPECT_GT(message.size(), ("Cannot create file \"" + TemporaryPathFor(target).string() + "\". ").size());
  }
  EXPECT_FALSE(std::filesystem::exists(folder / "missing"));
}

TEST(WriteFileAtomically, AFailedRenameKeepsWhatStoodThereAndRemovesTheTemporaryFile) {
  TempFolder folder;
  // A non-empty folder of the target's name cannot be replaced by a file.
  const auto target = folder / "raveltonew.exe";
  std::filesystem::create_directory(target);
  WriteFile(target / "inside", "x");
  try {
    WriteFileAtomically(target, "new program");
    FAIL() << "no failure";
  } catch (const MaintenanceError& e) {
    EXPECT_EQ(std::string(e.what()).rfind("Cannot rename file \"", 0), 0u) << e.what();
  }
  EXPECT_TRUE(std::filesystem::is_directory(target));
  EXPECT_FALSE(std::filesystem::exists(TemporaryPathFor(target)));
}

// The working folder may have a Cyrillic name: the file lands in that folder,
// and a message names it in Windows-1251, the window's text.
TEST(WriteFileAtomically, AFolderWithACyrillicNameIsWrittenAndNamedInWindows1251) {
  TempFolder folder;
  const std::string name = "\xCE\xE1\xED\xEE\xE2\xEB\xE5\xED\xE8\xE5";  // "Обновление"
  const auto cyrillic = folder.path() / platform::NativePath(name);
  std::filesystem::create_directory(cyrillic);
  WriteFileAtomically(cyrillic / "update.bat", "pause\r\n");
  EXPECT_EQ(ReadFile(cyrillic / "update.bat"), "pause\r\n");
  EXPECT_FALSE(std::filesystem::exists(TemporaryPathFor(cyrillic / "update.bat")));

  const std::string missing = platform::PathText(folder.path()) + "/" + name + "2/update.bat";
  try {
    WriteFileAtomically(platform::NativePath(missing), "pause\r\n");
    FAIL() << "no failure";
  } catch (const MaintenanceError& e) {
    const std::string start = "Cannot create file \"" + missing + ".part\". ";
    EXPECT_EQ(std::string(e.what()).rfind(start, 0), 0u) << e.what();
  }
}

}  // namespace
}  // namespace ravelto::maintenance
