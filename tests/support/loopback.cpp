#include "tests/support/loopback.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace ravelto::testing {

namespace {

// Binds a new TCP socket to 127.0.0.1 on a free port; -1 on failure.
int BindLoopback(int* port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd < 0) return -1;
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    ::close(fd);
    return -1;
  }
  *port = ntohs(address.sin_port);
  return fd;
}

}  // namespace

LoopbackListener ListenLoopback(int backlog) {
  LoopbackListener listener;
  listener.fd = BindLoopback(&listener.port);
  if (listener.fd < 0) throw std::runtime_error("loopback bind");
  if (::listen(listener.fd, backlog) != 0) {
    ::close(listener.fd);
    throw std::runtime_error("loopback listen");
  }
  return listener;
}

int UnusedLoopbackPort() {
  int port = 0;
  const int fd = BindLoopback(&port);
  if (fd < 0) throw std::runtime_error("loopback bind");
  ::close(fd);
  return port;
}

bool WaitReadable(int fd, int timeoutMs) {
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, timeoutMs) > 0;
}

int AcceptUnlessStopped(int listener, const std::atomic<bool>& stop) {
  while (!stop) {
    if (!WaitReadable(listener, 20)) continue;
    const int fd = ::accept(listener, nullptr, nullptr);
    if (fd >= 0) return fd;
  }
  return -1;
}

bool ReadRequestHead(int fd, std::string& head, int timeoutMs) {
  char buffer[4096];
  while (head.find("\r\n\r\n") == std::string::npos) {
    if (timeoutMs >= 0 && !WaitReadable(fd, timeoutMs)) return false;
    const ssize_t got = ::recv(fd, buffer, sizeof buffer, 0);
    if (got <= 0) return false;
    head.append(buffer, static_cast<std::size_t>(got));
  }
  return true;
}

bool SendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

}  // namespace ravelto::testing
