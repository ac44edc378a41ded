#include "tests/service/scripted_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace ravelto::service::testing {

namespace {

int ListenLoopback(int* port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) throw std::runtime_error("socket");
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(fd, 16) != 0) {
    ::close(fd);
    throw std::runtime_error("bind/listen");
  }
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  *port = ntohs(address.sin_port);
  return fd;
}

// Waits up to 20 ms for fd to become readable.
bool Readable(int fd) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, 20) > 0;
}

}  // namespace

std::string Peer::ReadHead() {
  for (;;) {
    const std::size_t end = pending_.find("\r\n\r\n");
    if (end != std::string::npos) {
      std::string head = pending_.substr(0, end + 4);
      pending_.erase(0, end + 4);
      server_.Record(head);
      return head;
    }
    if (server_.Stopping()) return {};
    if (!Readable(fd_)) continue;
    char buffer[4096];
    const ssize_t got = ::recv(fd_, buffer, sizeof buffer, 0);
    if (got <= 0) return {};
    pending_.append(buffer, static_cast<std::size_t>(got));
  }
}

void Peer::Send(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent <= 0) return;
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
}

void Peer::Close() { ::shutdown(fd_, SHUT_RDWR); }

void Peer::Hold() {
  while (!server_.Stopping()) {
    if (!Readable(fd_)) continue;
    char buffer[4096];
    if (::recv(fd_, buffer, sizeof buffer, 0) <= 0) return;
  }
}

void Peer::Pause(std::chrono::milliseconds d) {
  const auto until = std::chrono::steady_clock::now() + d;
  while (!server_.Stopping() && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

ScriptedServer::ScriptedServer(Script script) : script_(std::move(script)) {
  listener_ = ListenLoopback(&port_);
  thread_ = std::thread([this] { Run(); });
}

ScriptedServer::~ScriptedServer() {
  stop_ = true;
  thread_.join();
  ::close(listener_);
}

std::string ScriptedServer::Url(std::string_view path) const {
  return "http://127.0.0.1:" + std::to_string(port_) + std::string(path);
}

std::vector<std::string> ScriptedServer::Requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

void ScriptedServer::Record(std::string head) {
  std::lock_guard<std::mutex> lock(mutex_);
  requests_.push_back(std::move(head));
}

void ScriptedServer::Run() {
  while (!stop_) {
    if (!Readable(listener_)) continue;
    const int fd = ::accept(listener_, nullptr, nullptr);
    if (fd < 0) continue;
    Peer peer(*this, fd, connections_++);
    script_(peer);
    ::close(fd);
  }
}

int UnusedPort() {
  int port = 0;
  const int fd = ListenLoopback(&port);
  ::close(fd);
  return port;
}

std::string Answer(std::string_view statusLine, std::string_view headers, std::string_view body) {
  std::string out(statusLine);
  out += "\r\n";
  out += headers;
  out += "\r\n";
  out += body;
  return out;
}

}  // namespace ravelto::service::testing
