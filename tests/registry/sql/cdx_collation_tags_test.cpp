// Character tags in another collation, written by a test writer with an
// invented weight table (both layouts, leaves packed as tightly as the
// format allows): statements keep them true by what the engine learned from
// them, checked against the invented table itself, and whatever the tags do
// not teach is refused with every file as it was.

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <random>
#include <set>
#include <sstream>

#include "registry/index/cdx_build.h"
#include "registry/index/cdx_index.h"
#include "registry/index/cdx_maintainer.h"
#include "registry/index/cdx_report.h"
#include "registry/sql/statement_runner.h"
#include "registry/table/database_error.h"
#include "registry/table/file_io.h"
#include "registry/table/rows_read.h"
#include "tests/registry/index/cdx_test_util.h"
#include "tests/registry/index/collation_test_keys.h"

namespace ravelto::registry {
namespace {

using testing::Cdx;
using testing::CheckTable;
using testing::Dbf;
using testing::FileBytes;
using testing::TestCollationStyle;


// Cyrillic of both cases with Ё/ё, digits, punctuation, blanks; never Щ/щ
// (left for a character no tag has stored) nor the SQL quote characters.
std::string RandomText(std::mt19937& rng, std::size_t max) {
  static const std::string bytes = [] {
    std::string b = " 0123456789.,-()/\xA8\xB8";
    for (int c = 0xC0; c <= 0xFF; ++c) {
      if (c != 0xD9 && c != 0xF9) b += static_cast<char>(c);
    }
    return b;
  }();
  std::string v;
  for (std::size_t n = 1 + rng() % max; v.size() < n;) v += bytes[rng() % bytes.size()];
  while (!v.empty() && v.back() == ' ') v.pop_back();
  return v.empty() ? "\xC0" : v;
}

std::string Field(const DbfImage& image, uint32_t recno, const char* name) {
  const CdxField& f = *image.layout.Find(name);
  auto r = image.Record(recno);
  return std::string(reinterpret_cast<const char*>(r.data()) + f.offset, f.length);
}

// The collated tags of the test index: name, expression, unique.
struct CollatedTag {
  const char* name;
  const char* expr;
  bool unique;
  const char* for_expr;
};
const CollatedTag kTags[] = {
    {"NAME", "FIOL", false, ""}, {"FULL", "FIOL+IM", false, ""}, {"IMU", "IM", true, ""}};

std::string KeyOf(const DbfImage& image, uint32_t recno, const char* expr, const TestCollationStyle& style) {
  const std::string value = std::string(expr) == "FIOL+IM" ? Field(image, recno, "FIOL") + Field(image, recno, "IM")
                                                           : Field(image, recno, expr);
  return testing::TestCollationKey(value, style);
}

// A copy of m1005 whose names are random text of the test alphabet
// (`extra` appended to the first name), indexed by KL and the collated tags
// (plus `more`), every leaf packed as tightly as the format allows.
std::filesystem::path CollatedRegistry(const TestCollationStyle& style, const std::string& extra = "",
                                       const std::vector<CollatedTag>& more = {}) {
  auto folder = testing::CopyFixtures();
  DbfImage image = ReadDbfImage(Dbf(folder, "m1005"));
  std::mt19937 rng(17);
  for (uint32_t r = 1; r <= image.record_count; ++r) {
    for (const char* name : {"FIOL", "IM"}) {
      const CdxField& f = *image.layout.Find(name);
      std::string v = (r == 1 ? extra : "") + RandomText(rng, f.length);
      v.resize(f.length, ' ');
      const std::size_t at = image.header_length + std::size_t{r - 1} * image.layout.record_length + f.offset;
      std::copy(v.begin(), v.end(), image.bytes.begin() + static_cast<std::ptrdiff_t>(at));
    }
  }
  std::ofstream(Dbf(folder, "m1005"), std::ios::binary)
      .write(reinterpret_cast<const char*>(image.bytes.data()), static_cast<std::streamsize>(image.bytes.size()));
  std::vector<CdxNewTag> tags = {{"KL", "KL", "", false, false}};
  std::vector<CollatedTag> collated(std::begin(kTags), std::end(kTags));
  collated.insert(collated.end(), more.begin(), more.end());
  for (const CollatedTag& t : collated) {
    const std::string expr = t.expr;
    tags.push_back({t.name, t.expr, t.for_expr, t.unique, false, "RUSSIAN",
                    [&image, expr, style](std::span<const uint8_t> rec) {
                      std::string value;
                      for (const char* name : {"FIOL", "IM"}) {
                        if (expr.find(name) == std::string::npos) continue;
                        const CdxField& f = *image.layout.Find(name);
                        value.append(reinterpret_cast<const char*>(rec.data()) + f.offset, f.length);
                      }
                      return testing::TestCollationKey(value, style);
                    },
                    style.pad});
  }
  BuildIndex(Cdx(folder, "m1005"), image.layout, testing::Source(image), tags, testing::PackTightly);
  return folder;
}

// Every collated tag holds exactly the invented table's key of every record
// it should (UNIQUE: the first record of each key), in key order.
void ExpectInventedKeys(const std::filesystem::path& folder, const TestCollationStyle& style) {
  DbfImage image = ReadDbfImage(Dbf(folder, "m1005"));
  FileCdxStore store(Cdx(folder, "m1005"), false);
  CdxIndex index(store);
  for (const CollatedTag& t : kTags) {
    const CdxTagHeader& tag = *index.FindTag(t.name);
    std::vector<CdxEntry> expected;
    std::set<std::string> seen;
    for (uint32_t r = 1; r <= image.record_count; ++r) {
      std::string key = KeyOf(image, r, t.expr, style);
      if (!t.unique || seen.insert(key).second) expected.push_back({key, r, 0});
    }
    std::sort(expected.begin(), expected.end(),
              [](const CdxEntry& a, const CdxEntry& b) { return CompareEntry(a.key, a.recno, b.key, b.recno) < 0; });
    std::vector<CdxEntry> actual = index.ReadAll(tag.root, tag.key_length, style.pad);
    ASSERT_EQ(actual.size(), expected.size()) << t.name;
    for (std::size_t i = 0; i < actual.size(); ++i) {
      ASSERT_EQ(actual[i].recno, expected[i].recno) << t.name << " entry " << i;
      ASSERT_EQ(actual[i].key, expected[i].key) << t.name << " entry " << i;
    }
  }
}

TEST(CdxCollationTags, InsertsAndKeyChangesKeepLearnedTagsTrue) {
  SetDurableWrites(false);
  const std::pair<TestCollationStyle, const char*> styles[] = {
      {testing::InterleavedTestStyle(), "two bytes per character"},
      {testing::SplitTestStyle(), "primary bytes, then secondary bytes"}};
  for (const auto& [style, layout] : styles) {
    SCOPED_TRACE(layout);
    const auto folder = CollatedRegistry(style);
    std::ostringstream described;
    DescribeIndexes(folder.string(), described);
    const std::string expected = "NAME: key FIOL; key length 60; ascending; collation RUSSIAN; supported (learned "
                                 "from the tag's keys: " + std::string(layout) + ", verified against 500 keys";
    EXPECT_NE(described.str().find(expected), std::string::npos)
        << described.str();
    std::mt19937 rng(23);
    int changed = 0;
    for (int i = 0; i < 120; ++i) {
      const std::string fiol = RandomText(rng, 30), im = RandomText(rng, 20);
      const std::string kl = std::to_string(900000 + i);
      std::string sql = "insert into m1005 (kl,fiol,im) values (" + kl + ",'" + fiol + "','" + im + "')";
      if (i % 3 != 0) {
        const DbfImage image = ReadDbfImage(Dbf(folder, "m1005"));
        const std::string old = Field(image, 1 + rng() % image.record_count, "KL");
        sql = "update m1005 set fiol='" + fiol + "',im='" + im + "' where kl=" + old.substr(old.find_first_not_of(' '));
      }
      changed += RunStatement(folder.string(), sql, false).rowsAffected;
      ASSERT_EQ(CheckTable(folder, "m1005"), "") << sql;
      ASSERT_NO_FATAL_FAILURE(ExpectInventedKeys(folder, style)) << sql;
    }
    EXPECT_GT(changed, 100);
    EXPECT_FALSE(std::filesystem::exists(PendingMarkerPath(Cdx(folder, "m1005"))));
  }
}

// The KL values of a SELECT's rows, in the order they came.
std::vector<double> Kls(const std::filesystem::path& folder, const std::string& sql, uint64_t* read) {
  const uint64_t before = RowsReadByStatements();
  auto out = RunStatement(folder.string(), sql, true);
  *read = RowsReadByStatements() - before;
  std::vector<double> kls;
  for (const auto& row : out.result->rows) kls.push_back(row[0].real + static_cast<double>(row[0].integer));
  return kls;
}

// Sets the index's change counter, as another writer's commit raises it.
void BumpCounter(const std::filesystem::path& cdx) {
  std::fstream f(cdx, std::ios::in | std::ios::out | std::ios::binary);
  unsigned char b[4];
  f.seekg(8);
  f.read(reinterpret_cast<char*>(b), 4);
  ++b[3];
  f.seekp(8);
  f.write(reinterpret_cast<const char*>(b), 4);
}

TEST(CdxCollationTags, SeeksThroughALearnedTagGiveTheScansRowsAndReadOnlyThem) {
  SetDurableWrites(false);
  for (const TestCollationStyle& style : {testing::InterleavedTestStyle(), testing::SplitTestStyle()}) {
    const bool split = style.reading.layout == CdxCollationLayout::Split;
    SCOPED_TRACE(split ? "split" : "interleaved");
    const auto folder = CollatedRegistry(style);
    uint64_t read = 0;
    // Before this process has learned the tag, the table is read whole.
    const std::string first = Field(ReadDbfImage(Dbf(folder, "m1005")), 7, "FIOL").substr(0, 2);
    uint64_t all = 0;
    Kls(folder, "select * from m1005 where kl = -1 or kl = -2", &all);
    Kls(folder, "select * from m1005 where fiol = '" + first + "'", &read);
    EXPECT_EQ(read, all);
    // A write learns it; from then on a seek reads the rows it names.
    RunStatement(folder.string(), "insert into m1005 (kl,fiol,im) values (999999,'" + first + "','\xC0')", false);
    const DbfImage image = ReadDbfImage(Dbf(folder, "m1005"));
    // Each prefix is checked at the learned counter, then after another
    // writer's commit (the entries used confirmed against their records).
    for (int phase = 0; phase < 2; ++phase) {
      if (phase == 1) BumpCounter(Cdx(folder, "m1005"));
      std::size_t seeks = 0;
      for (uint32_t r = 1; r <= image.record_count; r += 37) {
        for (std::size_t len : {1u, 2u, 3u, 30u}) {
          std::string prefix = Field(image, r, "FIOL").substr(0, len);
          while (!prefix.empty() && prefix.back() == ' ') prefix.pop_back();
          if (prefix.empty()) continue;
          const std::string where = "where fiol = '" + prefix + "'";
          uint64_t scanned = 0;
          const auto expected = Kls(folder, "select * from m1005 " + where + " or kl = -1", &scanned);
          const auto got = Kls(folder, "select * from m1005 " + where, &read);
          ASSERT_EQ(got, expected) << where;
          ASSERT_FALSE(got.empty()) << where;
          // Deleted rows keep their keys and are read too; split keys lead
          // with primaries only, so case variants are read as well.
          std::size_t named = 0;
          for (uint32_t n = 1; n <= image.record_count; ++n) named += Field(image, n, "FIOL").starts_with(prefix);
          if (split) {
            EXPECT_GE(read, named) << where;
            EXPECT_LE(read, named + 10) << where;
          } else {
            EXPECT_EQ(read, named) << where;
          }
          ++seeks;
        }
      }
      EXPECT_GT(seeks, 40u);
    }
    // A character no key shows: its weights are unknown, so the scan.
    Kls(folder, "select * from m1005 where fiol = '\xC0\xF9'", &read);
    EXPECT_EQ(read, all + 1);
    // An UPDATE by a collated column reads only its rows as well.
    const std::string prefix = Field(image, 11, "FIOL").substr(0, 3);
    uint64_t matches = 0;
    Kls(folder, "select * from m1005 where fiol = '" + prefix + "' or kl = -1", &matches);
    const uint64_t before = RowsReadByStatements();
    const int changed =
        RunStatement(folder.string(), "update m1005 set ves=1 where fiol = '" + prefix + "'", false).rowsAffected;
    EXPECT_GE(changed, 1);
    EXPECT_LE(RowsReadByStatements() - before, static_cast<uint64_t>(changed) + 10);
    EXPECT_EQ(CheckTable(folder, "m1005"), "");
    // A record that no longer holds its entry's key (changed behind the
    // index) after another writer's commit: the seek is given up for the scan.
    std::fstream dbf(Dbf(folder, "m1005"), std::ios::in | std::ios::out | std::ios::binary);
    const CdxField& fiol = *image.layout.Find("FIOL");
    dbf.seekp(image.header_length + std::size_t{6} * image.layout.record_length + fiol.offset);
    dbf.write("\xDF\xDF\xDF", 3);
    dbf.close();
    BumpCounter(Cdx(folder, "m1005"));
    Kls(folder, "select * from m1005 where fiol = '" + first + "'", &read);
    EXPECT_EQ(read, all + 1);
  }
}

TEST(CdxCollationTags, WhatTheTagsDoNotTeachIsRefusedWithEveryFileAsItWas) {
  SetDurableWrites(false);
  TestCollationStyle ligature = testing::SplitTestStyle();
  ligature.ligature = true;  // '№' weighs as two characters
  struct Case {
    const char* what;
    std::filesystem::path folder;
    std::string sql;
    std::string expected;
  } cases[] = {
      {"an unseen character", CollatedRegistry(testing::SplitTestStyle()),
       "insert into m1005 (kl,fiol,im,prim) values (1,'\xC1\xEE\xF0\xF9','\xC8','\xEC\xE5\xEC\xEE')",
       "the tag NAME (collation RUSSIAN) has never stored the character '\xF9'"},
      {"a rule neither layout reproduces", CollatedRegistry(ligature, "\xB9"),
       "insert into m1005 (kl,fiol,im) values (1,'\xC0','\xC0')",
       "index tag NAME (FIOL, collation RUSSIAN) cannot be maintained: the keys of tag NAME (collation RUSSIAN) "
       "follow no encoding this program can reproduce"},
      {"an empty tag", CollatedRegistry(testing::InterleavedTestStyle(), "", {{"NONE", "FIOL", false, "KL < 0"}}),
       "insert into m1005 (kl,fiol,im) values (1,'\xC0','\xC0')",
       "index tag NONE (FIOL, collation RUSSIAN) cannot be maintained: the tag NONE (collation RUSSIAN) holds no keys"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const auto fpt = c.folder / "m1005.fpt";
    auto dbf = FileBytes(Dbf(c.folder, "m1005")), cdx = FileBytes(Cdx(c.folder, "m1005")), memo = FileBytes(fpt);
    try {
      RunStatement(c.folder.string(), c.sql, false);
      ADD_FAILURE() << "not refused";
    } catch (const DatabaseError& e) {
      EXPECT_NE(std::string(e.what()).find(c.expected), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find("nothing was written"), std::string::npos) << e.what();
    }
    EXPECT_EQ(FileBytes(Dbf(c.folder, "m1005")), dbf);
    EXPECT_EQ(FileBytes(fpt), memo);
    EXPECT_EQ(FileBytes(Cdx(c.folder, "m1005")), cdx);
    EXPECT_FALSE(std::filesystem::exists(PendingMarkerPath(Cdx(c.folder, "m1005"))));
  }
}

}  // namespace
}  // namespace ravelto::registry
