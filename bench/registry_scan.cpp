// Scans of realistic registry tables, generated into /tmp at start:
//   - the accept step's UPDATE (data_vizc='112233') over a 1,000,000-row
//     visits table, against reading the same file from the page cache, and
//     against python3-dbf doing the same scan (run on 20,000 rows, scaled);
//   - "select * from m1005 where kl=N" over 200,000 patients;
//   - "select top 1 * from m1042 order by kl" (one pass, constant memory).

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/registry_tables.h"
#include "registry/gateway.h"
#include "registry/table/file_io.h"

namespace {

using namespace ravelto::registry;

const std::string kFolder = "/tmp/ravelto-bench-registry";
constexpr std::uint32_t kVisits = 1000000;
constexpr std::uint32_t kPatients = 200000;
constexpr std::uint32_t kPythonVisits = 20000;

void Prepare() {
  static bool ready = [] {
    std::system(("mkdir -p " + kFolder).c_str());
    registry_bench::EnsureVisitsTable(kFolder, "m1042", kVisits);
    registry_bench::EnsureVisitsTable(kFolder, "m1042s", kPythonVisits);
    registry_bench::EnsurePatientsTable(kFolder, "m1005", kPatients);
    SetDurableWrites(false);
    return true;
  }();
  (void)ready;
}

struct Desk {
  Desk() : query(connection) {
    connection.SetConnectionString("Provider=VFPOLEDB;Data Source=" + kFolder + ";Mode=ReadWrite");
    connection.SetConnected(true);
  }
  int Execute(const std::string& sql) {
    query.Clear();
    query.Add(sql);
    return query.Execute();
  }
  void Open(const std::string& sql) {
    Execute(sql);
    query.Open();
  }
  Connection connection;
  Query query;
};

long MaxRssKb() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return u.ru_maxrss;
}

double ReadFileSeconds(const std::string& path) {
  const auto start = std::chrono::steady_clock::now();
  const int fd = ::open(path.c_str(), O_RDONLY);
  std::vector<char> buf(1 << 20);
  std::uint64_t total = 0;
  for (ssize_t n; (n = ::read(fd, buf.data(), buf.size())) > 0;) total += static_cast<std::uint64_t>(n);
  ::close(fd);
  benchmark::DoNotOptimize(total);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The time of the UPDATE's scan, with the file read once before so that both
// work from the page cache.
void BM_UpdateScanVersusFileRead(benchmark::State& state) {
  Prepare();
  Desk desk;
  const std::string path = kFolder + "/m1042.dbf";
  ReadFileSeconds(path);
  double scan = 0, read = 0;
  int rounds = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    desk.Execute("UPDATE m1042 SET data_vizc='0' WHERE data_vizc='112233'");
    scan += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    read += ReadFileSeconds(path);
    ++rounds;
  }
  state.counters["scan_ms"] = scan / rounds * 1000;
  state.counters["file_read_ms"] = read / rounds * 1000;
  state.counters["scan_to_read"] = scan / read;
}
BENCHMARK(BM_UpdateScanVersusFileRead)->Unit(benchmark::kMillisecond)->Iterations(5);

// python3-dbf scanning the same column of a 20,000-row copy, scaled to
// 1,000,000 rows, beside the engine's scan of the full table.
void BM_UpdateScanVersusPythonDbf(benchmark::State& state) {
  Prepare();
  Desk desk;
  double engine = 0;
  int rounds = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    desk.Execute("UPDATE m1042 SET data_vizc='0' WHERE data_vizc='112233'");
    engine += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    ++rounds;
  }
  const std::string script =
      "import dbf, time\n"
      "t = dbf.Table('" + kFolder + "/m1042s.dbf'); t.open()\n"
      "s = time.perf_counter()\n"
      "n = sum(1 for r in t if r.data_vizc.rstrip() == '112233')\n"
      "print(time.perf_counter() - s)\n";
  std::FILE* p = ::popen(("/usr/bin/python3 -c \"" + script + "\"").c_str(), "r");
  double python = 0;
  if (p && std::fscanf(p, "%lf", &python) != 1) python = 0;
  if (p) ::pclose(p);
  const double pythonScaled = python * (static_cast<double>(kVisits) / kPythonVisits);
  state.counters["engine_ms"] = engine / rounds * 1000;
  state.counters["python_dbf_ms_scaled"] = pythonScaled * 1000;
  state.counters["python_to_engine"] = engine > 0 ? pythonScaled / (engine / rounds) : 0;
}
BENCHMARK(BM_UpdateScanVersusPythonDbf)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_SelectPatientByCode(benchmark::State& state) {
  Prepare();
  Desk desk;
  int n = 0;
  for (auto _ : state) {
    desk.Open("select * from m1005 where kl=" + std::to_string(7 * (1 + (n++ * 7919) % kPatients)));
    benchmark::DoNotOptimize(desk.query.RecordCount());
  }
}
BENCHMARK(BM_SelectPatientByCode)->Unit(benchmark::kMillisecond);

void BM_TopOneOrderedByCode(benchmark::State& state) {
  Prepare();
  Desk desk;
  const long before = MaxRssKb();
  for (auto _ : state) {
    desk.Open("select top 1 * from m1042 order by kl");
    benchmark::DoNotOptimize(desk.query.RecordCount());
  }
  state.counters["rows"] = desk.query.RecordCount();
  state.counters["first_kl"] = std::atof(desk.query.AsText("kl").c_str());
  state.counters["max_rss_growth_kb"] = static_cast<double>(MaxRssKb() - before);
}
BENCHMARK(BM_TopOneOrderedByCode)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
