// The client against scripted servers on 127.0.0.1: wire bytes, every way an
// answer can end, connection reuse, and the failures' exact messages.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <string>
#include <vector>

#include "service/http_client.h"
#include "service/http_get.h"
#include "tests/service/scripted_server.h"
#include "tests/support/loopback.h"

namespace ravelto::service {
namespace {

using namespace std::chrono_literals;
using testing::Answer;
using testing::Peer;
using testing::ScriptedServer;

// Short waits so that no test sits through the real time-outs, yet long
// enough for a busy machine.
Timeouts Quick() { return Timeouts{2000ms, 1000ms, 500ms}; }

TEST(HttpClient, DefaultTimeoutsAreThreeTenAndTwoSeconds) {
  Client client;
  EXPECT_EQ(client.GetTimeouts().connect, 3000ms);
  EXPECT_EQ(client.GetTimeouts().read, 10000ms);
  EXPECT_EQ(client.GetTimeouts().errorBody, 2000ms);
  EXPECT_TRUE(client.Proxy().server.empty());
  EXPECT_EQ(client.Proxy().port, 8080);
  EXPECT_FALSE(client.Proxy().basicAuth);
}

// One server situation: what the server sends after reading the request
// head (then it closes, or holds the connection open), and what HttpGet
// must return.
struct Situation {
  const char* name;
  std::string answer;
  bool holdOpen;
  std::string body;
  std::string outcome;
};

std::string Repeat(char c, std::size_t n) { return std::string(n, c); }

void PrintTo(const Situation& s, std::ostream* out) { *out << s.name; }

class Situations : public ::testing::TestWithParam<Situation> {};

TEST_P(Situations, HttpGetReturnsBodyAndOutcome) {
  const Situation& s = GetParam();
  ScriptedServer server([&](Peer& peer) {
    if (peer.ReadHead().empty()) return;
    peer.Send(s.answer);
    if (s.holdOpen) peer.Hold();
  });
  Client client(Quick());
  AnswerLimits limits;
  limits.maxBody = 1 << 20;
  client.SetLimits(limits);
  const HttpGetResult result = HttpGet(client, server.Url("/x"));
  EXPECT_EQ(result.outcome, s.outcome);
  EXPECT_EQ(result.body.size(), s.body.size());
  EXPECT_TRUE(result.body == s.body);
  EXPECT_EQ(server.Connections(), 1);  // nothing followed, redirects included
}

const std::string kOk = "HTTP/1.1 200 OK";

INSTANTIATE_TEST_SUITE_P(
    Answers, Situations,
    ::testing::Values(
        Situation{"Length", Answer(kOk, "Content-Length: 5\r\n", "hello"), true, "hello", "ok"},
        Situation{"ShortLengthThenClose", Answer(kOk, "Content-Length: 10\r\n", "abcd"), false, "abcd", "ok"},
        Situation{"Chunked",
                  Answer(kOk, "Transfer-Encoding: Chunked\r\n", "5\r\nhello\r\nA ignored\r\n, world!!!\r\n0\r\n\r\n"),
                  true, "hello, world!!!", "ok"},
        Situation{"ChunkSizeWithExtensionCountsAsZero",
                  Answer(kOk, "Transfer-Encoding: chunked\r\n", "5;x=1\r\nhello\r\n0\r\n\r\n"), true, "", "ok"},
        Situation{"ChunkedClosedMidChunk", Answer(kOk, "Transfer-Encoding: chunked\r\n", "a\r\nhel"), false, "hel",
                  "Connection Closed Gracefully."},
        Situation{"ContinueThenOk", "HTTP/1.1 100 Continue\r\n\r\n" + Answer(kOk, "Content-Length: 2\r\n", "hi"),
                  true, "hi", "ok"},
        Situation{"Redirect", Answer("HTTP/1.1 302 Found", "Location: /y\r\nContent-Length: 3\r\n", "abc"), true, "",
                  "HTTP/1.1 302 Found"},
        Situation{"OkWithLocationIsRedirect", Answer(kOk, "Location: /y\r\nContent-Length: 3\r\n", "abc"), true, "",
                  "HTTP/1.1 200 OK"},
        Situation{"NotModifiedIsFailure", Answer("HTTP/1.1 304 Not Modified", "Content-Length: 0\r\n", ""), true, "",
                  "HTTP/1.1 304 Not Modified"},
        Situation{"NotFoundWithBody", Answer("HTTP/1.1 404 Not Found", "Content-Length: 9\r\n", "not found"), true,
                  "", "HTTP/1.1 404 Not Found"},
        Situation{"ProxyAuthRequired", Answer("HTTP/1.0 407 Proxy Authentication Required", "", "denied"), false, "",
                  "HTTP/1.0 407 Proxy Authentication Required"},
        Situation{"StatusWithoutCode", Answer("HTTP/1.1 OK", "Content-Length: 0\r\n", ""), true, "", "HTTP/1.1 OK"},
        Situation{"NoLengthReadToClose", Answer(kOk, "Connection: close\r\n", "until the end"), false,
                  "until the end", "ok"},
        Situation{"NoLengthServerKeepsOpen", Answer(kOk, "", "partial"), true, "partial", "Read Timeout"},
        Situation{"NoContent", Answer("HTTP/1.1 204 No Content", "", ""), true, "", "ok"},
        Situation{"SilentServer", "", true, "", "Read Timeout"},
        Situation{"CloseBeforeAnything", "", false, "", "Connection Closed Gracefully."},
        Situation{"HangingHead", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n", true, "", "Read Timeout"},
        Situation{"OkClosedWithinHead", "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n", false, "",
                  "Undefined situation"},
        Situation{"ErrorClosedWithinHeadAnnouncingBody", "HTTP/1.1 500 Oops\r\nContent-Length: 5\r\n", false, "",
                  "Not Connected"},
        Situation{"ErrorClosedWithinHeadWithoutBody", "HTTP/1.1 500 Oops\r\nContent-Length: 0\r\n", false, "",
                  "HTTP/1.1 500 Oops"},
        Situation{"ErrorBodyTimesOut", Answer("HTTP/1.1 500 Oops", "Content-Length: 10\r\n", "ab"), true, "",
                  "Read Timeout"},
        Situation{"OverlongHeadLine", "HTTP/1.1 200 OK\r\nX: " + Repeat('a', 16382) + "\r\n\r\n", true, "",
                  "Max line length exceeded."},
        Situation{"HeadLineWithoutEnd", "HTTP/1.1 200 OK\r\n" + Repeat('a', 40000), true, "",
                  "Max line length exceeded."},
        // Bounded memory against hostile answers.
        Situation{"HugeContentLength", Answer(kOk, "Content-Length: 99999999999\r\n", "abc"), true, "",
                  "Answer body larger than 1048576 bytes."},
        Situation{"EndlessBodyPastCap", Answer(kOk, "", Repeat('z', (1 << 20) + 1)), false,
                  Repeat('z', 1 << 20), "Answer body larger than 1048576 bytes."},
        Situation{"OverflowingChunkSize",
                  Answer(kOk, "Transfer-Encoding: chunked\r\n", "FFFFFFFFFFFFFFFFFFFF\r\nabc"), true, "",
                  "Chunk size out of range."},
        Situation{"EndlessInterimHeads", [] {
                    std::string s;
                    for (int i = 0; i < 40; ++i) s += "HTTP/1.1 100 Continue\r\n\r\n";
                    return s;
                  }(),
                  true, "", "Too many interim (100) answers."}),
    [](const ::testing::TestParamInfo<Situation>& info) { return std::string(info.param.name); });

TEST(HttpClient, ErrorBodyWaitIsShorterThanReadWait) {
  // A 500 whose body never completes: the failure comes after the error-body
  // wait (200 ms), not the read wait (5 s).
  ScriptedServer server([](Peer& peer) {
    peer.ReadHead();
    peer.Send(Answer("HTTP/1.1 500 Oops", "Content-Length: 10\r\n", "ab"));
    peer.Hold();
  });
  Client client(Timeouts{500ms, 5000ms, 200ms});
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(HttpGet(client, server.Url("/")).outcome, "Read Timeout");
  EXPECT_LT(std::chrono::steady_clock::now() - start, 3000ms);
  EXPECT_EQ(client.GetTimeouts().read, 5000ms);  // restored
}

TEST(HttpClient, RequestHeadBytesDirect) {
  ScriptedServer server([](Peer& peer) {
    peer.ReadHead();
    peer.Send(Answer(kOk, "Content-Length: 0\r\n", ""));
  });
  Client client(Quick());
  // Backslash to slash, user information dropped, raw Cyrillic and spaces,
  // "#" in the query cuts the target.
  const std::string url = "http://user:pw@127.0.0.1:" + std::to_string(server.Port()) +
                          "\\medic/list.php?id=\xCA\xEE\xE4 1&pass=a#b&ver=21";
  EXPECT_EQ(client.Get(url), "");
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(server.Requests()[0],
            "GET /medic/list.php?id=\xCA\xEE\xE4 1&pass=a HTTP/1.1\r\n"
            "Host: 127.0.0.1:" + std::to_string(server.Port()) + "\r\n"
            "Accept: text/html, */*\r\n"
            "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n\r\n");
}

TEST(HttpClient, RequestHeadBytesThroughProxy) {
  ScriptedServer proxy([](Peer& peer) {
    while (!peer.ReadHead().empty()) peer.Send(Answer(kOk, "Content-Length: 2\r\n", "ok"));
  });
  Client client(Quick());
  client.Proxy().server = "LocalHost";
  client.Proxy().port = proxy.Port();
  client.Proxy().basicAuth = true;  // empty user and password: still sent
  EXPECT_EQ(client.Get("http://desk.example/a/b?c=d"), "ok");
  client.Proxy().user = "\xE8\xE2\xE0\xED";
  client.Proxy().password = "p:w";
  EXPECT_EQ(client.Get("http://desk.example:8081/"), "ok");
  client.Proxy().basicAuth = false;
  EXPECT_EQ(client.Get("HTTP://desk.example:80"), "ok");

  const std::vector<std::string> requests = proxy.Requests();
  ASSERT_EQ(requests.size(), 3u);
  const std::string common = "Accept: text/html, */*\r\nUser-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n";
  EXPECT_EQ(requests[0], "GET http://desk.example:80/a/b?c=d HTTP/1.1\r\nHost: desk.example\r\n" + common +
                             "Proxy-Authorization: Basic Og==\r\n\r\n");
  EXPECT_EQ(requests[1], "GET http://desk.example:8081/ HTTP/1.1\r\nHost: desk.example:8081\r\n" + common +
                             "Proxy-Authorization: Basic 6OLg7TpwOnc=\r\n\r\n");
  EXPECT_EQ(requests[2], "GET HTTP://desk.example:80/ HTTP/1.1\r\nHost: desk.example\r\n" + common + "\r\n");
  EXPECT_EQ(proxy.Connections(), 1);  // one kept connection for all three
}

TEST(HttpClient, KeepAliveReusesOneConnection) {
  ScriptedServer server([](Peer& peer) {
    int n = 0;
    while (!peer.ReadHead().empty()) {
      const std::string body = std::to_string(++n);
      peer.Send(Answer(kOk, "Content-Length: " + std::to_string(body.size()) + "\r\n", body));
    }
  });
  Client client(Quick());
  EXPECT_EQ(client.Get(server.Url("/")), "1");
  EXPECT_EQ(client.Get(server.Url("/")), "2");
  EXPECT_EQ(client.Get(server.Url("/")), "3");
  EXPECT_EQ(server.Connections(), 1);
  EXPECT_TRUE(client.Connected());
}

TEST(HttpClient, ConnectionCloseHeaderEndsTheConnection) {
  for (const char* header : {"Connection:  CLOSE \r\n", "Proxy-Connection: close\r\n"}) {
    ScriptedServer server([&](Peer& peer) {
      while (!peer.ReadHead().empty()) peer.Send(Answer(kOk, std::string(header) + "Content-Length: 1\r\n", "x"));
    });
    Client client(Quick());
    EXPECT_EQ(client.Get(server.Url("/")), "x");
    EXPECT_FALSE(client.Connected()) << header;
    EXPECT_EQ(client.Get(server.Url("/")), "x");
    EXPECT_EQ(server.Connections(), 2) << header;
  }
}

TEST(HttpClient, ServerClosedIdleConnectionIsReplaced) {
  // The server answers and closes without saying so; the liveness check
  // before the next request notices and opens a new connection.
  std::atomic<bool> closed{false};
  ScriptedServer server([&](Peer& peer) {
    peer.ReadHead();
    peer.Send(Answer(kOk, "Content-Length: 1\r\n", std::to_string(peer.Index())));
    peer.Close();
    closed = true;
  });
  Client client(Quick());
  EXPECT_EQ(client.Get(server.Url("/")), "0");
  for (int i = 0; i < 5000 && !closed; ++i) std::this_thread::sleep_for(1ms);
  EXPECT_EQ(client.Get(server.Url("/")), "1");
  EXPECT_EQ(server.Connections(), 2);
}

TEST(HttpClient, KeptConnectionClosedAsTheRequestLeavesIsRetriedOnce) {
  // The first connection answers once, then reads the next request and
  // closes without a word: the close raced the liveness check. The request
  // goes once more on a new connection. A new connection that closes the
  // same way is a failure, not retried.
  ScriptedServer server([](Peer& peer) {
    if (peer.Index() == 0) {
      peer.ReadHead();
      peer.Send(Answer(kOk, "Content-Length: 5\r\n", "first"));
      peer.ReadHead();
      peer.Close();
    } else if (peer.Index() == 1) {
      peer.ReadHead();
      peer.Send(Answer(kOk, "Content-Length: 6\r\n", "second"));
      peer.Close();
    } else {
      peer.ReadHead();
      peer.Close();
    }
  });
  Client client(Quick());
  EXPECT_EQ(client.Get(server.Url("/")), "first");
  EXPECT_EQ(client.Get(server.Url("/")), "second");
  EXPECT_EQ(server.Connections(), 2);
  EXPECT_EQ(server.Requests().size(), 3u);
  client.Disconnect();
  EXPECT_EQ(HttpGet(client, server.Url("/")).outcome, "Connection Closed Gracefully.");
  EXPECT_EQ(server.Connections(), 3);
}

TEST(HttpClient, LateAnswerToFailedExchangeIsNeverReadAsTheNext) {
  // The first answer comes after the client gave up; the second request
  // must not receive it.
  ScriptedServer server([](Peer& peer) {
    while (!peer.ReadHead().empty()) {
      if (peer.Index() == 0) peer.Pause(400ms);
      const std::string body = peer.Index() == 0 ? "stale" : "fresh";
      peer.Send(Answer(kOk, "Content-Length: 5\r\n", body));
    }
  });
  Client client(Timeouts{500ms, 150ms, 100ms});
  EXPECT_EQ(HttpGet(client, server.Url("/")).outcome, "Read Timeout");
  EXPECT_FALSE(client.Connected());
  client.SetTimeouts(Timeouts{500ms, 2000ms, 100ms});  // the server serves one connection at a time
  EXPECT_EQ(client.Get(server.Url("/")), "fresh");
}

TEST(HttpClient, ChangingTargetReconnects) {
  auto script = [](Peer& peer) {
    while (!peer.ReadHead().empty()) peer.Send(Answer(kOk, "Content-Length: 1\r\n", "a"));
  };
  ScriptedServer first(script);
  ScriptedServer second(script);
  Client client(Quick());
  client.Get(first.Url("/"));
  client.Get(second.Url("/"));
  client.Get(first.Url("/"));
  EXPECT_EQ(first.Connections(), 2);
  EXPECT_EQ(second.Connections(), 1);
}

TEST(HttpClient, LargeBodiesArriveWhole) {
  std::string big;
  for (int i = 0; i < 300000; ++i) big += static_cast<char>('a' + i % 26);
  ScriptedServer server([&](Peer& peer) {
    while (!peer.ReadHead().empty()) {
      peer.Send(Answer(kOk, "Content-Length: " + std::to_string(big.size()) + "\r\n", big));
      peer.ReadHead();
      std::string chunked = Answer(kOk, "Transfer-Encoding: chunked\r\n", "");
      for (std::size_t at = 0; at < big.size(); at += 70000) {
        const std::string piece = big.substr(at, 70000);
        char size[32];
        std::snprintf(size, sizeof size, "%zx\r\n", piece.size());
        chunked += size + piece + "\r\n";
      }
      peer.Send(chunked + "0\r\n\r\n");
    }
  });
  Client client(Quick());
  EXPECT_EQ(client.Get(server.Url("/length")), big);
  std::vector<char> buffer{'o', 'l', 'd'};
  client.FetchToBuffer(server.Url("/chunked"), buffer);
  EXPECT_EQ(std::string(buffer.begin(), buffer.end()), big);
  EXPECT_EQ(server.Connections(), 1);
}

TEST(HttpClient, SocketFailures) {
  Client client(Quick());
  EXPECT_EQ(HttpGet(client, "http://127.0.0.1:" + std::to_string(testing::UnusedPort()) + "/").outcome,
            "Socket Error # 10061\r\nConnection refused.");
  EXPECT_EQ(HttpGet(client, "http://no-such-host.invalid/").outcome, "Socket Error # 11001\r\nHost not found.");
  EXPECT_EQ(HttpGet(client, "http://127.0.0.1:8o/").outcome, "'8o' is not a valid integer value");
  // A port past 65535 must not wrap round to another port (65616 would be 80).
  EXPECT_EQ(HttpGet(client, "http://127.0.0.1:65616/").outcome,
            "Socket Error # 10049\r\nCannot assign requested address.");
  client.Proxy().server = "127.0.0.1";
  client.Proxy().port = 0;
  EXPECT_EQ(HttpGet(client, "http://desk.example/").outcome,
            "Socket Error # 10049\r\nCannot assign requested address.");
}

TEST(HttpClient, FetchPassesFailuresOn) {
  Client client(Quick());
  const std::string url = "http://127.0.0.1:" + std::to_string(testing::UnusedPort()) + "/";
  EXPECT_THROW(client.FetchText(url), HttpError);
  std::vector<char> buffer{'x'};
  EXPECT_THROW(client.FetchToBuffer(url, buffer), HttpError);
  EXPECT_TRUE(buffer.empty());
}

TEST(HttpClient, UnansweredConnectAttemptTimesOut) {
  // A listener whose accept queue is full drops further connection attempts
  // without answering them.
  const ravelto::testing::LoopbackListener listener = ravelto::testing::ListenLoopback(0);
  const int port = listener.port;
  std::vector<std::unique_ptr<Client>> fillers;
  std::string outcome;
  for (int i = 0; i < 8 && outcome != "Connect timed out."; ++i) {
    auto filler = std::make_unique<Client>(Timeouts{200ms, 50ms, 50ms});
    outcome = HttpGet(*filler, "http://127.0.0.1:" + std::to_string(port) + "/").outcome;
    fillers.push_back(std::move(filler));
  }
  ravelto::testing::CloseSocket(listener.fd);
  EXPECT_EQ(outcome, "Connect timed out.");
}

}  // namespace
}  // namespace ravelto::service
