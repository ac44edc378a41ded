// Indexed reads and writes on registry-sized tables generated in /tmp:
// a point lookup on a 200,000-row m1005 and one appended row on a
// 1,000,000-row m1042 with five tags, one of them, in another variant, a
// text tag in another collation; the accept on a 1,000,000-row m1042 whose
// text tags are RUSSIAN against the same with MACHINE tags, after another
// writer's change, in this process, as the first of a process and as
// registry-sql processes.

#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "registry/index/cdx_build.h"
#include "registry/index/cdx_collation_store.h"
#include "registry/index/cdx_expr.h"
#include "registry/sql/statement_runner.h"
#include "registry/table/rows_read.h"
#include "registry/table/file_io.h"

namespace {

using namespace ravelto::registry;
namespace fs = std::filesystem;

void Put(std::vector<uint8_t>& rec, const CdxField* f, const std::string& text, bool right = false) {
  std::string v = text.substr(0, f->length);
  if (right) v.insert(0, f->length - v.size(), ' ');
  v.resize(f->length, ' ');
  std::memcpy(rec.data() + f->offset, v.data(), f->length);
}

// The generated folders go when the benchmark exits.
struct Cleanup {
  std::vector<fs::path> dirs;
  ~Cleanup() {
    std::error_code ec;
    for (const auto& d : dirs) fs::remove_all(d, ec);
  }
};
Cleanup& Made() {
  static Cleanup c;
  return c;
}

// Copies an (empty or small) fixture table, replaces its rows with `rows`
// generated ones, and builds a fresh index with `tags`.
fs::path Generate(const std::string& table, uint32_t rows, const std::vector<CdxNewTag>& tags,
                  void (*fill)(std::vector<uint8_t>&, const CdxLayout&, uint32_t, std::mt19937&),
                  const std::string& variant = "") {
  fs::path dir = fs::temp_directory_path() / ("cdx-bench-" + std::to_string(::getpid()) + "-" + table + variant);
  fs::remove_all(dir);
  fs::create_directories(dir);
  Made().dirs.push_back(dir);
  const fs::path src = fs::path(RAVELTO_TEST_DATA) / "registry-cdx";
  for (const char* ext : {".dbf", ".fpt"}) {
    if (fs::exists(src / (table + ext))) fs::copy_file(src / (table + ext), dir / (table + ext));
    fs::permissions(dir / (table + ext), fs::perms::owner_write, fs::perm_options::add);
  }
  DbfImage image = ReadDbfImage(dir / (table + ".dbf"));
  image.bytes.resize(image.header_length);
  std::vector<uint8_t> rec(image.layout.record_length, ' ');
  std::mt19937 rng(7);
  image.bytes.reserve(image.header_length + std::size_t{rows} * rec.size() + 1);
  for (uint32_t r = 1; r <= rows; ++r) {
    std::fill(rec.begin(), rec.end(), ' ');
    for (const CdxField& f : image.layout.fields) {
      if (f.type == 'M' || f.type == 'T' || f.type == 'I' || f.type == 'B') std::memset(rec.data() + f.offset, 0, f.length);
    }
    if (image.layout.null_flags_offset >= 0) rec[image.layout.null_flags_offset] = 0;
    fill(rec, image.layout, r, rng);
    image.bytes.insert(image.bytes.end(), rec.begin(), rec.end());
  }
  image.bytes.push_back(0x1A);
  for (int i = 0; i < 4; ++i) image.bytes[4 + i] = static_cast<uint8_t>(rows >> (8 * i));
  image.bytes[28] |= 0x01;
  image.record_count = rows;
  {
    std::ofstream out(dir / (table + ".dbf"), std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(image.bytes.data()), static_cast<std::streamsize>(image.bytes.size()));
  }
  CdxRecordSource source;
  source.count = rows;
  source.record = [&image](uint32_t r) { return image.Record(r); };
  BuildIndex(dir / (table + ".cdx"), image.layout, source, tags);
  return dir;
}

void FillPatient(std::vector<uint8_t>& rec, const CdxLayout& l, uint32_t r, std::mt19937& rng) {
  Put(rec, l.Find("KL"), std::to_string(r * 7), true);
  std::string name;
  for (int i = 0; i < 8; ++i) name.push_back(static_cast<char>(0xC0 + rng() % 32));
  Put(rec, l.Find("FIOL"), name);
  Put(rec, l.Find("IM"), name.substr(0, 5));
  Put(rec, l.Find("UCH"), std::to_string(1 + r % 40), true);
  Put(rec, l.Find("DATA_R"), "19" + std::to_string(40 + r % 60) + "0115");
  Put(rec, l.Find("AKTIV"), "T");
}

void FillVisit(std::vector<uint8_t>& rec, const CdxLayout& l, uint32_t r, std::mt19937& rng) {
  Put(rec, l.Find("KL"), std::to_string(rng() % 200000 * 7), true);
  Put(rec, l.Find("DATA_VIZC"), "0");
  Put(rec, l.Find("KTO"), "ZUVA");
  Put(rec, l.Find("KW"), std::to_string(61000 + rng() % 40), true);
  std::string street;
  for (int i = 0; i < 10; ++i) street.push_back(static_cast<char>(0xE0 + rng() % 32));
  Put(rec, l.Find("STREET_F"), street);
  Put(rec, l.Find("DATA_Z"), "202" + std::to_string(r % 6) + "0" + std::to_string(1 + r % 9) + "1" + std::to_string(r % 10));
}

const fs::path& Patients() {
  static const fs::path dir = Generate("m1005", 200000,
                                       {{"KL", "KL", "", false, false},
                                        {"FIO", "Upper( FIOL ) + Upper( IM )", "", false, false},
                                        {"UCHKL", "Str( UCH, 3 ) + Str( KL, 10 )", "", false, false},
                                        {"DR", "DToS( DATA_R )", "", false, false}},
                                       FillPatient);
  return dir;
}

const fs::path& Visits() {
  static const fs::path dir = Generate("m1042", 1000000,
                                       {{"KL", "KL", "", false, false},
                                        {"VIZC", "DATA_VIZC", "", false, false},
                                        {"KW", "KW", "", false, false},
                                        {"DZKL", "DToS( DATA_Z ) + Str( KL, 10 )", "", false, false},
                                        {"STREET", "Upper( STREET_F )", "", false, false}},
                                       FillVisit);
  return dir;
}

void BM_IndexedPointLookup(benchmark::State& state) {
  const std::string folder = Patients().string();
  std::mt19937 rng(1);
  for (auto _ : state) {
    auto out = RunStatement(folder, "select * from m1005 where kl=" + std::to_string((1 + rng() % 200000) * 7), true);
    if (out.result->rows.size() != 1) state.SkipWithError("lookup did not find its row");
  }
}
BENCHMARK(BM_IndexedPointLookup)->Unit(benchmark::kMicrosecond);

// The same lookup written so that no index serves it: the full scan.
void BM_ScannedPointLookup(benchmark::State& state) {
  const std::string folder = Patients().string();
  for (auto _ : state) RunStatement(folder, "select * from m1005 where kl+0=700007", true);
}
BENCHMARK(BM_ScannedPointLookup)->Unit(benchmark::kMillisecond);

// A copy of a generated folder with the table's index flag cleared: what the
// table work alone costs.
fs::path WithoutIndex(const fs::path& from, const std::string& table) {
  fs::path d = from.string() + "-plain";
  fs::remove_all(d);
  fs::create_directories(d);
  Made().dirs.push_back(d);
  for (const char* ext : {".dbf", ".fpt"}) {
    if (fs::exists(from / (table + ext))) fs::copy_file(from / (table + ext), d / (table + ext));
  }
  std::fstream f(d / (table + ".dbf"), std::ios::binary | std::ios::in | std::ios::out);
  f.seekg(28);
  char flags = 0;
  f.read(&flags, 1);
  flags = static_cast<char>(flags & ~0x01);
  f.seekp(28);
  f.write(&flags, 1);
  return d;
}

const fs::path& VisitsWithoutIndex() {
  static const fs::path dir = WithoutIndex(Visits(), "m1042");
  return dir;
}

// The first row by an indexed numeric column: the tag's first entry, one
// row read (against a scan and sort of the whole table).
void BM_IndexedTopOrderBy(benchmark::State& state) {
  const std::string folder = Visits().string();
  for (auto _ : state) {
    auto out = RunStatement(folder, "select top 1 * from m1042 order by kl", true);
    if (out.result->rows.size() != 1) state.SkipWithError("no row");
  }
}
BENCHMARK(BM_IndexedTopOrderBy)->Unit(benchmark::kMicrosecond);

void BM_IndexedTopOrderByDesc(benchmark::State& state) {
  const std::string folder = Visits().string();
  for (auto _ : state) RunStatement(folder, "select top 1 * from m1042 order by kl desc", true);
}
BENCHMARK(BM_IndexedTopOrderByDesc)->Unit(benchmark::kMicrosecond);

void BM_IndexedUpdateByText(benchmark::State& state) {
  const std::string folder = Visits().string();
  for (auto _ : state) RunStatement(folder, "update m1042 set kto = 'ZUVA' where data_vizc = '112233'", false);
}
BENCHMARK(BM_IndexedUpdateByText)->Unit(benchmark::kMicrosecond);

void BM_ScannedTopOrderBy(benchmark::State& state) {
  const std::string folder = VisitsWithoutIndex().string();
  for (auto _ : state) RunStatement(folder, "select top 1 * from m1042 order by kl", true);
}
BENCHMARK(BM_ScannedTopOrderBy)->Unit(benchmark::kMillisecond);

void BM_ScannedUpdateByText(benchmark::State& state) {
  const std::string folder = VisitsWithoutIndex().string();
  for (auto _ : state) RunStatement(folder, "update m1042 set kto = 'ZUVA' where data_vizc = '112233'", false);
}
BENCHMARK(BM_ScannedUpdateByText)->Unit(benchmark::kMillisecond);

// The accept's insert: a visit of a random patient marked '112233'.
std::string MarkedVisitInsert(std::mt19937& rng) {
  return "insert into m1042 (kl,data_vizc,kto,street_f,kw,stree1_f,kr_f,knacp_f) value (" +
         std::to_string(rng() % 200000 * 7) + ",'112233','ZUVA','\xEB\xE5\xED\xE8\xED\xE0'," +
         std::to_string(61000 + rng() % 40) + ",1,2,3)";
}

void AppendOne(benchmark::State& state, bool durable, bool indexed = true) {
  const std::string folder = indexed ? Visits().string() : VisitsWithoutIndex().string();
  SetDurableWrites(durable);
  std::mt19937 rng(2);
  for (auto _ : state) {
    RunStatement(folder, MarkedVisitInsert(rng), false);
  }
  SetDurableWrites(true);
}
void BM_AppendIndexedRow(benchmark::State& state) { AppendOne(state, false); }
void BM_AppendIndexedRowDurable(benchmark::State& state) { AppendOne(state, true); }
void BM_AppendUnindexedRow(benchmark::State& state) { AppendOne(state, false, false); }
BENCHMARK(BM_AppendIndexedRow)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AppendUnindexedRow)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_AppendIndexedRowDurable)->Unit(benchmark::kMicrosecond)->Iterations(200);

// The accept's two statements on the 1,000,000-row m1042: the new row
// marked '112233', then the update that clears the mark and sets a flag
// (DATA_VIZC changes its key in the VIZC tag).
void Accept(benchmark::State& state, bool durable, bool indexed) {
  const std::string folder = indexed ? Visits().string() : VisitsWithoutIndex().string();
  SetDurableWrites(durable);
  // Rows the append benchmarks left marked would all match the update.
  RunStatement(folder, "update m1042 set data_vizc='0' where data_vizc='112233'", false);
  std::mt19937 rng(3);
  for (auto _ : state) {
    RunStatement(folder, MarkedVisitInsert(rng), false);
    auto out = RunStatement(folder, "update m1042 set data_vizc='0',tosh=1 where data_vizc='112233'", false);
    if (out.rowsAffected != 1) state.SkipWithError("the marked row was not updated once");
  }
  SetDurableWrites(true);
}
void BM_AcceptIndexed(benchmark::State& state) { Accept(state, false, true); }
void BM_AcceptUnindexed(benchmark::State& state) { Accept(state, false, false); }
void BM_AcceptIndexedDurable(benchmark::State& state) { Accept(state, true, true); }
void BM_AcceptUnindexedDurable(benchmark::State& state) { Accept(state, true, false); }
BENCHMARK(BM_AcceptIndexed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AcceptUnindexed)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AcceptIndexedDurable)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_AcceptUnindexedDurable)->Unit(benchmark::kMillisecond)->Iterations(20);

// A registry that builds its text tags in another collation: the visits
// again, with a STREET tag labelled RUSSIAN whose keys weigh each byte of
// the upper-cased street (an invented encoding, two bytes per character).
// Its first write learns the tag from its million keys.
const fs::path& CollatedVisits() {
  auto key = [](std::span<const uint8_t> rec) {
    // STREET_F follows KL, DATA_VIZC, KTO in the visits table.
    static const CdxLayout layout = ReadDbfImage(fs::path(RAVELTO_TEST_DATA) / "registry-cdx" / "m1042.dbf").layout;
    const CdxField& f = *layout.Find("STREET_F");
    std::string out;
    for (std::size_t i = 0; i < f.length; ++i) {
      out += UpperCp1251(static_cast<char>(rec[f.offset + i]));
      out += '\x01';
    }
    return out;
  };
  static const fs::path dir = Generate("m1042", 1000000,
                                       {{"KL", "KL", "", false, false},
                                        {"VIZC", "DATA_VIZC", "", false, false},
                                        {"KW", "KW", "", false, false},
                                        {"DZKL", "DToS( DATA_Z ) + Str( KL, 10 )", "", false, false},
                                        {"STREET", "Upper( STREET_F )", "", false, false, "RUSSIAN", key, 0x20}},
                                       FillVisit, "-collated");
  return dir;
}

// The accept on that table: learned once, then reused while the index's
// change counter is the one this process left; and after another writer's
// change (the counter raised by hand) before every accept, which makes the
// accept verify the pages it touches against their records.
void AcceptCollated(benchmark::State& state, bool other_writer) {
  const std::string folder = CollatedVisits().string();
  SetDurableWrites(false);
  RunStatement(folder, "update m1042 set data_vizc='0' where data_vizc='112233'", false);
  std::mt19937 rng(4);
  for (auto _ : state) {
    if (other_writer) {
      state.PauseTiming();
      std::fstream f(CollatedVisits() / "m1042.cdx", std::ios::binary | std::ios::in | std::ios::out);
      f.seekp(11);
      f.put(static_cast<char>(rng()));
      state.ResumeTiming();
    }
    RunStatement(folder, MarkedVisitInsert(rng), false);
    auto out = RunStatement(folder, "update m1042 set data_vizc='0',tosh=1 where data_vizc='112233'", false);
    if (out.rowsAffected != 1) state.SkipWithError("the marked row was not updated once");
  }
  SetDurableWrites(true);
}
void BM_AcceptCollatedTagLearnedOnce(benchmark::State& state) { AcceptCollated(state, false); }
void BM_AcceptCollatedTagAfterAnotherWriter(benchmark::State& state) { AcceptCollated(state, true); }
BENCHMARK(BM_AcceptCollatedTagLearnedOnce)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_AcceptCollatedTagAfterAnotherWriter)->Unit(benchmark::kMillisecond)->Iterations(5);

// The registry as a clinic running "Collating Sequence=RUSSIAN" has it: the
// visits with RUSSIAN tags on DATA_VIZC and KTO besides MACHINE tags on KL
// and KW, and beside them the patients, whose RUSSIAN UCHKL tag shows the
// digits of the accept's marker (no visit holds them between accepts).
// Keys by an invented two-bytes-per-character encoding (the byte, then 0x01).
std::function<std::string(std::span<const uint8_t>)> InventedKey(const std::string& table, const char* field) {
  static const fs::path src = fs::path(RAVELTO_TEST_DATA) / "registry-cdx";
  const CdxField f = *ReadDbfImage(src / (table + ".dbf")).layout.Find(field);
  return [f](std::span<const uint8_t> rec) {
    std::string out;
    for (std::size_t i = 0; i < f.length; ++i) {
      out += static_cast<char>(rec[f.offset + i]);
      out += '\x01';
    }
    return out;
  };
}

const fs::path& RussianRegistry() {
  static const fs::path dir = [] {
    const fs::path visits = Generate("m1042", 1000000,
                                     {{"KL", "KL", "", false, false},
                                      {"VIZC", "DATA_VIZC", "", false, false, "RUSSIAN",
                                       InventedKey("m1042", "DATA_VIZC")},
                                      {"KW", "KW", "", false, false},
                                      {"KTO", "KTO", "", false, false, "RUSSIAN", InventedKey("m1042", "KTO")}},
                                     FillVisit, "-russian");
    // UCHKL is over a character field here: the district and code as text.
    auto uch = [](std::vector<uint8_t>& rec, const CdxLayout& l, uint32_t r, std::mt19937& rng) {
      FillPatient(rec, l, r, rng);
      Put(rec, l.Find("FIOL"), std::to_string(1 + r % 40) + " " + std::to_string(r * 7));
    };
    const fs::path patients = Generate("m1005", 20000,
                                       {{"KL", "KL", "", false, false},
                                        {"FIO", "FIOL", "", false, false, "RUSSIAN", InventedKey("m1005", "FIOL")}},
                                       uch, "-russian");
    for (const std::string ext : {".dbf", ".fpt", ".cdx"}) fs::copy_file(patients / ("m1005" + ext), visits / ("m1005" + ext));
    return visits;
  }();
  return dir;
}

// The same visits with the same tags, all MACHINE.
const fs::path& MachineRegistry() {
  static const fs::path dir = Generate("m1042", 1000000,
                                       {{"KL", "KL", "", false, false},
                                        {"VIZC", "DATA_VIZC", "", false, false},
                                        {"KW", "KW", "", false, false},
                                        {"KTO", "KTO", "", false, false}},
                                       FillVisit, "-machine");
  return dir;
}

// Another writer's change: the index's change counter raised by hand.
void AnotherWriter(const fs::path& folder, std::mt19937& rng) {
  std::fstream f(folder / "m1042.cdx", std::ios::binary | std::ios::in | std::ios::out);
  f.seekp(11);
  f.put(static_cast<char>(rng()));
}

const std::string kClearMarker = "update m1042 set data_vizc='0',tosh=1 where data_vizc='112233'";

// The accept right after another writer's change, in this process: MACHINE
// tags only, or RUSSIAN tags on DATA_VIZC and KTO (known to the process
// from an earlier accept, as at a desk that has been running).
void AcceptAfterAnotherWriter(benchmark::State& state, bool russian, bool by_patient = false,
                              bool new_process = false) {
  const fs::path dir = russian ? RussianRegistry() : MachineRegistry();
  const std::string folder = dir.string();
  // The desk's knowledge file, kept beside the generated folder.
  const WriteOptions options{dir.string() + "-collations.bin"};
  Made().dirs.push_back(options.collationKnowledge);
  SetDurableWrites(false);
  RunStatement(folder, "update m1042 set data_vizc='0' where data_vizc='112233'", false, options);
  std::mt19937 rng(5);
  RunStatement(folder, MarkedVisitInsert(rng), false, options);  // the desk's earlier accept
  RunStatement(folder, kClearMarker, false, options);
  const uint64_t learned = TagsLearnedInFull();
  for (auto _ : state) {
    state.PauseTiming();
    if (new_process) ForgetCollationKnowledge();
    AnotherWriter(dir, rng);
    const std::string kl = std::to_string(rng() % 200000 * 7);
    const std::string kw = std::to_string(61000 + rng() % 40);
    state.ResumeTiming();
    RunStatement(folder,
                 "insert into m1042 (kl,data_vizc,kto,street_f,kw,stree1_f,kr_f,knacp_f) value (" + kl +
                     ",'112233','ZUVA','\xEB\xE5\xED\xE8\xED\xE0'," + kw + ",1,2,3)",
                 false, options);
    const std::string clear =
        by_patient ? "update m1042 set data_vizc='0',tosh=1 where kl=" + kl + " and data_vizc='112233'" : kClearMarker;
    if (RunStatement(folder, clear, false, options).rowsAffected != 1) {
      state.SkipWithError("the marked row was not updated once");
    }
  }
  state.counters["tags_learned"] = static_cast<double>(TagsLearnedInFull() - learned);
  SetDurableWrites(true);
}
void BM_AcceptAfterAnotherWriterMachineTags(benchmark::State& state) { AcceptAfterAnotherWriter(state, false); }
void BM_AcceptAfterAnotherWriterRussianTags(benchmark::State& state) { AcceptAfterAnotherWriter(state, true); }
BENCHMARK(BM_AcceptAfterAnotherWriterMachineTags)->Unit(benchmark::kMillisecond)->Iterations(50);
BENCHMARK(BM_AcceptAfterAnotherWriterRussianTags)->Unit(benchmark::kMillisecond)->Iterations(50);
// The same with the marker update finding its row by the patient (the KL
// tag, MACHINE in both): the index work alone, without the table read that
// a lookup by DATA_VIZC makes while no seek goes through a RUSSIAN tag.
void BM_AcceptByPatientAfterAnotherWriterMachineTags(benchmark::State& state) {
  AcceptAfterAnotherWriter(state, false, true);
}
void BM_AcceptByPatientAfterAnotherWriterRussianTags(benchmark::State& state) {
  AcceptAfterAnotherWriter(state, true, true);
}
BENCHMARK(BM_AcceptByPatientAfterAnotherWriterMachineTags)->Unit(benchmark::kMillisecond)->Iterations(50);
BENCHMARK(BM_AcceptByPatientAfterAnotherWriterRussianTags)->Unit(benchmark::kMillisecond)->Iterations(50);

// The first accept of a desk process that has met the registry before:
// what this process knew is dropped before every accept and the knowledge
// file read again.
void BM_AcceptFirstOfProcessRussianTags(benchmark::State& state) { AcceptAfterAnotherWriter(state, true, false, true); }
void BM_AcceptByPatientFirstOfProcessRussianTags(benchmark::State& state) {
  AcceptAfterAnotherWriter(state, true, true, true);
}
BENCHMARK(BM_AcceptFirstOfProcessRussianTags)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_AcceptByPatientFirstOfProcessRussianTags)->Unit(benchmark::kMillisecond)->Iterations(20);

// The accept as two registry-sql processes (one statement each) after
// another writer's change; registry-sql keeps what it learned in the user's
// cache folder, so only the first process of the benchmark learns.
void AcceptAsProcesses(benchmark::State& state, bool russian) {
  const fs::path dir = russian ? RussianRegistry() : MachineRegistry();
  const std::string tool = RAVELTO_REGISTRY_SQL;
#ifdef _WIN32
  const std::string quiet = " >NUL";
#else
  const std::string quiet = " >/dev/null";
#endif
#ifndef _WIN32
  // The tool's knowledge files go to a cache folder of the benchmark's own.
  static const fs::path cache = [] {
    fs::path c = fs::temp_directory_path() / ("cdx-bench-" + std::to_string(::getpid()) + "-cache");
    Made().dirs.push_back(c);
    ::setenv("XDG_CACHE_HOME", c.c_str(), 1);
    return c;
  }();
#endif
  auto run = [&](const std::string& sql) {
    return std::system(("\"" + tool + "\" \"" + dir.string() + "\" \"" + sql + "\"" + quiet).c_str()) == 0;
  };
  std::mt19937 rng(8);
  run(MarkedVisitInsert(rng));
  run(kClearMarker);
  for (auto _ : state) {
    state.PauseTiming();
    AnotherWriter(dir, rng);
    state.ResumeTiming();
    if (!run(MarkedVisitInsert(rng)) || !run(kClearMarker)) state.SkipWithError("registry-sql failed");
  }
}
void BM_AcceptAsProcessesMachineTags(benchmark::State& state) { AcceptAsProcesses(state, false); }
void BM_AcceptAsProcessesRussianTags(benchmark::State& state) { AcceptAsProcesses(state, true); }
BENCHMARK(BM_AcceptAsProcessesMachineTags)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK(BM_AcceptAsProcessesRussianTags)->Unit(benchmark::kMillisecond)->Iterations(10);

// A lookup by DATA_VIZC right after another writer's change: the one
// marked visit found through the VIZC tag, MACHINE or RUSSIAN (the latter
// learned by this process's earlier accept, so its entries are confirmed
// against their records). rows_read: table rows the statement read.
void SeekByVizc(benchmark::State& state, bool russian) {
  const fs::path dir = russian ? RussianRegistry() : MachineRegistry();
  const std::string folder = dir.string();
  const WriteOptions options{dir.string() + "-collations.bin"};
  Made().dirs.push_back(options.collationKnowledge);
  SetDurableWrites(false);
  RunStatement(folder, kClearMarker, false, options);
  std::mt19937 rng(11);
  RunStatement(folder, MarkedVisitInsert(rng), false, options);
  const uint64_t before = RowsReadByStatements();
  for (auto _ : state) {
    state.PauseTiming();
    AnotherWriter(dir, rng);
    state.ResumeTiming();
    auto out = RunStatement(folder, "select * from m1042 where data_vizc='112233'", true);
    if (!out.result || out.result->rows.size() != 1) state.SkipWithError("the marked visit was not found once");
  }
  state.counters["rows_read"] =
      static_cast<double>(RowsReadByStatements() - before) / static_cast<double>(state.iterations());
  RunStatement(folder, kClearMarker, false, options);
  SetDurableWrites(true);
}
void BM_SeekByVizcAfterAnotherWriterMachineTags(benchmark::State& state) { SeekByVizc(state, false); }
void BM_SeekByVizcAfterAnotherWriterRussianTags(benchmark::State& state) { SeekByVizc(state, true); }
BENCHMARK(BM_SeekByVizcAfterAnotherWriterMachineTags)->Unit(benchmark::kMillisecond)->Iterations(50);
BENCHMARK(BM_SeekByVizcAfterAnotherWriterRussianTags)->Unit(benchmark::kMillisecond)->Iterations(50);

void FillPatientTwelveDistricts(std::vector<uint8_t>& rec, const CdxLayout& l, uint32_t r, std::mt19937& rng) {
  FillPatient(rec, l, r, rng);
  Put(rec, l.Find("UCH"), std::to_string(1 + r % 12), true);
  // A date-time of 2023 (Julian day, then milliseconds, little-endian).
  const uint32_t when[2] = {2460000 + r % 1000, (r % 86400) * 1000};
  std::memcpy(rec.data() + l.Find("ZAPIS")->offset, when, sizeof when);
}

// 30,000 patients in 12 districts with the registry's nine tags, one of them
// UNIQUE: an update that changes the key of a whole district (2,500 rows).
const fs::path& District() {
  static const fs::path dir = Generate("m1005", 30000,
                                       {{"KL", "KL", "", false, false},
                                        {"FIO", "Upper( FIOL ) + Upper( IM )", "", false, false},
                                        {"UCHKL", "Str( UCH, 3 ) + Str( KL, 10 )", "", false, false},
                                        {"DR", "DToS( DATA_R )", "", false, false},
                                        {"KLDESC", "KL", "", false, true},
                                        {"UCHU", "UCH", "", true, false},
                                        {"AKT", "KL", "AKTIV", false, false},
                                        {"ZAPIS", "ZAPIS", "", false, false},
                                        {"KOD", "KOD", "", false, false}},
                                       FillPatientTwelveDistricts, "-district");
  return dir;
}

void DistrictKeys(benchmark::State& state, bool indexed) {
  static const fs::path plain = WithoutIndex(District(), "m1005");
  const std::string folder = indexed ? District().string() : plain.string();
  SetDurableWrites(false);
  for (auto _ : state) {
    auto out = RunStatement(folder, "update m1005 set kl = kl + 1 where uch = 3", false);
    if (out.rowsAffected != 2500) state.SkipWithError("the district's rows were not all updated");
  }
  SetDurableWrites(true);
}
void BM_DistrictKeyChangeIndexed(benchmark::State& state) { DistrictKeys(state, true); }
void BM_DistrictKeyChangeUnindexed(benchmark::State& state) { DistrictKeys(state, false); }
BENCHMARK(BM_DistrictKeyChangeIndexed)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_DistrictKeyChangeUnindexed)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
