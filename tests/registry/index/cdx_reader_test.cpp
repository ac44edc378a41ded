// Reading the fixture indexes, written by an independent implementation:
// every tag's keys in order must equal what a scan of the table gives with
// the tag's expression, and the structural check must find nothing.

#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "registry/index/cdx_build.h"
#include "registry/index/cdx_check.h"
#include "registry/index/cdx_index.h"
#include "registry/index/cdx_key.h"
#include "registry/index/cdx_node.h"
#include "registry/index/cdx_store.h"
#include "tests/registry/index/cdx_test_util.h"

namespace ravelto::registry {
namespace {

const std::string kData = std::string(RAVELTO_TEST_DATA) + "/registry-cdx/";

std::vector<CdxEntry> Expected(const CdxTagHeader& tag, const DbfImage& image) {
  CdxTagKeys keys(tag, image.layout);
  std::vector<CdxEntry> out;
  std::map<std::string, bool> seen;
  for (uint32_t r = 1; r <= image.record_count; ++r) {
    if (!keys.Included(image.Record(r))) continue;
    std::string key = keys.Key(image.Record(r));
    if (tag.Unique() && !seen.emplace(key, true).second) continue;
    out.push_back({key, r, 0});
  }
  std::sort(out.begin(), out.end(),
            [](const CdxEntry& a, const CdxEntry& b) { return CompareEntry(a.key, a.recno, b.key, b.recno) < 0; });
  return out;
}

TEST(CdxReader, EveryFixtureTagMatchesAScanOfItsTable) {
  std::map<std::string, std::vector<std::string>> tags = {
      {"m1005", {"KL", "FIO", "UCHKL", "DR", "KLDESC", "UCHU", "AKT", "ZAPIS", "KOD"}},
      {"ci003", {"KW", "NB"}},
      {"ci007", {"KUCH"}},
      {"m1042", {"KL", "VIZC", "KW", "DZKL"}}};
  for (const auto& [table, names] : tags) {
    SCOPED_TRACE(table);
    DbfImage image = ReadDbfImage(kData + table + ".dbf");
    FileCdxStore store(kData + table + ".cdx", false);
    CdxIndex index(store);
    ASSERT_EQ(index.Tags().size(), names.size());
    for (const std::string& name : names) {
      SCOPED_TRACE(name);
      const CdxTagHeader* tag = index.FindTag(name);
      ASSERT_NE(tag, nullptr);
      CdxTagKeys keys(*tag, image.layout);
      std::vector<CdxEntry> actual = index.ReadAll(tag->root, tag->key_length, keys.Pad());
      std::vector<CdxEntry> expected = Expected(*tag, image);
      ASSERT_EQ(actual.size(), expected.size());
      for (std::size_t i = 0; i < actual.size(); ++i) {
        ASSERT_EQ(actual[i].recno, expected[i].recno) << "entry " << i;
        ASSERT_EQ(actual[i].key, expected[i].key) << "entry " << i;
      }
    }
    CdxCheckReport report = CheckIndex(store, image.layout, testing::Source(image));
    EXPECT_TRUE(report.Ok()) << (report.problems.empty() ? "" : report.problems.front());
    EXPECT_TRUE(report.notes.empty()) << (report.notes.empty() ? "" : report.notes.front());
  }
}

// The leaf encoder is as dense as the independent writer, to the byte: its
// leaves, some packed to the last byte, encode back to exactly themselves.
TEST(CdxReader, EveryLeafOfTheFixturesEncodesBackToItsOwnBytes) {
  const std::string dense = std::string(RAVELTO_TEST_DATA) + "/registry-cdx-dense/m1042";
  std::size_t full = 0;
  for (const std::string& table : {kData + "m1005", kData + "m1042", dense}) {
    SCOPED_TRACE(table);
    DbfImage image = ReadDbfImage(table + ".dbf");
    FileCdxStore store(table + ".cdx", false);
    CdxIndex index(store);
    for (const CdxTagHeader& tag : index.Tags()) {
      const uint8_t pad = CdxTagKeys(tag, image.layout).Pad();
      for (const CdxNode& leaf : testing::LeafChain(index, tag, pad)) {
        const uint32_t at = leaf.offset;
        std::vector<uint8_t> page(cdx::kPageSize), again(cdx::kPageSize);
        store.Read(at, page);
        CdxNode node = DecodeNode(page, at, tag.key_length, pad);
        full += node.stored_free == 0;
        ASSERT_TRUE(EncodeNode(node, tag.key_length, pad, again)) << tag.name << " leaf at " << at;
        ASSERT_EQ(again, page) << tag.name << " leaf at " << at;
      }
    }
    CdxCheckReport report = CheckIndex(store, image.layout, testing::Source(image));
    EXPECT_TRUE(report.Ok()) << (report.problems.empty() ? "" : report.problems.front());
  }
  EXPECT_GT(full, 100u);
}

TEST(CdxReader, TagHeadersCarryOptionsExpressionsAndCollation) {
  FileCdxStore store(kData + "m1005.cdx", false);
  CdxIndex index(store);
  const CdxTagHeader* akt = index.FindTag("akt");
  ASSERT_NE(akt, nullptr);
  EXPECT_EQ(akt->key_expr, "KL");
  EXPECT_EQ(akt->for_expr, "AKTIV");
  EXPECT_EQ(index.FindTag("UCHU")->Unique(), true);
  EXPECT_EQ(index.FindTag("KLDESC")->descending, true);
  EXPECT_EQ(index.FindTag("FIO")->key_length, 50);
  EXPECT_EQ(index.FindTag("FIO")->CollationName(), "MACHINE");
}

TEST(CdxReader, MachineOrderIsCodePageByteOrder) {
  DbfImage image = ReadDbfImage(kData + "m1005.dbf");
  FileCdxStore store(kData + "m1005.cdx", false);
  CdxIndex index(store);
  const CdxTagHeader* fio = index.FindTag("FIO");
  std::vector<std::string> firsts;
  for (const CdxEntry& e : index.ReadAll(fio->root, fio->key_length, ' ')) {
    if (firsts.empty() || firsts.back() != e.key.substr(0, 1)) firsts.push_back(e.key.substr(0, 1));
  }
  // "O'BRIEN" < "ЁЛКИН" (0xA8) < "АБРАМОВ" (0xC0) < "ЯКОВЛЕВ" (0xDF)
  auto at = [&](char c) { return std::find(firsts.begin(), firsts.end(), std::string(1, c)) - firsts.begin(); };
  EXPECT_LT(at('O'), at('\xA8'));
  EXPECT_LT(at('\xA8'), at('\xC0'));
  EXPECT_LT(at('\xC0'), at('\xDF'));
}

}  // namespace
}  // namespace ravelto::registry

namespace ravelto::registry {
namespace {

// The bulk builder (used by benchmarks) gives the same keys as the fixture
// index, and a tree the check accepts.
TEST(CdxBuild, RebuiltFixtureIndexHasTheSameKeys) {
  auto folder = testing::CopyFixtures();
  DbfImage image = ReadDbfImage(kData + "m1005.dbf");
  std::vector<CdxNewTag> new_tags;
  {
    FileCdxStore store(kData + "m1005.cdx", false);
    CdxIndex index(store);
    for (const CdxTagHeader& t : index.Tags()) {
      new_tags.push_back({t.name, t.key_expr, t.for_expr, t.Unique(), t.descending});
    }
  }
  // The builder gives integer tags the registry program's 4-byte keys, so
  // only KOD's record order is compared.
  BuildIndex(folder / "rebuilt.cdx", image.layout, testing::Source(image), new_tags);
  FileCdxStore fixture(kData + "m1005.cdx", false), rebuilt(folder / "rebuilt.cdx", false);
  CdxIndex a(fixture), b(rebuilt);
  for (const CdxTagHeader& t : a.Tags()) {
    SCOPED_TRACE(t.name);
    const CdxTagHeader* u = b.FindTag(t.name);
    ASSERT_NE(u, nullptr);
    CdxTagKeys keys(*u, image.layout);
    auto x = a.ReadAll(t.root, t.key_length, keys.Pad());
    auto y = b.ReadAll(u->root, u->key_length, keys.Pad());
    ASSERT_EQ(x.size(), y.size());
    for (std::size_t i = 0; i < x.size(); ++i) {
      EXPECT_EQ(x[i].recno, y[i].recno);
      if (t.name != "KOD") {
        EXPECT_EQ(x[i].key, y[i].key);
      }
    }
  }
  EXPECT_TRUE(CheckIndex(rebuilt, image.layout, testing::Source(image)).Ok());
}

}  // namespace
}  // namespace ravelto::registry
