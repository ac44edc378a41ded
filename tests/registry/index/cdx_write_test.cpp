// Keeping indexes true while rows are appended and updated: random rows into
// copies of the fixture tables with the full structural check after every
// batch, refusals that leave both files untouched, and writers killed at
// random points.

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <map>
#include <random>
#include <thread>

#include "registry/index/cdx_build.h"
#include "registry/index/cdx_index.h"
#include "registry/index/cdx_maintainer.h"
#include "registry/table/file_io.h"
#include "tests/registry/index/cdx_test_util.h"
#include "tests/support/child_role.h"

namespace ravelto::registry {
namespace {

using testing::Cdx;
using testing::CheckTable;
using testing::CopyFixtures;
using testing::Dbf;
using testing::FileBytes;


// A minimal table writer with the engine's order of writes: record and end
// mark, then the header count, between Prepare and Apply.
class Writer {
 public:
  Writer(const std::filesystem::path& folder, const std::string& table)
      : dbf_(Dbf(folder, table)), image_(ReadDbfImage(dbf_)), maintainer_(Cdx(folder, table), image_.layout, table) {
    maintainer_.SetLockRetry(200);
  }

  const CdxLayout& Layout() const { return image_.layout; }
  uint32_t Count() const { return image_.record_count; }
  std::vector<uint8_t> Record(uint32_t recno) const {
    auto r = image_.Record(recno);
    return {r.begin(), r.end()};
  }

  void Append(const std::vector<uint8_t>& record) {
    PrepareAndWrite(record);
    maintainer_.Apply();
  }

  bool Recover() { return maintainer_.Recover(testing::Source(image_), Scan()); }

  // What a writer leaves when it stops after the row reached the table and
  // before its index pages were written.
  void AppendWithoutIndex(const std::vector<uint8_t>& record) {
    PrepareAndWrite(record);
    maintainer_.Abandon();
  }

  void Update(uint32_t recno, const std::vector<uint8_t>& record) {
    std::vector<uint8_t> old = Record(recno);
    maintainer_.Prepare(recno, old, record, Scan());
    std::size_t at = image_.header_length + std::size_t{recno - 1} * image_.layout.record_length;
    std::copy(record.begin(), record.end(), image_.bytes.begin() + static_cast<std::ptrdiff_t>(at));
    WriteAt(at, record.size());
    maintainer_.Apply();
  }

 private:
  // The index prepares the appended row; then the record and end mark are
  // written, then the count.
  void PrepareAndWrite(const std::vector<uint8_t>& record) {
    uint32_t recno = image_.record_count + 1;
    maintainer_.Prepare(recno, {}, record, Scan());
    std::size_t at = image_.header_length + std::size_t{recno - 1} * image_.layout.record_length;
    image_.bytes.resize(at);
    image_.bytes.insert(image_.bytes.end(), record.begin(), record.end());
    image_.bytes.push_back(0x1A);
    image_.record_count = recno;
    WriteAt(at, record.size() + 1);
    PutLe32(recno);
    WriteAt(4, 4);
  }
  CdxTableScan Scan() {
    return [this](const CdxRecordVisitor& visit) {
      for (uint32_t r = 1; r <= image_.record_count; ++r) visit(r, image_.Record(r));
    };
  }
  void PutLe32(uint32_t v) {
    for (int i = 0; i < 4; ++i) image_.bytes[4 + i] = static_cast<uint8_t>(v >> (8 * i));
  }
  void WriteAt(std::size_t at, std::size_t n) {
    std::fstream out(dbf_, std::ios::binary | std::ios::in | std::ios::out);
    out.seekp(static_cast<std::streamoff>(at));
    out.write(reinterpret_cast<const char*>(image_.bytes.data() + at), static_cast<std::streamsize>(n));
  }

  std::filesystem::path dbf_;
  DbfImage image_;
  CdxMaintainer maintainer_;
};

// Random values for the fields the fixture tags use.
class RowMaker {
 public:
  explicit RowMaker(uint32_t seed) : rng_(seed) {}
  int Int(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng_); }

  void Put(std::vector<uint8_t>& rec, const CdxLayout& layout, const std::string& name, const std::string& text) {
    const CdxField* f = layout.Find(name);
    ASSERT_NE(f, nullptr) << name;
    std::string v = text;
    v.resize(f->length, ' ');
    std::memcpy(rec.data() + f->offset, v.data(), f->length);
  }
  void PutNumber(std::vector<uint8_t>& rec, const CdxLayout& layout, const std::string& name, long long v) {
    const CdxField* f = layout.Find(name);
    std::string t = std::to_string(v);
    Put(rec, layout, name, std::string(f->length - t.size(), ' ') + t);
  }
  void PutInt32(std::vector<uint8_t>& rec, const CdxLayout& layout, const std::string& name, int32_t v) {
    std::memcpy(rec.data() + layout.Find(name)->offset, &v, 4);
  }
  std::string Name() {
    static const char* kStarts[] = {"\xC0\xC1", "\xDF\xCA", "\xA8\xCB", "O'B", "ab", "\xC8\xC2\xC0\xCD", "", "ZZ"};
    std::string s = kStarts[Int(0, 7)];
    int extra = Int(0, 3) == 0 ? 40 : Int(0, 6);  // sometimes longer than the field: maximum-length keys
    for (int i = 0; i < extra; ++i) s.push_back(static_cast<char>(Int(0, 1) ? 0xE0 + Int(0, 31) : 'A' + Int(0, 25)));
    return s;
  }
  std::string Date() {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d", Int(1930, 2030), Int(1, 12), Int(1, 28));
    return buf;
  }

  // m1005: KL, FIOL, IM, UCH, DATA_R, ZAPIS, AKTIV, KOD drive its nine tags.
  std::vector<uint8_t> Patient(std::vector<uint8_t> rec, const CdxLayout& layout) {
    PutNumber(rec, layout, "KL", Int(0, 3) == 0 ? Int(1, 50) : Int(-99999, 9999999));
    Put(rec, layout, "FIOL", Name());
    Put(rec, layout, "IM", Name());
    PutNumber(rec, layout, "UCH", Int(0, 30));
    Put(rec, layout, "DATA_R", Int(0, 9) == 0 ? std::string(8, ' ') : Date());
    int32_t day = 2440000 + Int(0, 30000), ms = Int(0, 86399999);
    std::memcpy(rec.data() + layout.Find("ZAPIS")->offset, &day, 4);
    std::memcpy(rec.data() + layout.Find("ZAPIS")->offset + 4, &ms, 4);
    Put(rec, layout, "AKTIV", Int(0, 1) ? "T" : "F");
    PutInt32(rec, layout, "KOD", Int(-2000000000, 2000000000));
    rec[0] = Int(0, 15) == 0 ? '*' : ' ';
    return rec;
  }

 private:
  std::mt19937 rng_;
};

// Flushing to the disk proves nothing here: a killed process loses nothing
// that reached the page cache.
class NoFlush : public ::testing::Environment {
 public:
  void SetUp() override { SetDurableWrites(false); }
};
const auto* const kNoFlush = ::testing::AddGlobalTestEnvironment(new NoFlush);

TEST(CdxWrite, RandomAppendsAndUpdatesKeepEveryTagTrue) {
  auto folder = CopyFixtures();
  Writer w(folder, "m1005");
  RowMaker make(1234);
  std::vector<uint8_t> templ = w.Record(1);
  for (int batch = 0; batch < 6; ++batch) {
    for (int i = 0; i < 400; ++i) {
      if (make.Int(0, 2) == 0) {
        uint32_t recno = static_cast<uint32_t>(make.Int(1, static_cast<int>(w.Count())));
        w.Update(recno, make.Patient(w.Record(recno), w.Layout()));
      } else {
        w.Append(make.Patient(templ, w.Layout()));
      }
    }
    ASSERT_EQ(CheckTable(folder, "m1005"), "") << "batch " << batch;
  }
  // The trees grew interior levels and the free list took emptied pages.
  FileCdxStore store(Cdx(folder, "m1005"), false);
  CdxIndex index(store);
  EXPECT_GT(index.ChangeCounter(), 0u);
  EXPECT_FALSE(index.ReadNode(index.FindTag("FIO")->root, 50, ' ').IsLeaf());
  EXPECT_FALSE(std::filesystem::exists(PendingMarkerPath(Cdx(folder, "m1005"))));
}

TEST(CdxWrite, UpdatesThatEmptyAndRefillNodesReuseFreedPages) {
  auto folder = CopyFixtures();
  Writer w(folder, "m1005");
  RowMaker make(99);
  std::vector<uint8_t> templ = w.Record(1);
  // Move every KL key far to the right and back: leaves empty, get unlinked
  // and freed, and new leaves come from the free list.
  for (int round = 0; round < 2; ++round) {
    for (uint32_t r = 1; r <= w.Count(); ++r) {
      std::vector<uint8_t> rec = w.Record(r);
      make.PutNumber(rec, w.Layout(), "KL", round == 0 ? 900000000 + r : r);
      w.Update(r, rec);
    }
    ASSERT_EQ(CheckTable(folder, "m1005"), "") << "round " << round;
  }
  auto size_before = std::filesystem::file_size(Cdx(folder, "m1005"));
  for (uint32_t r = 1; r <= 200; ++r) {
    std::vector<uint8_t> rec = w.Record(r);
    make.PutNumber(rec, w.Layout(), "KL", 800000000 + r);
    w.Update(r, rec);
  }
  ASSERT_EQ(CheckTable(folder, "m1005"), "");
  EXPECT_LE(std::filesystem::file_size(Cdx(folder, "m1005")), size_before + 4 * 512);
}

TEST(CdxWrite, UniqueTagKeepsTheFirstRecordOfEachKey) {
  auto folder = CopyFixtures();
  Writer w(folder, "m1005");
  RowMaker make(7);
  // Move the indexed record of every UCH group to another group and back.
  for (uint32_t r = 1; r <= 60; ++r) {
    std::vector<uint8_t> rec = w.Record(r);
    make.PutNumber(rec, w.Layout(), "UCH", 900 + static_cast<int>(r % 3));
    w.Update(r, rec);
    ASSERT_EQ(CheckTable(folder, "m1005"), "") << "record " << r;
  }
}

TEST(CdxWrite, EmptyTableGrowsFromAnEmptyRootLeaf) {
  auto folder = CopyFixtures();
  Writer w(folder, "m1042");
  RowMaker make(5);
  std::vector<uint8_t> rec(w.Layout().record_length, ' ');
  for (int i = 0; i < 3000; ++i) {
    make.PutNumber(rec, w.Layout(), "KL", make.Int(1, 500));
    make.Put(rec, w.Layout(), "DATA_VIZC", i % 2 ? "112233" : "0");
    make.PutNumber(rec, w.Layout(), "KW", make.Int(61000, 61999));
    make.Put(rec, w.Layout(), "DATA_Z", i % 7 ? make.Date() : std::string(8, ' '));
    w.Append(rec);
  }
  ASSERT_EQ(CheckTable(folder, "m1042"), "");
}

// Leaves of a tag packed to the last byte (stored free space 0) and the
// leaves beside them; for each, the record of an entry in its middle.
std::vector<uint32_t> RecordsInFullLeaves(const std::filesystem::path& cdx, const std::string& tag_name,
                                          const CdxLayout& layout) {
  FileCdxStore store(cdx, false);
  CdxIndex index(store);
  const CdxTagHeader& tag = *index.FindTag(tag_name);
  const uint8_t pad = ReadPad(tag, &layout);
  const std::vector<CdxNode> leaves = testing::LeafChain(index, tag, pad);
  std::vector<uint32_t> out;
  for (std::size_t i = 0; i < leaves.size(); ++i) {
    if (leaves[i].stored_free != 0) continue;
    for (std::size_t j = i == 0 ? 0 : i - 1; j <= std::min(i + 1, leaves.size() - 1); ++j) {
      out.push_back(leaves[j].entries[leaves[j].entries.size() / 2].recno);
    }
  }
  return out;
}

// Another writer packed some leaves of the dense table to the last byte.
// A row appended as a copy of a record in such a leaf (or beside one) lands
// next to it in the tags of unique keys (KL, DZKL); a record changed into a
// copy of its predecessor moves its KW key from another page to the
// predecessor's, in a full KW leaf or beside one. The full check (every row
// found through every tag) runs after each row.
TEST(CdxWrite, LeavesAnotherWriterPackedFullTakeNewAndMovedKeys) {
  auto folder = CopyFixtures("registry-cdx-dense");
  Writer w(folder, "m1042");
  std::map<std::string, std::vector<uint32_t>> targets;
  for (const char* tag : {"KL", "KW", "DZKL"}) {
    targets[tag] = RecordsInFullLeaves(Cdx(folder, "m1042"), tag, w.Layout());
  }
  std::size_t rows = 0;
  for (const char* tag : {"KL", "DZKL"}) {
    for (uint32_t r : targets[tag]) {
      w.Append(w.Record(r));
      ASSERT_EQ(CheckTable(folder, "m1042"), "") << "append of a copy of record " << r << " (" << tag << ")";
      ++rows;
    }
  }
  for (uint32_t r : targets["KW"]) {
    w.Update(r + 1, w.Record(r));
    ASSERT_EQ(CheckTable(folder, "m1042"), "") << "update of record " << r + 1;
    ++rows;
  }
  EXPECT_GT(rows, 300u);
  EXPECT_FALSE(std::filesystem::exists(PendingMarkerPath(Cdx(folder, "m1042"))));
}

// Every leaf packed as tightly as the format allows, denser than this
// program's own leaves, in tags of every kind the engine maintains: numeric,
// character, date-time, integer, date with a FOR clause, descending, UNIQUE.
// Random appends and key changes, each checked.
TEST(CdxWrite, TreesPackedAsTightlyAsTheFormatAllowsStayTrue) {
  auto folder = CopyFixtures();
  {
    DbfImage image = ReadDbfImage(Dbf(folder, "m1005"));
    BuildIndex(Cdx(folder, "m1005"), image.layout, testing::Source(image),
               {{"KL", "KL", "", false, false},
                {"FIO", "Upper( FIOL ) + Upper( IM )", "", false, false},
                {"UCHKL", "Str( UCH, 3 ) + Str( KL, 10 )", "", false, false},
                {"DR", "DATA_R", "!EMPTY(DATA_R)", false, false},
                {"KLDESC", "KL", "", false, true},
                {"UCHU", "UCH", "", true, false},
                {"AKT", "KL", "AKTIV", false, false},
                {"ZAPIS", "ZAPIS", "", false, false},
                {"KOD", "KOD", "", false, false}},
               testing::PackTightly);
  }
  ASSERT_EQ(CheckTable(folder, "m1005"), "");
  Writer w(folder, "m1005");
  RowMaker make(2468);
  std::vector<uint8_t> templ = w.Record(1);
  for (int i = 0; i < 400; ++i) {
    if (make.Int(0, 1) == 0) {
      uint32_t recno = static_cast<uint32_t>(make.Int(1, static_cast<int>(w.Count())));
      w.Update(recno, make.Patient(w.Record(recno), w.Layout()));
    } else {
      w.Append(make.Patient(templ, w.Layout()));
    }
    ASSERT_EQ(CheckTable(folder, "m1005"), "") << "statement " << i;
  }
}

// Patches bytes of a fixture index in place.
void Patch(const std::filesystem::path& cdx, uint64_t offset, const std::string& bytes) {
  std::fstream f(cdx, std::ios::binary | std::ios::in | std::ios::out);
  f.seekp(static_cast<std::streamoff>(offset));
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

uint32_t TagHeaderOffset(const std::filesystem::path& cdx, const std::string& name) {
  FileCdxStore store(cdx, false);
  return CdxIndex(store).FindTag(name)->header_offset;
}

TEST(CdxWrite, TagsThatCannotBeReproducedRefuseEveryWrite) {
  struct Case {
    const char* tag;
    uint64_t at;  // offset inside the tag header
    std::string bytes;
    const char* expected;  // part of the message
  } cases[] = {
      {"FIO", 494, std::string("RUSSIAN\0", 8), "index tag FIO (Upper( FIOL ) + Upper( IM ), collation RUSSIAN)"},
      {"FIO", 494, std::string("GENERAL\0", 8), "collation GENERAL"},
      {"DR", 512, "DTOC", "the function DTOC() is not supported"},
      {"UCHKL", 512, "Val(", "the function VAL() is not supported"},
      {"KL", 12, std::string("\x0A\x00", 2), "key length 10 does not match"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.expected);
    auto folder = CopyFixtures();
    Patch(Cdx(folder, "m1005"), TagHeaderOffset(Cdx(folder, "m1005"), c.tag) + c.at, c.bytes);
    auto before = FileBytes(Cdx(folder, "m1005"));
    try {
      Writer w(folder, "m1005");
      FAIL() << "not refused";
    } catch (const CdxError& e) {
      EXPECT_NE(std::string(e.what()).find(c.expected), std::string::npos) << e.what();
      EXPECT_NE(std::string(e.what()).find("Cannot write to table 'm1005'"), std::string::npos);
    }
    EXPECT_EQ(FileBytes(Cdx(folder, "m1005")), before);
  }
}

TEST(CdxWrite, CandidateTagRejectsADuplicateAndWritesNothing) {
  auto folder = CopyFixtures();
  uint32_t kl = TagHeaderOffset(Cdx(folder, "m1005"), "KL");
  Patch(Cdx(folder, "m1005"), kl + 14, "\x64");  // 0x60 | candidate
  Writer w(folder, "m1005");
  auto before = FileBytes(Cdx(folder, "m1005"));
  std::vector<uint8_t> rec = w.Record(2);  // same KL as record 2
  EXPECT_THROW(
      {
        try {
          w.Append(rec);
        } catch (const CdxError& e) {
          EXPECT_NE(std::string(e.what()).find("Uniqueness of index violated"), std::string::npos);
          throw;
        }
      },
      CdxError);
  EXPECT_EQ(FileBytes(Cdx(folder, "m1005")), before);
  EXPECT_EQ(w.Count(), 500u);
  RowMaker make(3);
  make.PutNumber(rec, w.Layout(), "KL", 77777777);
  w.Append(rec);
  EXPECT_EQ(CheckTable(folder, "m1005"), "");
}

TEST(CdxWrite, RowsWhoseKeysAreUnknownAreRefused) {
  auto folder = CopyFixtures();
  Writer w(folder, "m1005");
  auto before = FileBytes(Cdx(folder, "m1005"));
  std::vector<uint8_t> rec = w.Record(3);
  RowMaker make(1);
  make.Put(rec, w.Layout(), "KL", "**********");  // numeric overflow mark
  EXPECT_THROW(w.Append(rec), CdxError);
  rec = w.Record(3);
  make.Put(rec, w.Layout(), "DATA_R", "20230231");  // impossible date
  EXPECT_THROW(w.Update(3, rec), CdxError);
  EXPECT_EQ(FileBytes(Cdx(folder, "m1005")), before);
  EXPECT_EQ(CheckTable(folder, "m1005"), "");
}

// Appends (even rounds) or updates (odd rounds) patients of m1005 until
// killed; creates the file `started` after its first row (args: folder,
// round, started).
RAVELTO_CHILD_ROLE(KilledWriter) {
  const uint32_t round = static_cast<uint32_t>(std::stoul(args.at(1)));
  Writer w(args.at(0), "m1005");
  RowMaker make(round);
  std::vector<uint8_t> templ = w.Record(1);
  for (uint32_t i = 0;; ++i) {
    if (round % 2) {
      uint32_t r = 1 + i % w.Count();
      w.Update(r, make.Patient(w.Record(r), w.Layout()));
    } else {
      w.Append(make.Patient(templ, w.Layout()));
    }
    if (i == 0) ::ravelto::testing::TouchFile(args.at(2));
  }
}

// A writer killed at random points leaves the table and its index both
// before or both after the row once the next writer has recovered from the
// journal; appends and updates alike.
TEST(CdxWrite, AKilledWriterLeavesBothFilesBeforeOrAfterTheRow) {
  std::mt19937 rng(42);
  int interrupted = 0;
  for (int round = 0; round < 16; ++round) {
    auto folder = CopyFixtures();
    const std::string started = (folder / "started").string();
    auto child = ::ravelto::testing::StartChild("KilledWriter", {folder.string(), std::to_string(round), started});
    ASSERT_TRUE(::ravelto::testing::WaitForFile(started)) << "round " << round;
    std::this_thread::sleep_for(std::chrono::microseconds(20000 + rng() % 200000));
    child.Kill();
    Writer w(folder, "m1005");
    if (w.Recover()) ++interrupted;
    EXPECT_FALSE(std::filesystem::exists(PendingMarkerPath(Cdx(folder, "m1005"))));
    ASSERT_EQ(CheckTable(folder, "m1005"), "") << "round " << round;
    w.Append(w.Record(1));  // writing goes on
    EXPECT_EQ(CheckTable(folder, "m1005"), "");
  }
  EXPECT_GT(interrupted, 0);
}

TEST(CdxWrite, DamageFromElsewhereIsNamedAndRefusesWrites) {
  auto folder = CopyFixtures();
  {
    Writer w(folder, "m1005");
    std::vector<uint8_t> rec = w.Record(1);
    w.Append(rec);
  }
  // A torn journal (nothing to undo or redo) beside an index damaged by
  // hand: recovery's check names the damage, and the journal stays so that
  // every later write checks again.
  uint32_t root = 0;
  {
    FileCdxStore store(Cdx(folder, "m1005"), false);
    root = CdxIndex(store).FindTag("DR")->root;
  }
  Patch(Cdx(folder, "m1005"), root + 12, std::string("\x07\x00", 2));
  std::ofstream(PendingMarkerPath(Cdx(folder, "m1005"))) << "torn";
  Writer w(folder, "m1005");
  try {
    w.Recover();
    FAIL() << "damage not reported";
  } catch (const CdxError& e) {
    EXPECT_NE(std::string(e.what()).find("index fails the check (tag DR: "), std::string::npos) << e.what();
  }
  EXPECT_TRUE(std::filesystem::exists(PendingMarkerPath(Cdx(folder, "m1005"))));
}

// An earlier writer stopped after the row reached the table, leaving only
// the head of its journal (the row, no saved pages): a visit of KL 54465,
// whose key goes beside a leaf packed full. The next writer indexes it and
// the table can be written again.
TEST(CdxWrite, ARowLeftUnindexedByAnEarlierWriterIsIndexedByTheNext) {
  auto folder = CopyFixtures("registry-cdx-dense");
  const auto journal = PendingMarkerPath(Cdx(folder, "m1042"));
  {
    Writer w(folder, "m1042");
    std::vector<uint8_t> rec = w.Record(1);
    RowMaker(1).PutNumber(rec, w.Layout(), "KL", 54465);
    w.AppendWithoutIndex(rec);
    std::filesystem::resize_file(journal, 8 + 4 + 4 + 4 + rec.size());
  }
  EXPECT_NE(CheckTable(folder, "m1042"), "");
  Writer w(folder, "m1042");
  EXPECT_TRUE(w.Recover());
  EXPECT_FALSE(std::filesystem::exists(journal));
  EXPECT_EQ(CheckTable(folder, "m1042"), "");
  w.Append(w.Record(w.Count()));
  EXPECT_EQ(CheckTable(folder, "m1042"), "");
}

// A recovery that cannot make the index true asks for the table to be
// reindexed in the registry program, and from then on its journal asks only
// for the check: once the registry program has rebuilt the index (its change
// counter starting again from 0, as the journalled one did), the saved pages
// are not put back over it, and writing goes on.
TEST(CdxWrite, AfterAFailedRecoveryTheRebuiltIndexIsOnlyChecked) {
  auto folder = CopyFixtures();
  {
    Writer w(folder, "m1005");
    w.AppendWithoutIndex(w.Record(1));
  }
  // The row in the table is no longer the journalled one, and not indexed.
  DbfImage image = ReadDbfImage(Dbf(folder, "m1005"));
  Patch(Dbf(folder, "m1005"),
        image.header_length + std::size_t{image.record_count - 1} * image.layout.record_length +
            image.layout.Find("FIOL")->offset,
        "Z");
  try {
    Writer w(folder, "m1005");
    w.Recover();
    FAIL() << "not refused";
  } catch (const CdxError& e) {
    EXPECT_NE(std::string(e.what()).find("record 501 is missing"), std::string::npos) << e.what();
    EXPECT_NE(std::string(e.what()).find("Reindex the table in the registry program"), std::string::npos) << e.what();
  }
  std::vector<CdxNewTag> tags;
  {
    FileCdxStore store(Cdx(folder, "m1005"), false);
    CdxIndex index(store);
    for (const CdxTagHeader& t : index.Tags()) {
      tags.push_back({t.name, t.key_expr, t.for_expr, t.Unique(), t.descending});
    }
  }
  image = ReadDbfImage(Dbf(folder, "m1005"));
  BuildIndex(Cdx(folder, "m1005"), image.layout, testing::Source(image), tags);
  Writer w(folder, "m1005");
  EXPECT_TRUE(w.Recover());
  EXPECT_FALSE(std::filesystem::exists(PendingMarkerPath(Cdx(folder, "m1005"))));
  EXPECT_EQ(CheckTable(folder, "m1005"), "");
}

}  // namespace
}  // namespace ravelto::registry
