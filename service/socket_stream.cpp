#include "service/socket_stream.h"

#include <algorithm>
#include <cctype>
#include <cstring>

#include "service/http_client.h"
#include "service/socket_errors.h"

#ifdef _WIN32
#include "platform/windows_api.h"
#include <winsock2.h>
#include <ws2tcpip.h>

#include <mutex>
#else
#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace ravelto::service {

namespace {

#ifdef _WIN32
using SocketHandle = SOCKET;
constexpr SocketHandle kNoSocket = INVALID_SOCKET;

int LastSocketError() { return WSAGetLastError(); }
void CloseSocket(SocketHandle s) { closesocket(s); }
bool SetNonBlocking(SocketHandle s) {
  u_long on = 1;
  return ioctlsocket(s, FIONBIO, &on) == 0;
}
bool InProgress(int err) { return err == WSAEWOULDBLOCK || err == WSAEINPROGRESS; }
bool WouldBlock(int err) { return err == WSAEWOULDBLOCK; }
constexpr int kSendFlags = 0;

// Winsock needs starting once per process; it stays started until exit.
void StartSockets() {
  static std::once_flag once;
  std::call_once(once, [] {
    WSADATA data;
    WSAStartup(MAKEWORD(2, 2), &data);
  });
}
#else
using SocketHandle = int;
constexpr SocketHandle kNoSocket = -1;

int LastSocketError() { return WsaFromErrno(errno); }
void CloseSocket(SocketHandle s) { ::close(s); }
bool SetNonBlocking(SocketHandle s) {
  const int flags = fcntl(s, F_GETFL, 0);
  return flags >= 0 && fcntl(s, F_SETFL, flags | O_NONBLOCK) == 0;
}
bool InProgress(int err) { return err == WsaFromErrno(EINPROGRESS); }
bool WouldBlock(int err) { return err == WsaFromErrno(EAGAIN) || err == WsaFromErrno(EWOULDBLOCK); }
#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;  // a closed peer gives EPIPE, not a signal
#else
constexpr int kSendFlags = 0;
#endif
void StartSockets() {}
#endif

[[noreturn]] void ThrowSocketError(int code) { throw HttpError(SocketErrorMessage(code)); }

using Clock = std::chrono::steady_clock;

enum class Ready { kRead, kWrite };

// Waits until the socket can be read, or written (a finished connection
// attempt counts), or the deadline passes. Returns 1 when it is ready, 0
// when the time ran out, or -1 with the error in *error. *failed tells that
// the system flagged the socket as failed (a refused connection, say); the
// reason is then in SO_ERROR.
#ifdef _WIN32
// select(), not WSAPoll: WSAPoll of older Windows never reports a failed
// non-blocking connect, so the attempt would sit out its whole time-out.
// A failed connect lands in the except set.
int WaitFor(SocketHandle s, Ready ready, Clock::time_point deadline, bool* failed, int* error) {
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::microseconds>(deadline - Clock::now());
    const long long micros = std::max<long long>(0, left.count());
    timeval wait{};
    wait.tv_sec = static_cast<long>(micros / 1000000);
    wait.tv_usec = static_cast<long>(micros % 1000000);
    fd_set readable;
    fd_set writable;
    fd_set except;
    FD_ZERO(&readable);
    FD_ZERO(&writable);
    FD_ZERO(&except);
    if (ready == Ready::kRead) {
      FD_SET(s, &readable);
    } else {
      FD_SET(s, &writable);
      FD_SET(s, &except);
    }
    const int n = ::select(0, &readable, &writable, &except, &wait);
    if (n == SOCKET_ERROR) {
      const int err = LastSocketError();
      if (err == kWsaInterrupted && Clock::now() < deadline) continue;
      *error = err;
      return -1;
    }
    *failed = FD_ISSET(s, &except) != 0;
    return n > 0 ? 1 : 0;
  }
}
#else
int WaitFor(SocketHandle s, Ready ready, Clock::time_point deadline, bool* failed, int* error) {
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    pollfd fd{};
    fd.fd = s;
    fd.events = ready == Ready::kRead ? POLLIN : POLLOUT;
    const int timeoutMs = static_cast<int>(std::max<long long>(0, left.count()));
    const int n = ::poll(&fd, 1, timeoutMs);
    if (n < 0) {
      const int err = LastSocketError();
      if (err == kWsaInterrupted && Clock::now() < deadline) continue;
      *error = err;
      return -1;
    }
    *failed = (fd.revents & POLLERR) != 0;
    return n;
  }
}
#endif

class SocketStream final : public Stream {
 public:
  explicit SocketStream(SocketHandle s) : socket_(s) {}
  ~SocketStream() override { CloseSocket(socket_); }
  SocketStream(const SocketStream&) = delete;
  SocketStream& operator=(const SocketStream&) = delete;

  ReadResult Read(char* buffer, std::size_t capacity, std::chrono::milliseconds timeout) override {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
      bool failed = false;
      int error = 0;
      const int n = WaitFor(socket_, Ready::kRead, deadline, &failed, &error);
      if (n < 0) return {ReadStatus::Failed, 0, error};
      if (n == 0) return {ReadStatus::TimedOut, 0, 0};
      const auto got = ::recv(socket_, buffer, static_cast<int>(std::min<std::size_t>(capacity, 1 << 30)), 0);
      if (got > 0) return {ReadStatus::Data, static_cast<std::size_t>(got), 0};
      if (got == 0) return {ReadStatus::Closed, 0, 0};
      const int err = LastSocketError();
      if (WouldBlock(err) || err == kWsaInterrupted) {
        if (Clock::now() >= deadline) return {ReadStatus::TimedOut, 0, 0};
        continue;
      }
      return {ReadStatus::Failed, 0, err};
    }
  }

  int Write(std::string_view bytes) override {
    // The head is small: it normally leaves in this one send. A full send
    // buffer is waited out for at most a minute.
    const auto deadline = Clock::now() + std::chrono::seconds(60);
    while (!bytes.empty()) {
      const auto sent = ::send(socket_, bytes.data(), static_cast<int>(std::min<std::size_t>(bytes.size(), 1 << 30)),
                               kSendFlags);
      if (sent > 0) {
        bytes.remove_prefix(static_cast<std::size_t>(sent));
        continue;
      }
      const int err = LastSocketError();
      if (!WouldBlock(err) && err != kWsaInterrupted) return err;
      bool failed = false;
      int error = 0;
      const int n = WaitFor(socket_, Ready::kWrite, deadline, &failed, &error);
      if (n < 0) return error;
      if (n == 0) return kWsaTimedOut;
    }
    return 0;
  }

 private:
  SocketHandle socket_;
};

}  // namespace

std::uint32_t ResolveIpv4(const std::string& host) {
  StartSockets();
  std::string lower = host;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  in_addr address{};
  if (lower == "localhost") {
    address.s_addr = htonl(INADDR_LOOPBACK);
    return address.s_addr;
  }
  if (inet_pton(AF_INET, host.c_str(), &address) == 1) return address.s_addr;

  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (host.empty() || getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
    ThrowSocketError(kWsaHostNotFound);
  }
  const auto* ipv4 = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
  const std::uint32_t result = ipv4->sin_addr.s_addr;
  freeaddrinfo(found);
  return result;
}

std::unique_ptr<Stream> ConnectTcp(const std::string& host, int port,
                                   std::chrono::milliseconds timeout) {
  const std::uint32_t address = ResolveIpv4(host);
  // A port the socket API cannot address is refused rather than cut to its
  // low 16 bits, which would reach some other port.
  if (port < 1 || port > 65535) ThrowSocketError(kWsaAddressNotAvailable);
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_addr.s_addr = address;
  target.sin_port = htons(static_cast<std::uint16_t>(port));

  const SocketHandle s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == kNoSocket) ThrowSocketError(LastSocketError());
  auto stream = std::make_unique<SocketStream>(s);  // closes s on every failure below
  if (!SetNonBlocking(s)) ThrowSocketError(LastSocketError());
  int on = 1;
  ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&on), sizeof on);

  const auto deadline = Clock::now() + timeout;
  if (::connect(s, reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
    const int err = LastSocketError();
    if (!InProgress(err)) ThrowSocketError(err);
    bool failed = false;
    int error = 0;
    const int n = WaitFor(s, Ready::kWrite, deadline, &failed, &error);
    if (n < 0) ThrowSocketError(error);
    if (n == 0) {
      stream.reset();  // the abandoned attempt's socket is closed first
      throw HttpError("Connect timed out.");
    }
    int soError = 0;
    socklen_t length = sizeof soError;
    if (::getsockopt(s, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &length) != 0) {
      ThrowSocketError(LastSocketError());
    }
#ifdef _WIN32
    if (soError != 0) ThrowSocketError(soError);
#else
    if (soError != 0) ThrowSocketError(WsaFromErrno(soError));
#endif
    // Flagged as failed without a recorded reason: still not a connection.
    if (failed) ThrowSocketError(kWsaNotConnected);
  }
  return stream;
}

}  // namespace ravelto::service
