// Load driver for the request service: N desks polling the request list once
// a second over loopback, the way the desk does (a new connection per poll,
// raw Windows-1251 query, the desk's header lines), every fifth poll also
// fetching one request. Starts the service itself (--server) on a free port
// in a temporary folder, or uses a running one (--port).
//
//   request_service_load --server PATH --seed FILE [--clients 200] [--seconds 60]
//   request_service_load --port P [--clients 200] [--seconds 60]
//   --burst 1: all desks poll at the same instant of each second (default:
//   each desk at its own random offset, as real desks drift apart).
//
// Prints requests/s, errors, latency and the service's resident memory after
// the warm-up and at the end. Exits 1 when any request failed or the resident
// memory grew by more than --max-growth-kb (default 4096) after the warm-up.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define RAVELTO_HAS_ASAN 1
#endif
#endif
#ifndef RAVELTO_HAS_ASAN
#define RAVELTO_HAS_ASAN 0
#endif

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
  std::string server;
  std::string seed;
  int port = 0;
  int clients = 200;
  int seconds = 60;
  // Under AddressSanitizer freed memory sits in a quarantine and the resident
  // size grows by design, so only a gross growth counts there.
#if defined(__SANITIZE_ADDRESS__) || RAVELTO_HAS_ASAN
  long max_growth_kb = 262144;
#else
  long max_growth_kb = 4096;
#endif
  bool burst = false;  // every desk polls at the same instant of each second
};

// Windows-1251 bytes of the second test clinic's password "детская".
const std::string kPass1002 = "\xE4\xE5\xF2\xF1\xEA\xE0\xFF";

// One GET with the desk's head; returns the HTTP status (0 on a transport
// failure) and the body.
int Get(int port, const std::string& target, std::string& body) {
  body.clear();
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(static_cast<uint16_t>(port));
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    ::close(fd);
    return 0;
  }
  const std::string head = "GET " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                           "\r\nAccept: text/html, */*\r\nUser-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n\r\n";
  if (::send(fd, head.data(), head.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(head.size())) {
    ::close(fd);
    return 0;
  }
  std::string all;
  for (;;) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 10000) <= 0) {
      ::close(fd);
      return 0;
    }
    char buf[8192];
    const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
    if (n < 0) {
      ::close(fd);
      return 0;
    }
    if (n == 0) break;
    all.append(buf, static_cast<std::size_t>(n));
  }
  ::close(fd);
  const auto end = all.find("\r\n\r\n");
  if (all.rfind("HTTP/1.1 ", 0) != 0 || end == std::string::npos) return 0;
  body = all.substr(end + 4);
  return std::atoi(all.c_str() + 9);
}

long RssKb(int pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
  }
  return -1;
}

int StartServer(const Options& o, std::string& dir, int& port) {
  char templ[] = "/tmp/reqsvc-load-XXXXXX";
  if (::mkdtemp(templ) == nullptr) return -1;
  dir = templ;
  int out[2];
  if (::pipe(out) != 0) return -1;
  const int pid = ::fork();
  if (pid == 0) {
    ::dup2(out[1], 1);
    ::close(out[0]);
    ::close(out[1]);
    const std::string state = dir + "/state.txt";
    ::execl(o.server.c_str(), o.server.c_str(), "--port", "0", "--state", state.c_str(), "--seed", o.seed.c_str(),
            "--threads", "16", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(out[1]);
  std::string line;
  char c;
  while (::read(out[0], &c, 1) == 1 && c != '\n') line += c;
  ::close(out[0]);
  const auto colon = line.rfind(':');
  if (line.rfind("listening on", 0) != 0 || colon == std::string::npos) {
    ::kill(pid, SIGKILL);
    ::waitpid(pid, nullptr, 0);
    return -1;
  }
  port = std::atoi(line.c_str() + colon + 1);
  return pid;
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string k = argv[i];
    const std::string v = argv[i + 1];
    if (k == "--server") o.server = v;
    else if (k == "--seed") o.seed = v;
    else if (k == "--port") o.port = std::atoi(v.c_str());
    else if (k == "--clients") o.clients = std::max(1, std::atoi(v.c_str()));
    else if (k == "--seconds") o.seconds = std::max(2, std::atoi(v.c_str()));
    else if (k == "--max-growth-kb") o.max_growth_kb = std::atol(v.c_str());
    else if (k == "--burst") o.burst = v == "1";
    else {
      std::cerr << "unknown option " << k << "\n";
      return 2;
    }
  }
  ::signal(SIGPIPE, SIG_IGN);
  int pid = -1;
  std::string dir;
  int port = o.port;
  if (!o.server.empty()) {
    pid = StartServer(o, dir, port);
    if (pid < 0) {
      std::cerr << "could not start " << o.server << "\n";
      return 1;
    }
  }
  if (port <= 0) {
    std::cerr << "need --server or --port\n";
    return 2;
  }

  const auto start = Clock::now() + std::chrono::milliseconds(200);
  const auto stop = start + std::chrono::seconds(o.seconds);
  const int warmup_s = std::max(1, o.seconds / 5);
  std::atomic<long> requests{0};
  std::atomic<long> errors{0};
  std::mutex mu;
  std::vector<double> latencies_ms;
  std::string first_error;

  std::vector<std::thread> clients;
  std::mt19937 rng(42);
  for (int i = 0; i < o.clients; ++i) {
    const int offset_ms = o.burst ? 0 : std::uniform_int_distribution<int>(0, 999)(rng);
    clients.emplace_back([&, i, offset_ms] {
      const bool second = i % 2 == 1;
      const std::string auth = second ? "id=1002&pass=" + kPass1002 : "id=1001&pass=demo";
      const std::string list = "/medic/home/list.php?" + auth + "&ver=21";
      const std::string item = "/medic/home/item.php?" + auth + (second ? "&item=13" : "&item=11");
      std::vector<double> mine;
      std::string body;
      auto next = start + std::chrono::milliseconds(offset_ms);
      for (long n = 0; next < stop; ++n, next += std::chrono::seconds(1)) {
        std::this_thread::sleep_until(next);
        const bool with_item = n % 5 == 4;
        for (int k = 0; k < (with_item ? 2 : 1); ++k) {
          const auto t0 = Clock::now();
          const int status = Get(port, k == 0 ? list : item, body);
          mine.push_back(std::chrono::duration<double, std::milli>(Clock::now() - t0).count());
          ++requests;
          const bool ok = status == 200 && (k == 0 ? !body.empty() && body.back() == '#' : body.find('|') != std::string::npos);
          if (!ok) {
            ++errors;
            std::lock_guard lock(mu);
            if (first_error.empty()) first_error = "status " + std::to_string(status) + " body \"" + body + "\"";
          }
        }
      }
      std::lock_guard lock(mu);
      latencies_ms.insert(latencies_ms.end(), mine.begin(), mine.end());
    });
  }

  long rss_warm = -1;
  long rss_end = -1;
  if (pid > 0) {
    std::this_thread::sleep_until(start + std::chrono::seconds(warmup_s));
    rss_warm = RssKb(pid);
  }
  const long requests_warm = requests.load();
  for (auto& t : clients) t.join();
  if (pid > 0) rss_end = RssKb(pid);
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();

  std::sort(latencies_ms.begin(), latencies_ms.end());
  const auto pct = [&](double p) {
    return latencies_ms.empty() ? 0.0 : latencies_ms[std::min(latencies_ms.size() - 1, static_cast<std::size_t>(p * latencies_ms.size()))];
  };
  std::printf("clients %d, %d s: %ld requests, %.1f requests/s, %ld errors\n", o.clients, o.seconds,
              requests.load(), requests.load() / elapsed, errors.load());
  std::printf("latency ms: p50 %.2f, p99 %.2f, max %.2f\n", pct(0.5), pct(0.99), latencies_ms.empty() ? 0.0 : latencies_ms.back());
  if (pid > 0) {
    std::printf("service RSS: %ld kB after %d s warm-up (%ld requests), %ld kB at the end\n", rss_warm, warmup_s,
                requests_warm, rss_end);
  }
  if (!first_error.empty()) std::printf("first error: %s\n", first_error.c_str());

  bool alive = true;
  if (pid > 0) {
    alive = ::kill(pid, 0) == 0;
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
    std::string rm = dir + "/state.txt";
    ::unlink(rm.c_str());
    ::rmdir(dir.c_str());
  }
  const bool grew = rss_warm > 0 && rss_end - rss_warm > o.max_growth_kb;
  if (grew) std::printf("FAIL: resident memory grew by %ld kB\n", rss_end - rss_warm);
  if (!alive) std::printf("FAIL: the service died\n");
  return errors.load() == 0 && !grew && alive ? 0 : 1;
}
