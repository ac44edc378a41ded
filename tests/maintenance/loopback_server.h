#pragma once
// A scripted HTTP server on 127.0.0.1 for tests: answers each request with
// what the test's handler returns for its request line, one answer per
// connection ("Connection: close"), and records every request line.
// Used as the desk's proxy, so it sees absolute URIs
// ("GET http://host:port/path?query HTTP/1.1").

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/loopback.h"

namespace ravelto::maintenance::testing {

struct ScriptedAnswer {
  std::string statusLine = "HTTP/1.1 200 OK";
  std::string body;
  // Content-Length sent; -1: the body's size. A larger value announces a
  // body that never comes (the connection closes after `body`).
  long long declaredLength = -1;
};

class LoopbackServer {
 public:
  using Handler = std::function<ScriptedAnswer(const std::string& requestLine)>;

  explicit LoopbackServer(Handler handler) : handler_(std::move(handler)) {
    const auto listener = ravelto::testing::ListenLoopback(16);
    listener_ = listener.fd;
    port_ = listener.port;
    thread_ = std::thread([this] { Serve(); });
  }

  ~LoopbackServer() {
    stop_ = true;
    thread_.join();
    ravelto::testing::CloseSocket(listener_);
  }

  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  int port() const { return port_; }

  std::vector<std::string> requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  void Serve() {
    for (;;) {
      const ravelto::testing::SocketHandle connection = ravelto::testing::AcceptUnlessStopped(listener_, stop_);
      if (connection == ravelto::testing::kNoSocket) return;
      Answer(connection);
      ravelto::testing::CloseSocket(connection);
    }
  }

  void Answer(ravelto::testing::SocketHandle connection) {
    std::string head;
    if (!ravelto::testing::ReadRequestHead(connection, head, 2000)) return;
    const std::string requestLine = head.substr(0, head.find("\r\n"));
    {
      std::lock_guard<std::mutex> lock(mutex_);
      requests_.push_back(requestLine);
    }
    const ScriptedAnswer answer = handler_(requestLine);
    const long long length =
        answer.declaredLength >= 0 ? answer.declaredLength : static_cast<long long>(answer.body.size());
    std::string bytes = answer.statusLine + "\r\nContent-Length: " + std::to_string(length) +
                        "\r\nConnection: close\r\n\r\n" + answer.body;
    ravelto::testing::SendAll(connection, bytes);
  }

  Handler handler_;
  ravelto::testing::SocketHandle listener_ = ravelto::testing::kNoSocket;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
};

// A loopback port with nothing listening on it.
inline int ClosedPort() { return ravelto::testing::UnusedLoopbackPort(); }

}  // namespace ravelto::maintenance::testing
