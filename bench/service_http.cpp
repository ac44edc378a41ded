// The HTTP client against libcurl's easy interface on the same local server
// in the same run: (a) 1,000 small GETs on one kept connection, (b) one
// 64 MiB body; then the request list reader on a 10,000-record answer.
// The client and libcurl run side by side in each round; the client/libcurl
// time ratio is printed and kept as a counter.

#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <string>
#include <thread>
#include <vector>

#include "service/http_client.h"
#include "service/protocol.h"
#include "tests/support/loopback.h"

namespace {

constexpr std::size_t kBigBody = 64u << 20;

// A keep-alive server: one thread per connection; "/big" answers 64 MiB,
// anything else a two-byte body.
class LocalServer {
 public:
  LocalServer() : big_(kBigBody, 'b') {
    const auto listener = ravelto::testing::ListenLoopback(16);
    listener_ = listener.fd;
    port_ = listener.port;
    acceptor_ = std::thread([this] { Accept(); });
  }
  ~LocalServer() {
    stop_ = true;
    acceptor_.join();
    for (std::thread& t : workers_) t.join();
    ::close(listener_);
  }
  std::string Url(const char* path) const { return "http://127.0.0.1:" + std::to_string(port_) + path; }

 private:
  void Accept() {
    for (;;) {
      const int fd = ravelto::testing::AcceptUnlessStopped(listener_, stop_);
      if (fd < 0) return;
      int on = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      workers_.emplace_back([this, fd] { Serve(fd); });
    }
  }
  void Serve(int fd) {
    std::string pending;
    char buffer[8192];
    while (!stop_) {
      const std::size_t end = pending.find("\r\n\r\n");
      if (end == std::string::npos) {
        if (!ravelto::testing::WaitReadable(fd, 20)) continue;
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) break;
        pending.append(buffer, static_cast<std::size_t>(got));
        continue;
      }
      const bool big = pending.compare(0, 9, "GET /big ") == 0;
      pending.erase(0, end + 4);
      if (big) {
        const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(big_.size()) + "\r\n\r\n";
        ravelto::testing::SendAll(fd, head);
        ravelto::testing::SendAll(fd, big_);
      } else {
        static const std::string small = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
        ravelto::testing::SendAll(fd, small);
      }
    }
    ::close(fd);
  }

  std::string big_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread acceptor_;
  std::vector<std::thread> workers_;
};

LocalServer& Server() {
  static LocalServer server;
  return server;
}

std::size_t AppendToString(char* data, std::size_t size, std::size_t count, void* out) {
  static_cast<std::string*>(out)->append(data, size * count);
  return size * count;
}

// One round of each side: our client, then libcurl's easy interface, each
// with a fresh connection. Both sides run inside the same iteration so that
// a busy machine slows them alike; the counters give each side's time per
// round and their ratio.
using Clock = std::chrono::steady_clock;

double Seconds(Clock::duration d) { return std::chrono::duration<double>(d).count(); }

// CPU time of the calling thread: the client side's own cost, which a busy
// machine disturbs less than the wall clock.
double ThreadCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

void RunPaired(benchmark::State& state, const std::string& url, int requests, std::size_t bodySize) {
  double ours = 0, theirs = 0, oursCpu = 0, theirsCpu = 0;
  for (auto _ : state) {
    auto start = Clock::now();
    double cpu = ThreadCpuSeconds();
    {
      ravelto::service::Client client;
      for (int i = 0; i < requests; ++i) {
        if (client.Get(url).size() != bodySize) state.SkipWithError("client: short body");
      }
    }
    ours += Seconds(Clock::now() - start);
    oursCpu += ThreadCpuSeconds() - cpu;

    start = Clock::now();
    cpu = ThreadCpuSeconds();
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendToString);
    for (int i = 0; i < requests; ++i) {
      std::string body;
      curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
      if (curl_easy_perform(curl) != CURLE_OK || body.size() != bodySize) state.SkipWithError("curl failed");
    }
    curl_easy_cleanup(curl);
    theirs += Seconds(Clock::now() - start);
    theirsCpu += ThreadCpuSeconds() - cpu;
  }
  const double rounds = static_cast<double>(state.iterations());
  state.counters["client_ms"] = 1000 * ours / rounds;
  state.counters["curl_ms"] = 1000 * theirs / rounds;
  state.counters["ratio"] = theirs > 0 ? ours / theirs : 0;
  state.counters["cpu_ratio"] = theirsCpu > 0 ? oursCpu / theirsCpu : 0;
  std::printf(
      "ratio client/libcurl, %s: %.2f wall (client %.1f ms, libcurl %.1f ms per round), "
      "%.2f client-thread CPU (%.1f ms, %.1f ms)\n",
      requests > 1 ? "1,000 keep-alive GETs" : "64 MiB body", ours / theirs, 1000 * ours / rounds,
      1000 * theirs / rounds, oursCpu / theirsCpu, 1000 * oursCpu / rounds, 1000 * theirsCpu / rounds);
}

void BM_KeepAliveGets_ClientVsCurl(benchmark::State& state) { RunPaired(state, Server().Url("/small"), 1000, 2); }

void BM_Body64MiB_ClientVsCurl(benchmark::State& state) { RunPaired(state, Server().Url("/big"), 1, kBigBody); }

void BM_ReadListAnswer10000(benchmark::State& state) {
  std::string body;
  for (int i = 0; i < 10000; ++i) body += std::to_string(100000 + i) + (i % 3 == 0 ? ",0#" : ",1#");
  for (auto _ : state) benchmark::DoNotOptimize(ravelto::service::ReadListAnswer(body));
  state.SetItemsProcessed(state.iterations() * 10000);
}

BENCHMARK(BM_KeepAliveGets_ClientVsCurl)->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_Body64MiB_ClientVsCurl)->Unit(benchmark::kMillisecond)->Iterations(8);
BENCHMARK(BM_ReadListAnswer10000)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  curl_global_cleanup();
  return 0;
}
