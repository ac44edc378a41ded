// The administrator's views: unsupported tags are named with the reason, and
// damage on disk makes the check fail naming the tag.

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "registry/index/cdx_index.h"
#include "registry/index/cdx_record.h"
#include "registry/index/cdx_report.h"
#include "tests/registry/index/cdx_test_util.h"

namespace ravelto::registry {
namespace {

void Patch(const std::filesystem::path& file, uint64_t offset, const std::string& bytes) {
  std::fstream f(file, std::ios::binary | std::ios::in | std::ios::out);
  f.seekp(static_cast<std::streamoff>(offset));
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

TEST(CdxReport, DescribeNamesRefusedTagsAndWhy) {
  auto folder = testing::CopyFixtures();
  uint32_t nb = 0;
  {
    FileCdxStore store(testing::Cdx(folder, "ci003"), false);
    nb = CdxIndex(store).FindTag("NB")->header_offset;
  }
  Patch(testing::Cdx(folder, "ci003"), nb + 494, "RUSSIAN");
  std::ostringstream out;
  EXPECT_EQ(DescribeIndexes(folder.string(), out), 0);
  EXPECT_NE(out.str().find("NB: key Upper( NB ); key length 40; ascending; collation RUSSIAN; refused: the tag NB "
                           "(collation RUSSIAN) has keys of 40 bytes for text of 40 characters, not two bytes per "
                           "character"),
            std::string::npos)
      << out.str();
  EXPECT_NE(out.str().find("KW: key KW; key length 8; ascending; collation MACHINE; supported"), std::string::npos);
}

TEST(CdxReport, CheckFailsOnDamageAndNamesTheTag) {
  struct Case {
    const char* what;
    int64_t delta;  // from the KUCH root leaf of ci007
    std::string bytes;
    const char* expected;
  } cases[] = {
      {"a key byte", 511, "\x7F", "tag KUCH: "},
      {"the free-space field", 12, "\x01\x00", "free bytes"},
      {"the entry count", 2, "\x0B\x00", "tag KUCH"},
      {"the right sibling", 8, std::string("\x00\x02\x00\x00", 4), "right sibling"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    auto folder = testing::CopyFixtures();
    uint32_t root = 0;
    {
      FileCdxStore store(testing::Cdx(folder, "ci007"), false);
      root = CdxIndex(store).FindTag("KUCH")->root;
    }
    Patch(testing::Cdx(folder, "ci007"), root + c.delta, c.bytes);
    std::ostringstream out;
    EXPECT_EQ(CheckIndexes(folder.string(), out), 1);
    EXPECT_NE(out.str().find("ci007: DAMAGED"), std::string::npos) << out.str();
    EXPECT_NE(out.str().find(c.expected), std::string::npos) << out.str();
    EXPECT_NE(out.str().find("m1005: ok"), std::string::npos);
  }
}

// Rows changed behind the index's back: the check names each record.
TEST(CdxReport, CheckNamesRowsTheIndexDoesNotMatch) {
  auto folder = testing::CopyFixtures();
  const auto dbf = testing::Dbf(folder, "ci007");
  DbfImage image = ReadDbfImage(dbf);
  const CdxField* kuch = image.layout.Find("KUCH");
  // Record 3 gets another district number; the count claims one more row,
  // a copy of record 1 appended without its key.
  Patch(dbf, image.header_length + 2 * image.layout.record_length + kuch->offset, " 99");
  auto one = image.Record(1);
  Patch(dbf, image.header_length + 12 * image.layout.record_length,
        std::string(one.begin(), one.end()) + "\x1A");
  Patch(dbf, 4, std::string("\x0D\x00\x00\x00", 4));
  std::ostringstream out;
  EXPECT_EQ(CheckIndexes(folder.string(), out), 1);
  EXPECT_NE(out.str().find("tag KUCH: record 3 has key"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("tag KUCH: record 13 is missing"), std::string::npos) << out.str();
}

}  // namespace
}  // namespace ravelto::registry
