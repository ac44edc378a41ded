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
#include "registry/index/cdx_order.h"
#include "registry/index/cdx_report.h"
#include "registry/sql/statement_runner.h"
#include "registry/table/database_error.h"
#include "registry/table/file_io.h"
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
  bool descending = false;
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
// (plus `more` collated ones and `machine` ones), every leaf packed as
// tightly as the format allows.
std::filesystem::path CollatedRegistry(const TestCollationStyle& style, const std::string& extra = "",
                                       const std::vector<CollatedTag>& more = {},
                                       const std::vector<CdxNewTag>& machine = {}) {
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
  tags.insert(tags.end(), machine.begin(), machine.end());
  std::vector<CollatedTag> collated(std::begin(kTags), std::end(kTags));
  collated.insert(collated.end(), more.begin(), more.end());
  for (const CollatedTag& t : collated) {
    const std::string expr = t.expr;
    tags.push_back({t.name, t.expr, t.for_expr, t.unique, t.descending, "RUSSIAN",
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

// The files of a table, to compare before and after a refused statement.
struct TableFiles {
  explicit TableFiles(const std::filesystem::path& folder)
      : dbf(FileBytes(Dbf(folder, "m1005"))), fpt(FileBytes(folder / "m1005.fpt")), cdx(FileBytes(Cdx(folder, "m1005"))) {}
  bool operator==(const TableFiles&) const = default;
  std::vector<uint8_t> dbf, fpt, cdx;
};

// Runs sql, which must be refused naming every text of `expected`, with
// every file of the table as it was and no journal left.
void ExpectRefusedUntouched(const std::filesystem::path& folder, const std::string& sql,
                            const std::vector<std::string>& expected) {
  const TableFiles before(folder);
  try {
    RunStatement(folder.string(), sql, false);
    ADD_FAILURE() << "not refused: " << sql;
  } catch (const DatabaseError& e) {
    for (const std::string& text : expected) EXPECT_NE(std::string(e.what()).find(text), std::string::npos) << e.what();
  }
  EXPECT_TRUE(TableFiles(folder) == before) << sql;
  EXPECT_FALSE(std::filesystem::exists(PendingMarkerPath(Cdx(folder, "m1005"))));
}

// A fresh copy of a built registry folder.
std::filesystem::path CopyOf(const std::filesystem::path& folder) {
  const auto copy = testing::CopyFixtures();
  std::filesystem::copy(folder, copy, std::filesystem::copy_options::overwrite_existing | std::filesystem::copy_options::recursive);
  return copy;
}

std::string KlText(const DbfImage& image, uint32_t recno) {
  const std::string kl = Field(image, recno, "KL");
  return kl.substr(kl.find_first_not_of(' '));
}

// A leaf from the middle of a tag's chain (or its interior root), as
// stored, and the page bytes.
std::pair<CdxNode, std::vector<uint8_t>> MiddleLeaf(const std::filesystem::path& folder, const std::string& tag,
                                                    uint8_t pad, bool root = false) {
  FileCdxStore store(Cdx(folder, "m1005"), false);
  CdxIndex index(store);
  const CdxTagHeader& header = *index.FindTag(tag);
  const std::vector<CdxNode> chain = testing::LeafChain(index, header, pad);
  EXPECT_GE(chain.size(), 3u) << tag;
  CdxNode leaf = root ? index.ReadNode(header.root, header.key_length, pad) : chain[chain.size() / 2];
  std::vector<uint8_t> page(cdx::kPageSize);
  store.Read(leaf.offset, page);
  return {std::move(leaf), std::move(page)};
}

void WritePage(const std::filesystem::path& folder, uint32_t offset, const std::vector<uint8_t>& page) {
  FileCdxStore store(Cdx(folder, "m1005"), true);
  store.Write(offset, page);
}

// Tags whose stored entries are out of order, MACHINE and collated,
// ascending and descending (which the registry stores in the same ascending
// order), in a leaf or in the root: an insert and a key change that read
// them are refused before anything is written, naming the tag, the page and
// the two entries. The same registry undamaged takes the same rows into
// every tag.
TEST(CdxCollationTags, TagsWhoseEntriesAreOutOfOrderAreRefusedWithEveryFileAsItWas) {
  SetDurableWrites(false);
  for (const TestCollationStyle& style : {testing::InterleavedTestStyle(), testing::SplitTestStyle()}) {
    SCOPED_TRACE(style.pad);
    const auto built = CollatedRegistry(style, "", {{"NAMED", "FIOL", false, "", true}},
                                        {{"KLDESC", "KL", "", false, true}});
    const DbfImage image = ReadDbfImage(Dbf(built, "m1005"));
    // The new key of both statements lands in the middle of KL's order,
    // where the damaged MACHINE leaves are; the update moves a row from the
    // first leaf.
    auto [kl_leaf, kl_page] = MiddleLeaf(built, "KL", 0x00);
    const std::string target = KlText(image, kl_leaf.entries[kl_leaf.entries.size() / 2].recno);
    FileCdxStore probe(Cdx(built, "m1005"), false);
    const CdxIndex probe_index(probe);
    const uint32_t first = testing::LeafChain(probe_index, *probe_index.FindTag("KL"), 0x00).front().entries.front().recno;
    const std::string statements[] = {
        "insert into m1005 (kl,fiol,im) values (" + target + ",'\xC0','\xC0')",
        "update m1005 set kl=" + target + " where kl=" + KlText(image, first)};
    for (const std::string& sql : statements) {
      const auto sound = CopyOf(built);
      EXPECT_EQ(RunStatement(sound.string(), sql, false).rowsAffected, 1) << sql;
      EXPECT_EQ(CheckTable(sound, "m1005"), "") << sql;
    }
    // The lookups of the update go through KL: its root stays sound.
    const struct {
      const char* tag;
      uint8_t pad;
      bool root;
    } damaged[] = {{"KL", 0x00, false},         {"KLDESC", 0x00, false},    {"KLDESC", 0x00, true},
                   {"NAME", style.pad, false},  {"NAMED", style.pad, false}, {"NAMED", style.pad, true}};
    for (const auto& [tag, pad, root] : damaged) {
      SCOPED_TRACE(std::string(tag) + (root ? " root" : " leaf"));
      // The node's first two entries change places; a leaf's last entry,
      // which its parent holds, stays.
      auto [leaf, page] = MiddleLeaf(built, tag, pad, root);
      ASSERT_NE(leaf.IsLeaf(), root);
      std::swap(leaf.entries[0], leaf.entries[1]);
      ASSERT_TRUE(testing::PackTightly(leaf, leaf.entries[0].key.size(), pad, page));
      const std::vector<std::string> expected = {
          "m1005", "tag " + std::string(tag),
          std::string("entries out of order in the ") + (root ? "interior node" : "leaf") + " at offset " +
              std::to_string(leaf.offset),
          "(record " + std::to_string(leaf.entries[0].recno) + ") before ",
          "(record " + std::to_string(leaf.entries[1].recno) + ")", "nothing was written"};
      for (const std::string& sql : statements) {
        const auto folder = CopyOf(built);
        WritePage(folder, leaf.offset, page);
        ExpectRefusedUntouched(folder, sql, expected);
        // The full check names the same fault.
        EXPECT_NE(CheckTable(folder, "m1005").find(expected[2] + ": " + CdxKeyText(leaf.entries[0].key)),
                  std::string::npos);
      }
    }
  }
}

// One damaged key byte in a collated leaf (its last key, which the parent's
// entry no longer matches under either pad) is refused naming that fault,
// not as keys whose pad this program cannot tell.
TEST(CdxCollationTags, DamagedCollatedLeafIsRefusedWithTheStructuralFault) {
  SetDurableWrites(false);
  for (const TestCollationStyle& style : {testing::InterleavedTestStyle(), testing::SplitTestStyle()}) {
    SCOPED_TRACE(style.pad);
    const auto folder = CollatedRegistry(style);
    auto [leaf, page] = MiddleLeaf(folder, "NAME", style.pad);
    // The last entry's stored bytes come first in the key area, right after
    // the packed entries and the free space.
    const std::size_t at = cdx::kLeafData + leaf.entries.size() * page[cdx::kLeafEntryBytes] +
                           cdx::GetLe16(page.data() + cdx::kLeafFree);
    ASSERT_LT(at, cdx::kPageSize);
    page[at] = page[at] == 0xFF ? 0xFE : 0xFF;
    WritePage(folder, leaf.offset, page);
    {
      FileCdxStore store(Cdx(folder, "m1005"), false);
      CdxIndex index(store);
      const CdxNode now = index.ReadNode(leaf.offset, leaf.entries[0].key.size(), style.pad);
      ASSERT_NE(now.entries.back().key, leaf.entries.back().key);
    }
    ExpectRefusedUntouched(folder, "insert into m1005 (kl,fiol,im) values (1,'\xC0','\xC0')",
                           {"index tag NAME (FIOL, collation RUSSIAN) cannot be maintained: the tag NAME (collation "
                            "RUSSIAN): the index is damaged: ",
                            "the leaf at offset " + std::to_string(leaf.offset), "nothing was written"});
  }
}

}  // namespace
}  // namespace ravelto::registry
