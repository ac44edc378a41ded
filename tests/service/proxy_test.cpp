// Through a real HTTP proxy with Basic authentication: Debian's tinyproxy,
// started by the test on a free loopback port, in front of a scripted origin.

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "service/http_client.h"
#include "service/http_get.h"
#include "tests/service/scripted_server.h"

namespace ravelto::service {
namespace {

using namespace std::chrono_literals;
using testing::Answer;
using testing::Peer;
using testing::ScriptedServer;

constexpr const char* kProxyBinary = "/usr/bin/tinyproxy";

// Runs tinyproxy in the foreground for the test's lifetime.
class Tinyproxy {
 public:
  Tinyproxy() {
    char pattern[] = "/tmp/ravelto-proxy-XXXXXX";
    dir_ = ::mkdtemp(pattern);
    port_ = testing::UnusedPort();
    std::ofstream conf(dir_ + "/tinyproxy.conf");
    conf << "Port " << port_ << "\n"
         << "Listen 127.0.0.1\n"
         << "Timeout 30\n"
         << "LogLevel Connect\n"
         << "LogFile \"" << dir_ << "/tinyproxy.log\"\n"
         << "MaxClients 10\n"
         << "Allow 127.0.0.1\n"
         << "BasicAuth user pass\n";
    conf.close();
    pid_ = ::fork();
    if (pid_ == 0) {
      const std::string confPath = dir_ + "/tinyproxy.conf";
      ::freopen("/dev/null", "w", stdout);
      ::freopen("/dev/null", "w", stderr);
      ::execl(kProxyBinary, kProxyBinary, "-d", "-c", confPath.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
  }
  ~Tinyproxy() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      ::waitpid(pid_, nullptr, 0);
    }
    std::remove((dir_ + "/tinyproxy.conf").c_str());
    std::remove((dir_ + "/tinyproxy.log").c_str());
    ::rmdir(dir_.c_str());
  }
  int Port() const { return port_; }
  std::string Log() const {
    std::ifstream in(dir_ + "/tinyproxy.log");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
  }
  // Waits until the proxy accepts connections.
  bool WaitReady() const {
    for (int i = 0; i < 100; ++i) {
      Client probe(Timeouts{200ms, 200ms, 200ms});
      const std::string outcome = HttpGet(probe, "http://127.0.0.1:" + std::to_string(port_) + "/").outcome;
      if (outcome.rfind("Socket Error # 10061", 0) != 0) return true;
      std::this_thread::sleep_for(50ms);
    }
    return false;
  }

 private:
  std::string dir_;
  int port_ = 0;
  pid_t pid_ = -1;
};

TEST(HttpProxy, BasicAuthenticationThroughTinyproxy) {
  if (::access(kProxyBinary, X_OK) != 0) GTEST_SKIP() << "tinyproxy is not installed";
  ScriptedServer origin([](Peer& peer) {
    while (!peer.ReadHead().empty()) peer.Send(Answer("HTTP/1.1 200 OK", "Content-Length: 4\r\n", "\xEE\xEA\x21\x21"));
  });
  Tinyproxy proxy;
  ASSERT_TRUE(proxy.WaitReady());

  Client client;  // the real time-outs: a healthy proxy answers at once
  client.Proxy().server = "127.0.0.1";
  client.Proxy().port = proxy.Port();
  client.Proxy().user = "user";
  client.Proxy().password = "pass";
  client.Proxy().basicAuth = true;
  const std::string url = "http://127.0.0.1:" + std::to_string(origin.Port()) + "/medic/home/list.php?id=1&pass=2#x";

  // Right credentials: the body arrives from the origin.
  HttpGetResult result = HttpGet(client, url);
  EXPECT_EQ(result.outcome, "ok");
  EXPECT_EQ(result.body, "\xEE\xEA\x21\x21");
  // The absolute URI, port written, reached the proxy.
  EXPECT_NE(proxy.Log().find("GET http://127.0.0.1:" + std::to_string(origin.Port()) +
                             "/medic/home/list.php?id=1&pass=2 HTTP/1.1"),
            std::string::npos)
      << proxy.Log();
  ASSERT_FALSE(origin.Requests().empty());
  EXPECT_EQ(origin.Requests().back().rfind("GET /medic/home/list.php?id=1&pass=2 HTTP/1.", 0), 0u);

  // Wrong credentials: the proxy's refusal line is the outcome. (This proxy
  // refuses a wrong password with 401 and missing credentials with 407.)
  client.Proxy().password = "wrong";
  result = HttpGet(client, url);
  EXPECT_EQ(result.outcome, "HTTP/1.0 401 Unauthorized");
  EXPECT_EQ(result.body, "");

  client.Proxy().basicAuth = false;
  result = HttpGet(client, url);
  EXPECT_EQ(result.outcome, "HTTP/1.0 407 Proxy Authentication Required");
  EXPECT_EQ(result.body, "");
}

}  // namespace
}  // namespace ravelto::service
