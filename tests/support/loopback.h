#pragma once
// Loopback socket helpers shared by the test servers and the benchmarks'
// local servers: a listening socket on 127.0.0.1 with a free port, an accept
// loop that gives up when asked to stop, reading one request head and
// sending every byte of an answer. Plain POSIX sockets, no test framework.

#include <atomic>
#include <string>
#include <string_view>

namespace ravelto::testing {

struct LoopbackListener {
  int fd = -1;
  int port = 0;
};

// A listening TCP socket on 127.0.0.1 on a port the system picks
// (SO_REUSEADDR set). Throws std::runtime_error when it cannot listen.
LoopbackListener ListenLoopback(int backlog = 16);

// A port on 127.0.0.1 on which nothing listens (bound once, then closed).
int UnusedLoopbackPort();

// True when fd becomes readable within timeoutMs (-1: wait without limit).
bool WaitReadable(int fd, int timeoutMs);

// Waits for the next connection on listener, looking at `stop` every 20 ms.
// Returns the accepted socket, or -1 once `stop` is set.
int AcceptUnlessStopped(int listener, const std::atomic<bool>& stop);

// Reads from fd, appending to `head`, until it holds the empty line ending a
// request head ("\r\n\r\n"). Waits up to timeoutMs for each piece (-1: no
// limit). Returns false when the peer closed, a read failed or the wait ran
// out first; `head` then keeps what did arrive.
bool ReadRequestHead(int fd, std::string& head, int timeoutMs = -1);

// Sends all of bytes (no SIGPIPE). False when the peer went away first.
bool SendAll(int fd, std::string_view bytes);

}  // namespace ravelto::testing
