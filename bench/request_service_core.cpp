// Cost of the request service's answers without sockets: the list answer of a
// clinic with many requests, one item answer, and the state file round trip
// that every decision pays before it answers "ok".
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>

#include "tools/request-service/service.h"
#include "tools/request-service/state.h"

namespace {

using namespace ravelto::reqsvc;

State ManyRequests(int n) {
  State s;
  s.clinics = {{"1001", "demo", "A"}, {"1002", "x", "B"}};
  for (int i = 1; i <= n; ++i) {
    Request r;
    r.id = i;
    r.clinic = i % 2 ? "1001" : "1002";
    r.status = std::to_string(i % 3);
    r.patient = std::to_string(10000 + i);
    r.filed = r.edited = "07.12.2026 08:00:00";
    r.phone = "+7 900 000-00-00";
    r.text = std::string(120, '\xE0');
    r.marked = "\xCA\xE0\xF8\xE5\xEB\xFC";
    r.fragment = ",kash=1";
    s.requests.push_back(r);
  }
  s.next_id = n + 1;
  return s;
}

void BM_ListAnswer(benchmark::State& st) {
  RequestService svc(ManyRequests(static_cast<int>(st.range(0))), {});
  for (auto _ : st) benchmark::DoNotOptimize(svc.Get("/medic/home/list.php?id=1001&pass=demo&ver=21"));
}
BENCHMARK(BM_ListAnswer)->Arg(100)->Arg(2000);

void BM_ItemAnswer(benchmark::State& st) {
  RequestService svc(ManyRequests(2000), {});
  for (auto _ : st) benchmark::DoNotOptimize(svc.Get("/medic/home/item.php?id=1001&pass=demo&item=1001"));
}
BENCHMARK(BM_ItemAnswer);

void BM_StateTextRoundTrip(benchmark::State& st) {
  const State s = ManyRequests(static_cast<int>(st.range(0)));
  for (auto _ : st) benchmark::DoNotOptimize(ParseState(SerializeState(s), "bench"));
}
BENCHMARK(BM_StateTextRoundTrip)->Arg(100)->Arg(2000);

// A decision: state text written to a temporary file, flushed and renamed.
void BM_DecisionWithDurableSave(benchmark::State& st) {
  const auto dir = std::filesystem::temp_directory_path() / "reqsvc-bench";
  std::filesystem::create_directories(dir);
  ServiceConfig c;
  c.state_path = (dir / "state.txt").string();
  RequestService svc(ManyRequests(static_cast<int>(st.range(0))), c);
  for (auto _ : st) benchmark::DoNotOptimize(svc.Get("/medic/home/save.php?obj=1001&pass=demo&id=1&error=x"));
  std::filesystem::remove_all(dir);
}
BENCHMARK(BM_DecisionWithDurableSave)->Arg(100)->Arg(2000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
