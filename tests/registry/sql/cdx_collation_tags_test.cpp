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

#include "platform/files.h"
#include "registry/gateway.h"
#include "registry/index/cdx_build.h"
#include "registry/index/cdx_collation_store.h"
#include "registry/index/cdx_index.h"
#include "registry/index/cdx_maintainer.h"
#include "registry/index/cdx_order.h"
#include "registry/index/cdx_report.h"
#include "registry/index/cdx_tree.h"
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
  // File by file, each target removed first: MinGW's library fails to copy
  // over an existing file or into an existing folder.
  for (const auto& e : std::filesystem::directory_iterator(folder)) {
    std::filesystem::remove(copy / e.path().filename());
    std::filesystem::copy_file(e.path(), copy / e.path().filename());
  }
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



// --- What is known of a collation: kept after another writer, shared by the
// folder's tags, kept across processes -----------------------------------

std::string IndexKey(const std::filesystem::path& cdx) {
  return platform::PathText(std::filesystem::weakly_canonical(cdx));
}

// Another program appends a row to m1005 and enters its keys in every tag:
// KL as the engine makes it, the collated tags by the invented table.
void AppendByAnotherWriter(const std::filesystem::path& folder, const TestCollationStyle& style, uint32_t kl,
                           const std::string& fiol, const std::string& im) {
  DbfImage image = ReadDbfImage(Dbf(folder, "m1005"));
  std::vector<uint8_t> rec(image.Record(1).begin(), image.Record(1).end());
  auto put = [&](const char* name, std::string v) {
    const CdxField& f = *image.layout.Find(name);
    if (f.type == 'N') v.insert(0, f.length - v.size(), ' ');
    v.resize(f.length, ' ');
    std::copy(v.begin(), v.end(), rec.begin() + f.offset);
  };
  put("KL", std::to_string(kl));
  put("FIOL", fiol);
  put("IM", im);
  const uint32_t recno = image.record_count + 1;
  image.bytes.resize(image.header_length + std::size_t{image.record_count} * image.layout.record_length);
  image.bytes.insert(image.bytes.end(), rec.begin(), rec.end());
  image.bytes.push_back(0x1A);
  for (int i = 0; i < 4; ++i) image.bytes[4 + i] = static_cast<uint8_t>(recno >> (8 * i));
  std::ofstream(Dbf(folder, "m1005"), std::ios::binary)
      .write(reinterpret_cast<const char*>(image.bytes.data()), static_cast<std::streamsize>(image.bytes.size()));
  FileCdxStore store(Cdx(folder, "m1005"), true);
  const CdxIndex index(store);
  CdxTree tree(store);
  for (const CdxTagHeader& tag : index.Tags()) {
    if (tag.MachineCollation()) {
      const CdxTagKeys keys(tag, image.layout);
      tree.Insert({tag.header_offset, tag.key_length, keys.Pad(), tag.name}, keys.Key(rec), recno);
      continue;
    }
    std::string value;
    for (const char* name : {"FIOL", "IM"}) {
      if (tag.key_expr.find(name) == std::string::npos) continue;
      std::string v = std::string(name) == "FIOL" ? fiol : im;
      v.resize(image.layout.Find(name)->length, ' ');
      value += v;
    }
    const std::string key = testing::TestCollationKey(value, style);
    const CdxTree::Tag t{tag.header_offset, tag.key_length, style.pad, tag.name};
    if (!tag.Unique() || tree.Find(t, key).empty()) tree.Insert(t, key, recno);
  }
  tree.Commit();
}

TEST(CdxCollationKnowledge, AfterAnotherWriterOnlyTheTouchedPagesAreVerified) {
  SetDurableWrites(false);
  const TestCollationStyle style = testing::InterleavedTestStyle();
  const auto folder = CollatedRegistry(style);
  const std::string insert = "insert into m1005 (kl,fiol,im) values (";
  RunStatement(folder.string(), insert + "900001,'\xC0\xE1\xE2','\xC0')", false);  // learns every tag

  // Another writer's row of characters the tags know: nothing is learned again.
  AppendByAnotherWriter(folder, style, 900002, "\xC0\xE1\xE2\xE3", "\xC1");
  uint64_t learned = TagsLearnedInFull();
  RunStatement(folder.string(), insert + "900003,'\xC0\xE1\xE2\xE4','\xC1\xC2')", false);
  EXPECT_EQ(TagsLearnedInFull(), learned);
  ASSERT_EQ(CheckTable(folder, "m1005"), "");
  ASSERT_NO_FATAL_FAILURE(ExpectInventedKeys(folder, style));

  // Another writer's row with a character no tag held ('Щ'): the page it
  // went into no longer matches what is known, so the tags are learned
  // again, and the character is known from then on.
  AppendByAnotherWriter(folder, style, 900004, "\xC0\xE1\xE2\xD9", "\xD9");
  learned = TagsLearnedInFull();
  RunStatement(folder.string(), insert + "900005,'\xC0\xE1\xE2\xD9\xC0','\xD9\xC0')", false);
  EXPECT_GT(TagsLearnedInFull(), learned);
  ASSERT_EQ(CheckTable(folder, "m1005"), "");
  ASSERT_NO_FATAL_FAILURE(ExpectInventedKeys(folder, style));
}

// A copy of the m1005 registry (collated name tags, their names holding
// digits) with `rows` visits in m1042 marked '0' or '00', indexed by KL and by
// RUSSIAN tags on DATA_VIZC and KTO.
std::filesystem::path RegistryWithVisits(const TestCollationStyle& style, uint32_t rows) {
  const auto folder = CollatedRegistry(style);
  DbfImage image = ReadDbfImage(Dbf(folder, "m1042"));
  image.bytes.resize(image.header_length);
  for (uint32_t r = 1; r <= rows; ++r) {
    std::vector<uint8_t> rec(image.layout.record_length, ' ');
    for (const CdxField& f : image.layout.fields) {
      if (f.type == 'M' || f.type == 'T' || f.type == 'I' || f.type == 'B') std::fill_n(rec.begin() + f.offset, f.length, 0);
    }
    if (image.layout.null_flags_offset >= 0) rec[image.layout.null_flags_offset] = 0;
    auto put = [&](const char* name, std::string v) {
      const CdxField& f = *image.layout.Find(name);
      if (f.type == 'N') v.insert(0, f.length - v.size(), ' ');
      v.resize(f.length, ' ');
      std::copy(v.begin(), v.end(), rec.begin() + f.offset);
    };
    put("KL", std::to_string(r * 7));
    // Some '00': keys of one character alone do not tell the split layout
    // from the interleaved one.
    put("DATA_VIZC", r % 3 ? "0" : "00");
    put("KTO", r % 2 ? "ZUVA" : "MOVD");
    put("DATA_Z", "20240115");
    image.bytes.insert(image.bytes.end(), rec.begin(), rec.end());
  }
  image.bytes.push_back(0x1A);
  for (int i = 0; i < 4; ++i) image.bytes[4 + i] = static_cast<uint8_t>(rows >> (8 * i));
  image.bytes[28] |= 0x01;
  image.record_count = rows;
  std::ofstream(Dbf(folder, "m1042"), std::ios::binary)
      .write(reinterpret_cast<const char*>(image.bytes.data()), static_cast<std::streamsize>(image.bytes.size()));
  auto collated = [&image, style](const char* field) {
    const CdxField f = *image.layout.Find(field);
    return [f, style](std::span<const uint8_t> rec) {
      return testing::TestCollationKey(std::string(reinterpret_cast<const char*>(rec.data()) + f.offset, f.length),
                                       style);
    };
  };
  BuildIndex(Cdx(folder, "m1042"), image.layout, testing::Source(image),
             {{"KL", "KL", "", false, false},
              {"VIZC", "DATA_VIZC", "", false, false, "RUSSIAN", collated("DATA_VIZC"), style.pad},
              {"KTO", "KTO", "", false, false, "RUSSIAN", collated("KTO"), style.pad}},
             testing::PackTightly);
  return folder;
}

// Every entry of m1042's VIZC tag holds the invented key of its record.
void ExpectVisitKeys(const std::filesystem::path& folder, const TestCollationStyle& style) {
  const DbfImage image = ReadDbfImage(Dbf(folder, "m1042"));
  FileCdxStore store(Cdx(folder, "m1042"), false);
  const CdxIndex index(store);
  const CdxTagHeader& tag = *index.FindTag("VIZC");
  const std::vector<CdxEntry> entries = index.ReadAll(tag.root, tag.key_length, style.pad);
  ASSERT_EQ(entries.size(), image.record_count);
  for (const CdxEntry& e : entries) {
    ASSERT_EQ(e.key, testing::TestCollationKey(Field(image, e.recno, "DATA_VIZC"), style)) << e.recno;
  }
}

TEST(CdxCollationKnowledge, TheMarkerIsWrittenClearedAndWrittenAgainByWhatAnotherTableShows) {
  SetDurableWrites(false);
  for (const TestCollationStyle& style : {testing::InterleavedTestStyle(), testing::SplitTestStyle()}) {
    // Enough rows for interior nodes, which tell the split layout's pad.
    const auto folder = RegistryWithVisits(style, 2000);
    ForgetCollationKnowledge();
    for (int accept = 0; accept < 3; ++accept) {
      SCOPED_TRACE(accept);
      RunStatement(folder.string(), "insert into m1042 (kl,data_vizc,kto) values (7,'112233','ZUVA')", false);
      EXPECT_EQ(RunStatement(folder.string(), "update m1042 set data_vizc='0',tosh=1 where data_vizc='112233'",
                             false).rowsAffected, 1);
      ASSERT_EQ(CheckTable(folder, "m1042"), "");
      ASSERT_NO_FATAL_FAILURE(ExpectVisitKeys(folder, style));
    }
    // A character no tag of the collation has shown is still refused, every file as it was.
    const auto dbf = FileBytes(Dbf(folder, "m1042")), cdx = FileBytes(Cdx(folder, "m1042"));
    try {
      RunStatement(folder.string(), "insert into m1042 (kl,data_vizc,kto) values (7,'\xD9','ZUVA')", false);
      ADD_FAILURE() << "not refused";
    } catch (const DatabaseError& e) {
      EXPECT_NE(std::string(e.what()).find("has never stored the character '\xD9'"), std::string::npos) << e.what();
    }
    EXPECT_EQ(FileBytes(Dbf(folder, "m1042")), dbf);
    EXPECT_EQ(FileBytes(Cdx(folder, "m1042")), cdx);
  }
}

TEST(CdxCollationKnowledge, AKnowledgeFileServesANewProcessAndIsNeverTrustedBlindly) {
  SetDurableWrites(false);
  const TestCollationStyle style = testing::InterleavedTestStyle();
  const auto folder = RegistryWithVisits(style, 40);
  const std::filesystem::path file = folder / "knowledge" / "collations.bin";
  const WriteOptions options{platform::PathText(file)};
  const std::string insert = "insert into m1042 (kl,data_vizc,kto) values (7,'112233','ZUVA')";
  const std::string clear = "update m1042 set data_vizc='0' where data_vizc='112233'";
  ForgetCollationKnowledge();
  {
    // The desk's way: the connection names the file.
    Connection connection;
    connection.SetConnectionString("Data Source=" + folder.string() + ";Collating Sequence=RUSSIAN");
    connection.SetCollationKnowledgeFile(options.collationKnowledge);
    connection.SetConnected(true);
    Query query(connection);
    query.Add(insert);
    EXPECT_EQ(query.Execute(), 1);
  }
  ASSERT_TRUE(std::filesystem::exists(file));
  RunStatement(folder.string(), clear, false, options);
  const auto saved = FileBytes(file);

  // A new process: no tag learned again, the marker's digits known though
  // no tag of m1042 holds them now.
  ForgetCollationKnowledge();
  uint64_t learned = TagsLearnedInFull();
  RunStatement(folder.string(), insert, false, options);
  RunStatement(folder.string(), clear, false, options);
  EXPECT_EQ(TagsLearnedInFull(), learned);
  ASSERT_NO_FATAL_FAILURE(ExpectVisitKeys(folder, style));

  // A damaged file is ignored: the tags are learned again.
  auto damaged = saved;
  damaged[damaged.size() / 2] ^= 0x40;
  std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(damaged.data()),
                                               static_cast<std::streamsize>(damaged.size()));
  ForgetCollationKnowledge();
  learned = TagsLearnedInFull();
  RunStatement(folder.string(), insert, false, options);
  RunStatement(folder.string(), clear, false, options);
  EXPECT_GT(TagsLearnedInFull(), learned);
  ASSERT_NO_FATAL_FAILURE(ExpectVisitKeys(folder, style));

  // A file whose weight for '0' is wrong (written whole, so it reads as
  // sound): a value of characters the file knows gets a wrong key from it,
  // but the pages the insert touches show the difference, the tag is
  // learned again and the key written is the true one.
  std::filesystem::remove(file);
  ForgetCollationKnowledge();
  {
    FileCdxStore store(Cdx(folder, "m1042"), false);
    const CdxIndex index(store);
    const DbfImage image = ReadDbfImage(Dbf(folder, "m1042"));
    const CdxTagHeader& tag = *index.FindTag("VIZC");
    CdxTagCollation truth = LearnTagCollation(index, tag, image.layout, testing::Source(image));
    std::vector<CdxCollationWeights> weights = truth.keys.Weights();
    for (CdxCollationWeights& w : weights) ++w.primary['0'];
    const CdxTagCollation wrong{truth.leaf_pad, truth.leaf_pad_known,
                                CdxLearnedCollation::FromWeights(tag.name, "RUSSIAN", tag.key_length / 2u, 40,
                                                                 std::move(weights))};
    const std::string key = IndexKey(Cdx(folder, "m1042"));
    RememberTag(PlaceOfIndex(key, platform::PathText(file)), key, tag, index.ChangeCounter(), wrong);
  }
  ForgetCollationKnowledge();
  RunStatement(folder.string(), "insert into m1042 (kl,data_vizc,kto) values (7,'000','ZUVA')", false, options);
  ASSERT_EQ(CheckTable(folder, "m1042"), "");
  ASSERT_NO_FATAL_FAILURE(ExpectVisitKeys(folder, style));
}

}  // namespace
}  // namespace ravelto::registry
