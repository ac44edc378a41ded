// Damaged and hostile table files: clear errors, never a crash, never a
// wrong row.

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>

#include "registry/table/byte_codec.h"
#include "registry/table/dbf_table.h"
#include "tests/registry/registry_test_util.h"

namespace ravelto::registry {
namespace {

using ::testing::HasSubstr;
using registry_test::Gateway;
using registry_test::TempFolder;

class DamagedTables : public ::testing::Test {
 protected:
  void SetUp() override {
    registry_test::CopyFixtures("registry-cdx", folder.Path());
    registry_test::CopyFixtures("plain-vfp", folder.Path());
  }
  TableSchema SchemaOf(const std::string& file) {
    const std::string bytes = registry_test::ReadBytes(folder.File(file));
    return ParseSchema({reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()}, bytes.size(), file);
  }
  // Byte offset of `field` in record `recno` (1-based).
  std::uint64_t FieldAt(const std::string& file, const std::string& field, std::uint32_t recno) {
    const TableSchema s = SchemaOf(file);
    return s.headerLength + static_cast<std::uint64_t>(recno - 1) * s.recordLength + s.Find(field)->offset;
  }
  void Put(const std::string& file, std::uint64_t offset, const std::string& bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i)
      registry_test::SetByte(folder.File(file), offset + i, static_cast<unsigned char>(bytes[i]));
  }
  std::string OpenError(const std::string& sql) {
    Gateway g(folder.Path());
    return g.OpenError(sql);
  }
  TempFolder folder;
};

TEST_F(DamagedTables, DamagedHeadersAreReportedByName) {
  struct Case {
    const char* what;
    std::function<void()> damage;
    const char* message;
  };
  const Case cases[] = {
      {"truncated header", [&] { registry_test::TruncateFile(folder.File("types.dbf"), 20); },
       "Table 'types' is damaged: its header is truncated"},
      {"truncated descriptors", [&] { registry_test::TruncateFile(folder.File("types.dbf"), 100); },
       "Table 'types' is damaged: its header is truncated"},
      {"unknown version", [&] { registry_test::SetByte(folder.File("types.dbf"), 0, 0x99); },
       "Table 'types' has an unknown file type 0x99"},
      {"zero record length", [&] { Put("types.dbf", 10, std::string(2, '\0')); },
       "Table 'types' is damaged: its record length is too small"},
      {"field past the record", [&] { Put("types.dbf", 10, "\x05\x00"); }, "lies outside the record"},
      {"overlapping fields", [&] { Put("types.dbf", 32 + 32 + 12, std::string("\x02\x00\x00\x00", 4)); },
       "Table 'types' is damaged: two fields overlap"},
      {"wrong width of a fixed type", [&] { registry_test::SetByte(folder.File("types.dbf"), 32 + 2 * 32 + 16, 3); },
       "field 'cnt' of type I has width 3"},
      {"no terminator", [&] { Put("types.dbf", 8, std::string("\x40\x00", 2)); },
       "Table 'types' is damaged: its field list has no terminator"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    registry_test::CopyFixtures("plain-vfp", folder.Path());
    c.damage();
    EXPECT_THAT(OpenError("select * from types"), HasSubstr(c.message));
  }
}

TEST_F(DamagedTables, RecordCountPastTheEndReadsOnlyWholeRecords) {
  Put("ci007.dbf", 4, std::string("\x10\x27\x00\x00", 4));  // 10000 records claimed
  Gateway g(folder.Path());
  g.Open("select * from ci007");
  EXPECT_EQ(g.query.RecordCount(), 12);
  const TableSchema s = SchemaOf("ci007.dbf");
  registry_test::TruncateFile(folder.File("ci007.dbf"), s.headerLength + 5 * s.recordLength + 3);
  g.Open("select * from ci007");
  EXPECT_EQ(g.query.RecordCount(), 5);
  // A writer refuses a table shorter than its count says, and writes nothing.
  const std::string before = registry_test::ReadBytes(folder.File("ci007.dbf"));
  registry_test::SetByte(folder.File("ci007.dbf"), 28, 0);  // no structural index in the way
  const std::string flagged = registry_test::ReadBytes(folder.File("ci007.dbf"));
  EXPECT_THAT(g.ExecuteError("insert into ci007 (kuch, kw) values (13, 61013)"),
              HasSubstr("the file is shorter than its record count says; nothing was written"));
  EXPECT_EQ(registry_test::ReadBytes(folder.File("ci007.dbf")), flagged);
  EXPECT_EQ(before.size(), flagged.size());
}

TEST_F(DamagedTables, BadFieldBytesNameTableRecordAndField) {
  // kl = 21 is record 3, which has a memo.
  const std::uint64_t memo = FieldAt("m1005.dbf", "prim", 3);
  const std::uint64_t fptSize = registry_test::ReadBytes(folder.File("m1005.fpt")).size();
  Put("m1005.dbf", memo, std::string("\xFF\xFF\x00\x00", 4));
  EXPECT_THAT(OpenError("select * from m1005 where kl=21"),
              HasSubstr("Memo block 65535 lies outside the file in memo file"));
  // The rows that do not touch the damage still read.
  EXPECT_EQ(OpenError("select * from m1005 where kl=7"), "");

  registry_test::CopyFixtures("registry-cdx", folder.Path());
  const std::string bytes = registry_test::ReadBytes(folder.File("m1005.dbf"));
  const std::uint32_t block = GetLe32(reinterpret_cast<const unsigned char*>(bytes.data()) + memo);
  unsigned char huge[4];
  PutBe32(huge, static_cast<std::uint32_t>(fptSize));  // length past the end of the file
  Put("m1005.fpt", static_cast<std::uint64_t>(block) * 64 + 4, std::string(reinterpret_cast<char*>(huge), 4));
  EXPECT_THAT(OpenError("select * from m1005 where kl=21"), HasSubstr("is longer than the file"));

  registry_test::CopyFixtures("registry-cdx", folder.Path());
  Put("m1005.dbf", FieldAt("m1005.dbf", "data_r", 1), "2021AB01");
  EXPECT_EQ(OpenError("select * from m1005 where kl=7"),
            "Table 'm1005', record 1, field 'data_r': '2021AB01' is not a date");
  Put("m1005.dbf", FieldAt("m1005.dbf", "data_r", 1), "20211301");
  EXPECT_THAT(OpenError("select * from m1005 where kl=7"), HasSubstr("'20211301' is not a date"));

  registry_test::CopyFixtures("registry-cdx", folder.Path());
  Put("m1005.dbf", FieldAt("m1005.dbf", "kl", 2), "    1x4***");
  EXPECT_EQ(OpenError("select * from m1005 where kl=14"),
            "Table 'm1005', record 2, field 'kl': '    1x4***' is not a number");
  registry_test::CopyFixtures("registry-cdx", folder.Path());
  Put("m1005.dbf", FieldAt("m1005.dbf", "zapis", 1), std::string("\x01\x00\x00\x00\x00\x00\x00\x00", 8));
  EXPECT_THAT(OpenError("select * from m1005 where kl=7"), HasSubstr("the date-time value is out of range"));
}

TEST_F(DamagedTables, RandomByteDamageNeverCrashes) {
  const std::string original = registry_test::ReadBytes(folder.File("types.dbf"));
  const std::string originalMemo = registry_test::ReadBytes(folder.File("types.fpt"));
  std::mt19937 random(1234);
  int opened = 0;
  for (int round = 0; round < 300; ++round) {
    std::string bytes = original, memo = originalMemo;
    for (int k = 0; k < 4; ++k) {
      const bool header = random() % 2 == 0;
      std::string& target = header || memo.empty() ? bytes : memo;
      const std::size_t limit = header ? std::min<std::size_t>(target.size(), 700) : target.size();
      target[random() % limit] = static_cast<char>(random() % 256);
    }
    if (random() % 4 == 0) bytes.resize(random() % bytes.size());
    registry_test::WriteBytes(folder.File("types.dbf"), bytes);
    registry_test::WriteBytes(folder.File("types.fpt"), memo);
    Gateway g(folder.Path());
    if (g.OpenError("select * from types order by name") == "") {
      ++opened;
      for (int i = 0; i < g.query.FieldCount(); ++i) g.query.AsText(g.query.FieldName(i));
    }
  }
  EXPECT_GT(opened, 0);
}

}  // namespace
}  // namespace ravelto::registry
