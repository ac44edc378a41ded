#pragma once
// Loopback socket helpers shared by the test servers and the benchmarks'
// local servers: a listening socket on 127.0.0.1 with a free port, an accept
// loop that gives up when asked to stop, reading one request head and
// sending every byte of an answer. BSD sockets on POSIX, Winsock on Windows
// (started on first use), no test framework.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ravelto::testing {

// A socket: a descriptor on POSIX, a Winsock SOCKET (an unsigned pointer-sized
// number) on Windows. The header does not pull in the system's socket headers.
#ifdef _WIN32
using SocketHandle = std::uintptr_t;
inline constexpr SocketHandle kNoSocket = ~SocketHandle{0};  // INVALID_SOCKET
#else
using SocketHandle = int;
inline constexpr SocketHandle kNoSocket = -1;
#endif

struct LoopbackListener {
  SocketHandle fd = kNoSocket;
  int port = 0;
};

// A listening TCP socket on 127.0.0.1 on a port the system picks
// (SO_REUSEADDR set). Throws std::runtime_error when it cannot listen.
LoopbackListener ListenLoopback(int backlog = 16);

// A port on 127.0.0.1 on which nothing listens (bound once, then closed).
int UnusedLoopbackPort();

// A blocking connection to 127.0.0.1:port, or kNoSocket with the system's
// error (errno, or the Winsock number) in *error.
SocketHandle ConnectLoopback(int port, int* error = nullptr);

// True when fd becomes readable within timeoutMs (-1: wait without limit).
bool WaitReadable(SocketHandle fd, int timeoutMs);

// Waits for the next connection on listener, looking at `stop` every 20 ms.
// Returns the accepted socket, or kNoSocket once `stop` is set.
SocketHandle AcceptUnlessStopped(SocketHandle listener, const std::atomic<bool>& stop);

// One recv: the count received, 0 when the peer closed, negative on failure.
long Receive(SocketHandle fd, char* buffer, std::size_t capacity);

// Reads from fd, appending to `head`, until it holds the empty line ending a
// request head ("\r\n\r\n"). Waits up to timeoutMs for each piece (-1: no
// limit). Returns false when the peer closed, a read failed or the wait ran
// out first; `head` then keeps what did arrive.
bool ReadRequestHead(SocketHandle fd, std::string& head, int timeoutMs = -1);

// Sends all of bytes (no SIGPIPE). False when the peer went away first.
bool SendAll(SocketHandle fd, std::string_view bytes);

// Ends sending (the peer reads the end of the stream), or both directions.
void ShutdownSending(SocketHandle fd);
void ShutdownBoth(SocketHandle fd);

// Closes a socket; kNoSocket is ignored.
void CloseSocket(SocketHandle fd);

}  // namespace ravelto::testing
