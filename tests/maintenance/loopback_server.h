#pragma once
// A scripted HTTP server on 127.0.0.1 for tests: answers each request with
// what the test's handler returns for its request line, one answer per
// connection ("Connection: close"), and records every request line.
// Used as the desk's proxy, so it sees absolute URIs
// ("GET http://host:port/path?query HTTP/1.1").

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

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
    listener_ = ::socket(AF_INET, SOCK_STREAM, 0);
    int yes = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener_, 16);
    socklen_t length = sizeof address;
    ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
  }

  ~LoopbackServer() {
    stop_ = true;
    thread_.join();
    ::close(listener_);
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
    while (!stop_) {
      pollfd waiting{listener_, POLLIN, 0};
      if (::poll(&waiting, 1, 20) <= 0) continue;
      const int connection = ::accept(listener_, nullptr, nullptr);
      if (connection < 0) continue;
      Answer(connection);
      ::close(connection);
    }
  }

  void Answer(int connection) {
    std::string head;
    char chunk[4096];
    while (head.find("\r\n\r\n") == std::string::npos) {
      pollfd waiting{connection, POLLIN, 0};
      if (::poll(&waiting, 1, 2000) <= 0) return;
      const ssize_t got = ::recv(connection, chunk, sizeof chunk, 0);
      if (got <= 0) return;
      head.append(chunk, static_cast<size_t>(got));
    }
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
    size_t sent = 0;
    while (sent < bytes.size()) {
      const ssize_t put = ::send(connection, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (put <= 0) return;
      sent += static_cast<size_t>(put);
    }
  }

  Handler handler_;
  int listener_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
  mutable std::mutex mutex_;
  std::vector<std::string> requests_;
};

// A loopback port with nothing listening on it.
inline int ClosedPort() {
  const int probe = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(probe);
  return ntohs(address.sin_port);
}

}  // namespace ravelto::maintenance::testing
