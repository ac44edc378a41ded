// The HTTP client against libcurl's easy interface on the same local server
// in the same run: (a) 1,000 small GETs on one kept connection, (b) one
// 64 MiB body; then the request list reader on a 10,000-record answer.
// After the run the client/libcurl time ratios are printed.

#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "service/http_client.h"
#include "service/protocol.h"

namespace {

constexpr std::size_t kBigBody = 64u << 20;

// A keep-alive server: one thread per connection; "/big" answers 64 MiB,
// anything else a two-byte body.
class LocalServer {
 public:
  LocalServer() : big_(kBigBody, 'b') {
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int on = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 16) != 0) {
      throw std::runtime_error("listen");
    }
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
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
    while (!stop_) {
      pollfd p{listener_, POLLIN, 0};
      if (::poll(&p, 1, 20) <= 0) continue;
      const int fd = ::accept(listener_, nullptr, nullptr);
      if (fd < 0) continue;
      int on = 1;
      ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
      workers_.emplace_back([this, fd] { Serve(fd); });
    }
  }
  void SendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
      const ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
      if (sent <= 0) return;
      data += sent;
      size -= static_cast<std::size_t>(sent);
    }
  }
  void Serve(int fd) {
    std::string pending;
    char buffer[8192];
    while (!stop_) {
      const std::size_t end = pending.find("\r\n\r\n");
      if (end == std::string::npos) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 20) <= 0) continue;
        const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
        if (got <= 0) break;
        pending.append(buffer, static_cast<std::size_t>(got));
        continue;
      }
      const bool big = pending.compare(0, 9, "GET /big ") == 0;
      pending.erase(0, end + 4);
      if (big) {
        const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(big_.size()) + "\r\n\r\n";
        SendAll(fd, head.data(), head.size());
        SendAll(fd, big_.data(), big_.size());
      } else {
        static const std::string small = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
        SendAll(fd, small.data(), small.size());
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

void BM_KeepAliveGets_Client(benchmark::State& state) {
  const std::string url = Server().Url("/small");
  for (auto _ : state) {
    ravelto::service::Client client;
    for (int i = 0; i < 1000; ++i) benchmark::DoNotOptimize(client.Get(url));
  }
}

void BM_KeepAliveGets_Curl(benchmark::State& state) {
  const std::string url = Server().Url("/small");
  for (auto _ : state) {
    CURL* curl = curl_easy_init();
    curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
    curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendToString);
    for (int i = 0; i < 1000; ++i) {
      std::string body;
      curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
      if (curl_easy_perform(curl) != CURLE_OK) state.SkipWithError("curl failed");
      benchmark::DoNotOptimize(body);
    }
    curl_easy_cleanup(curl);
  }
}

void BM_Body64MiB_Client(benchmark::State& state) {
  const std::string url = Server().Url("/big");
  ravelto::service::Client client;
  for (auto _ : state) {
    const std::string body = client.Get(url);
    if (body.size() != kBigBody) state.SkipWithError("short body");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBigBody));
}

void BM_Body64MiB_Curl(benchmark::State& state) {
  const std::string url = Server().Url("/big");
  CURL* curl = curl_easy_init();
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, AppendToString);
  for (auto _ : state) {
    std::string body;
    curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
    if (curl_easy_perform(curl) != CURLE_OK || body.size() != kBigBody) state.SkipWithError("curl failed");
  }
  curl_easy_cleanup(curl);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kBigBody));
}

void BM_ReadListAnswer10000(benchmark::State& state) {
  std::string body;
  for (int i = 0; i < 10000; ++i) body += std::to_string(100000 + i) + (i % 3 == 0 ? ",0#" : ",1#");
  for (auto _ : state) benchmark::DoNotOptimize(ravelto::service::ReadListAnswer(body));
  state.SetItemsProcessed(state.iterations() * 10000);
}

BENCHMARK(BM_KeepAliveGets_Client)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_KeepAliveGets_Curl)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Body64MiB_Client)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_Body64MiB_Curl)->Unit(benchmark::kMillisecond)->MinTime(2.0);
BENCHMARK(BM_ReadListAnswer10000)->Unit(benchmark::kMicrosecond);

// Keeps each benchmark's real time per iteration for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    for (const Run& run : runs) {
      if (run.run_type == Run::RT_Iteration && run.iterations > 0) {
        times_[run.benchmark_name()] = run.GetAdjustedRealTime();
      }
    }
    ConsoleReporter::ReportRuns(runs);
  }
  void PrintRatio(const char* what, const std::string& ours, const std::string& curl) const {
    const auto a = times_.find(ours), b = times_.find(curl);
    if (a == times_.end() || b == times_.end() || b->second <= 0) return;
    std::printf("ratio client/libcurl, %s: %.2f\n", what, a->second / b->second);
  }

 private:
  std::map<std::string, double> times_;
};

}  // namespace

int main(int argc, char** argv) {
  curl_global_init(CURL_GLOBAL_DEFAULT);
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  reporter.PrintRatio("1,000 keep-alive GETs", "BM_KeepAliveGets_Client/min_time:2.000",
                      "BM_KeepAliveGets_Curl/min_time:2.000");
  reporter.PrintRatio("64 MiB body", "BM_Body64MiB_Client/min_time:2.000", "BM_Body64MiB_Curl/min_time:2.000");
  benchmark::Shutdown();
  curl_global_cleanup();
  return 0;
}
