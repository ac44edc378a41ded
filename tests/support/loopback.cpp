#include "tests/support/loopback.h"

#include <algorithm>
#include <climits>
#include <stdexcept>

#ifdef _WIN32
#include "platform/windows_api.h"
#include <winsock2.h>
#include <ws2tcpip.h>

#include <type_traits>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#endif

namespace ravelto::testing {

namespace {

#ifdef _WIN32
static_assert(std::is_same_v<SocketHandle, SOCKET>);

// Winsock is started once for the process and left running until it exits.
void StartSockets() {
  static const bool started = [] {
    WSADATA data;
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
  }();
  if (!started) throw std::runtime_error("WSAStartup");
}
int LastSocketError() { return WSAGetLastError(); }
using AddressLength = int;
constexpr int kSendFlags = 0;
constexpr int kShutSend = SD_SEND;
constexpr int kShutBoth = SD_BOTH;
#else
void StartSockets() {}
int LastSocketError() { return errno; }
using AddressLength = socklen_t;
constexpr int kSendFlags = MSG_NOSIGNAL;  // a gone peer gives EPIPE, not a signal
constexpr int kShutSend = SHUT_WR;
constexpr int kShutBoth = SHUT_RDWR;
#endif

// At most this many bytes go to one recv or send (Winsock counts in int).
constexpr std::size_t kMaxPiece = INT_MAX;

sockaddr_in LoopbackAddress(int port) {
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  return address;
}

// Binds a new TCP socket to 127.0.0.1 on a free port; kNoSocket on failure.
SocketHandle BindLoopback(int* port) {
  StartSockets();
  const SocketHandle fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd == kNoSocket) return kNoSocket;
#ifndef _WIN32
  // On Windows this option would let another socket take the same port.
  int on = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
#endif
  sockaddr_in address = LoopbackAddress(0);
  AddressLength length = sizeof address;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    CloseSocket(fd);
    return kNoSocket;
  }
  *port = ntohs(address.sin_port);
  return fd;
}

}  // namespace

LoopbackListener ListenLoopback(int backlog) {
  LoopbackListener listener;
  listener.fd = BindLoopback(&listener.port);
  if (listener.fd == kNoSocket) throw std::runtime_error("loopback bind");
  if (::listen(listener.fd, backlog) != 0) {
    CloseSocket(listener.fd);
    throw std::runtime_error("loopback listen");
  }
  return listener;
}

int UnusedLoopbackPort() {
  int port = 0;
  const SocketHandle fd = BindLoopback(&port);
  if (fd == kNoSocket) throw std::runtime_error("loopback bind");
  CloseSocket(fd);
  return port;
}

SocketHandle ConnectLoopback(int port, int* error) {
  StartSockets();
  int failure = 0;
  SocketHandle fd = ::socket(AF_INET, SOCK_STREAM, 0);
  if (fd == kNoSocket) {
    failure = LastSocketError();
  } else {
    const sockaddr_in address = LoopbackAddress(port);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
      failure = LastSocketError();
      CloseSocket(fd);
      fd = kNoSocket;
    }
  }
  if (error != nullptr) *error = failure;
  return fd;
}

bool WaitReadable(SocketHandle fd, int timeoutMs) {
#ifdef _WIN32
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(fd, &readable);
  timeval wait{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  return ::select(0, &readable, nullptr, nullptr, timeoutMs < 0 ? nullptr : &wait) > 0;
#else
  pollfd p{fd, POLLIN, 0};
  return ::poll(&p, 1, timeoutMs) > 0;
#endif
}

SocketHandle AcceptUnlessStopped(SocketHandle listener, const std::atomic<bool>& stop) {
  while (!stop) {
    if (!WaitReadable(listener, 20)) continue;
    const SocketHandle fd = ::accept(listener, nullptr, nullptr);
    if (fd != kNoSocket) return fd;
  }
  return kNoSocket;
}

long Receive(SocketHandle fd, char* buffer, std::size_t capacity) {
  return static_cast<long>(::recv(fd, buffer, static_cast<int>(std::min(capacity, kMaxPiece)), 0));
}

bool ReadRequestHead(SocketHandle fd, std::string& head, int timeoutMs) {
  char buffer[4096];
  while (head.find("\r\n\r\n") == std::string::npos) {
    if (timeoutMs >= 0 && !WaitReadable(fd, timeoutMs)) return false;
    const long got = Receive(fd, buffer, sizeof buffer);
    if (got <= 0) return false;
    head.append(buffer, static_cast<std::size_t>(got));
  }
  return true;
}

bool SendAll(SocketHandle fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const auto sent = ::send(fd, bytes.data(), static_cast<int>(std::min(bytes.size(), kMaxPiece)), kSendFlags);
    if (sent <= 0) return false;
    bytes.remove_prefix(static_cast<std::size_t>(sent));
  }
  return true;
}

void ShutdownSending(SocketHandle fd) { ::shutdown(fd, kShutSend); }

void ShutdownBoth(SocketHandle fd) { ::shutdown(fd, kShutBoth); }

void CloseSocket(SocketHandle fd) {
  if (fd == kNoSocket) return;
#ifdef _WIN32
  ::closesocket(fd);
#else
  ::close(fd);
#endif
}

}  // namespace ravelto::testing
