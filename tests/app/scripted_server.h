#pragma once
// ScriptedServer: a loopback HTTP server on 127.0.0.1 for the widget tests.
// Every connection gets the same canned answer bytes and is then closed; the
// request heads received are kept for the test to inspect. RefusedPort()
// gives a port on which nothing listens.

#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/loopback.h"

namespace ravelto::app::testing {

class ScriptedServer {
 public:
  explicit ScriptedServer(std::string answer) : answer_(std::move(answer)) {
    const auto listener = ravelto::testing::ListenLoopback(8);
    listener_ = listener.fd;
    port_ = listener.port;
    thread_ = std::thread([this] { Serve(); });
  }
  ~ScriptedServer() {
    stop_ = true;
    ::shutdown(listener_, SHUT_RDWR);
    ::close(listener_);
    thread_.join();
  }
  ScriptedServer(const ScriptedServer&) = delete;
  ScriptedServer& operator=(const ScriptedServer&) = delete;

  int Port() const { return port_; }
  std::vector<std::string> Requests() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

  static int RefusedPort() { return ravelto::testing::UnusedLoopbackPort(); }

 private:
  void Serve() {
    while (!stop_) {
      const int c = ::accept(listener_, nullptr, nullptr);
      if (c < 0) return;
      std::string head;
      ravelto::testing::ReadRequestHead(c, head);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(head);
      }
      ravelto::testing::SendAll(c, answer_);
      ::shutdown(c, SHUT_WR);
      ::close(c);
    }
  }

  std::string answer_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
  std::thread thread_;
};

// A whole HTTP answer with the body and a Content-Length.
inline std::string OkAnswer(const std::string& body) {
  return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
         "\r\nConnection: close\r\n\r\n" + body;
}

}  // namespace ravelto::app::testing
