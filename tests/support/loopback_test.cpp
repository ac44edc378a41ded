#include "tests/support/loopback.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace ravelto::testing {
namespace {

#ifdef _WIN32
constexpr int kRefused = 10061;  // WSAECONNREFUSED
#else
constexpr int kRefused = ECONNREFUSED;
#endif

// Two connected loopback TCP sockets, or false.
bool ConnectedPair(SocketHandle pair[2]) {
  const LoopbackListener listener = ListenLoopback(1);
  pair[0] = ConnectLoopback(listener.port);
  const std::atomic<bool> stop{false};
  pair[1] = pair[0] == kNoSocket ? kNoSocket : AcceptUnlessStopped(listener.fd, stop);
  CloseSocket(listener.fd);
  if (pair[1] != kNoSocket) return true;
  CloseSocket(pair[0]);
  return false;
}

// Receives until `size` bytes arrived or the stream ended; the count.
long ReceiveExactly(SocketHandle fd, char* buffer, std::size_t size) {
  std::size_t got = 0;
  while (got < size) {
    const long n = Receive(fd, buffer + got, size - got);
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  return static_cast<long>(got);
}

TEST(Loopback, ListenersGetDistinctPortsAndAccept) {
  const LoopbackListener a = ListenLoopback();
  const LoopbackListener b = ListenLoopback();
  EXPECT_GT(a.port, 0);
  EXPECT_NE(a.port, b.port);
  const SocketHandle client = ConnectLoopback(a.port);
  ASSERT_NE(client, kNoSocket);
  std::atomic<bool> stop{false};
  const SocketHandle served = AcceptUnlessStopped(a.fd, stop);
  ASSERT_NE(served, kNoSocket);
  ASSERT_TRUE(SendAll(client, "ping"));
  char got[4] = {};
  EXPECT_EQ(ReceiveExactly(served, got, sizeof got), 4);
  EXPECT_EQ(std::string(got, 4), "ping");
  for (const SocketHandle fd : {client, served, a.fd, b.fd}) CloseSocket(fd);
}

TEST(Loopback, UnusedPortRefusesConnections) {
  int error = 0;
  EXPECT_EQ(ConnectLoopback(UnusedLoopbackPort(), &error), kNoSocket);
  EXPECT_EQ(error, kRefused);
}

TEST(Loopback, AcceptGivesUpWhenStopped) {
  const LoopbackListener listener = ListenLoopback();
  std::atomic<bool> stop{false};
  std::thread stopper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    stop = true;
  });
  EXPECT_EQ(AcceptUnlessStopped(listener.fd, stop), -1);
  stopper.join();
  CloseSocket(listener.fd);
}

// Writes the pieces one by one into a connected pair, optionally closes the
// writing end, then reads a head with a short wait.
struct HeadCase {
  const char* what;
  std::vector<std::string> pieces;
  bool closeAfter;
  bool complete;
  std::string head;
};

TEST(Loopback, ReadRequestHead) {
  const std::vector<HeadCase> cases = {
      {"in one piece", {"GET / HTTP/1.1\r\n\r\n"}, false, true, "GET / HTTP/1.1\r\n\r\n"},
      {"empty line split across pieces", {"GET / HTTP/1.1\r\n\r", "\n"}, false, true,
       "GET / HTTP/1.1\r\n\r\n"},
      {"bytes after the empty line are kept", {"GET / HTTP/1.1\r\n\r\nbody"}, false, true,
       "GET / HTTP/1.1\r\n\r\nbody"},
      {"peer closes before the empty line", {"GET / HTTP/1.1\r\n"}, true, false, "GET / HTTP/1.1\r\n"},
      {"wait runs out before the empty line", {"GET / HTTP/1.1\r\n"}, false, false, "GET / HTTP/1.1\r\n"},
      {"nothing at all", {}, true, false, ""},
  };
  for (const HeadCase& c : cases) {
    SCOPED_TRACE(c.what);
    SocketHandle pair[2];
    ASSERT_TRUE(ConnectedPair(pair));
    for (const std::string& piece : c.pieces) ASSERT_TRUE(SendAll(pair[1], piece));
    if (c.closeAfter) CloseSocket(pair[1]);
    std::string head;
    EXPECT_EQ(ReadRequestHead(pair[0], head, 100), c.complete);
    EXPECT_EQ(head, c.head);
    CloseSocket(pair[0]);
    if (!c.closeAfter) CloseSocket(pair[1]);
  }
}

TEST(Loopback, SendAllDeliversLargeAnswersAndReportsAGonePeer) {
  SocketHandle pair[2];
  ASSERT_TRUE(ConnectedPair(pair));
  const std::string big(4u << 20, 'x');
  std::string received;
  std::thread reader([&] {
    char buffer[65536];
    long got;
    while ((got = Receive(pair[1], buffer, sizeof buffer)) > 0) {
      received.append(buffer, static_cast<std::size_t>(got));
    }
  });
  EXPECT_TRUE(SendAll(pair[0], big));
  ShutdownSending(pair[0]);
  reader.join();
  EXPECT_EQ(received.size(), big.size());
  CloseSocket(pair[1]);
  EXPECT_FALSE(SendAll(pair[0], "after the peer left"));
  CloseSocket(pair[0]);
}

}  // namespace
}  // namespace ravelto::testing
