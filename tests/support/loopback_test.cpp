#include "tests/support/loopback.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace ravelto::testing {
namespace {

// A client socket connected to 127.0.0.1:port, or -1 with errno set.
int Connect(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
    return -1;
  }
  return fd;
}

TEST(Loopback, ListenersGetDistinctPortsAndAccept) {
  const LoopbackListener a = ListenLoopback();
  const LoopbackListener b = ListenLoopback();
  EXPECT_GT(a.port, 0);
  EXPECT_NE(a.port, b.port);
  const int client = Connect(a.port);
  ASSERT_GE(client, 0);
  std::atomic<bool> stop{false};
  const int served = AcceptUnlessStopped(a.fd, stop);
  ASSERT_GE(served, 0);
  ASSERT_TRUE(SendAll(client, "ping"));
  char got[4] = {};
  EXPECT_EQ(::recv(served, got, sizeof got, MSG_WAITALL), 4);
  EXPECT_EQ(std::string(got, 4), "ping");
  for (const int fd : {client, served, a.fd, b.fd}) ::close(fd);
}

TEST(Loopback, UnusedPortRefusesConnections) {
  EXPECT_EQ(Connect(UnusedLoopbackPort()), -1);
  EXPECT_EQ(errno, ECONNREFUSED);
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
  ::close(listener.fd);
}

// Writes the pieces one by one into a socket pair, optionally closes the
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
    int pair[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
    for (const std::string& piece : c.pieces) ASSERT_TRUE(SendAll(pair[1], piece));
    if (c.closeAfter) ::close(pair[1]);
    std::string head;
    EXPECT_EQ(ReadRequestHead(pair[0], head, 100), c.complete);
    EXPECT_EQ(head, c.head);
    ::close(pair[0]);
    if (!c.closeAfter) ::close(pair[1]);
  }
}

TEST(Loopback, SendAllDeliversLargeAnswersAndReportsAGonePeer) {
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, pair), 0);
  const std::string big(4u << 20, 'x');
  std::string received;
  std::thread reader([&] {
    char buffer[65536];
    ssize_t got;
    while ((got = ::recv(pair[1], buffer, sizeof buffer, 0)) > 0) {
      received.append(buffer, static_cast<std::size_t>(got));
    }
  });
  EXPECT_TRUE(SendAll(pair[0], big));
  ::shutdown(pair[0], SHUT_WR);
  reader.join();
  EXPECT_EQ(received.size(), big.size());
  ::close(pair[1]);
  EXPECT_FALSE(SendAll(pair[0], "after the peer left"));
  ::close(pair[0]);
}

}  // namespace
}  // namespace ravelto::testing
