#include "tests/service/scripted_server.h"

namespace ravelto::service::testing {

namespace {

using ravelto::testing::SocketHandle;

// Waits up to 20 ms for fd to become readable.
bool Readable(SocketHandle fd) { return ravelto::testing::WaitReadable(fd, 20); }

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
    const long got = ravelto::testing::Receive(fd_, buffer, sizeof buffer);
    if (got <= 0) return {};
    pending_.append(buffer, static_cast<std::size_t>(got));
  }
}

void Peer::Send(std::string_view bytes) { ravelto::testing::SendAll(fd_, bytes); }

void Peer::Close() { ravelto::testing::ShutdownBoth(fd_); }

void Peer::Hold() {
  while (!server_.Stopping()) {
    if (!Readable(fd_)) continue;
    char buffer[4096];
    if (ravelto::testing::Receive(fd_, buffer, sizeof buffer) <= 0) return;
  }
}

void Peer::Pause(std::chrono::milliseconds d) {
  const auto until = std::chrono::steady_clock::now() + d;
  while (!server_.Stopping() && std::chrono::steady_clock::now() < until) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

ScriptedServer::ScriptedServer(Script script) : script_(std::move(script)) {
  const auto listener = ravelto::testing::ListenLoopback(16);
  listener_ = listener.fd;
  port_ = listener.port;
  thread_ = std::thread([this] { Run(); });
}

ScriptedServer::~ScriptedServer() {
  stop_ = true;
  thread_.join();
  ravelto::testing::CloseSocket(listener_);
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
  for (;;) {
    const SocketHandle fd = ravelto::testing::AcceptUnlessStopped(listener_, stop_);
    if (fd == ravelto::testing::kNoSocket) return;
    Peer peer(*this, fd, connections_++);
    script_(peer);
    ravelto::testing::CloseSocket(fd);
  }
}

int UnusedPort() { return ravelto::testing::UnusedLoopbackPort(); }

std::string Answer(std::string_view statusLine, std::string_view headers, std::string_view body) {
  std::string out(statusLine);
  out += "\r\n";
  out += headers;
  out += "\r\n";
  out += body;
  return out;
}

}  // namespace ravelto::service::testing
