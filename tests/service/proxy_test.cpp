// Through a real HTTP proxy with Basic authentication: Debian's tinyproxy,
// on a free loopback port, in front of a scripted origin. Natively the test
// starts tinyproxy itself. The Windows build cannot start this Linux program;
// there a CTest fixture (tinyproxy_fixture.sh) starts it on the build
// machine with the same configuration and names its folder in
// RAVELTO_PROXY_FIXTURE.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <thread>

#include "platform/files.h"
#include "platform/process.h"
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
constexpr const char* kFixtureVariable = "RAVELTO_PROXY_FIXTURE";

std::string ReadWhole(const std::string& path) {
  std::ifstream in(platform::NativePath(path), std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// A tinyproxy on 127.0.0.1 that lets "user"/"pass" through and logs every
// request line: started here in the foreground for the test's lifetime, or
// the fixture's, already running.
class Tinyproxy {
 public:
  // Starts tinyproxy.
  Tinyproxy() {
    std::random_device random;
    const auto base = std::filesystem::temp_directory_path();
    do {
      dir_ = platform::PathText(base / ("ravelto-proxy-" + std::to_string(random())));
    } while (!std::filesystem::create_directory(platform::NativePath(dir_)));
    owned_ = true;
    port_ = testing::UnusedPort();
    // tinyproxy_fixture.sh writes the same configuration.
    std::ofstream conf(platform::NativePath(dir_ + "/tinyproxy.conf"));
    conf << "Port " << port_ << "\n"
         << "Listen 127.0.0.1\n"
         << "Timeout 30\n"
         << "LogLevel Connect\n"
         << "LogFile \"" << dir_ << "/tinyproxy.log\"\n"
         << "MaxClients 10\n"
         << "Allow 127.0.0.1\n"
         << "BasicAuth user pass\n";
    conf.close();
    process_ = platform::ChildProcess(kProxyBinary, {"-d", "-c", dir_ + "/tinyproxy.conf"});
  }
  // The fixture's proxy, described in `dir`; port 0 when it left no port.
  explicit Tinyproxy(std::string dir) : dir_(std::move(dir)) {
    port_ = std::atoi(ReadWhole(dir_ + "/port").c_str());
  }
  ~Tinyproxy() {
    if (!owned_) return;
    process_.Kill();
    std::error_code ignored;
    std::filesystem::remove_all(platform::NativePath(dir_), ignored);
  }
  Tinyproxy(const Tinyproxy&) = delete;
  Tinyproxy& operator=(const Tinyproxy&) = delete;

  int Port() const { return port_; }
  std::string Log() const { return ReadWhole(dir_ + "/tinyproxy.log"); }
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
  bool owned_ = false;
  int port_ = 0;
  platform::ChildProcess process_;
};

TEST(HttpProxy, BasicAuthenticationThroughTinyproxy) {
  std::optional<Tinyproxy> proxy;
  if (const char* fixture = std::getenv(kFixtureVariable); fixture != nullptr && *fixture != '\0') {
    proxy.emplace(fixture);
    ASSERT_GT(proxy->Port(), 0) << "the proxy fixture left no port in " << fixture;
  } else {
#ifdef _WIN32
    GTEST_SKIP() << "tinyproxy is a Linux program: a Windows build uses the one the CTest fixture starts on the "
                    "build machine (run through ctest with tinyproxy installed there; the fixture sets "
                 << kFixtureVariable << ")";
#else
    if (!platform::FileExists(kProxyBinary)) GTEST_SKIP() << "tinyproxy is not installed";
    proxy.emplace();
#endif
  }
  ScriptedServer origin([](Peer& peer) {
    while (!peer.ReadHead().empty()) peer.Send(Answer("HTTP/1.1 200 OK", "Content-Length: 4\r\n", "\xEE\xEA\x21\x21"));
  });
  ASSERT_TRUE(proxy->WaitReady());

  Client client;  // the real time-outs: a healthy proxy answers at once
  client.Proxy().server = "127.0.0.1";
  client.Proxy().port = proxy->Port();
  client.Proxy().user = "user";
  client.Proxy().password = "pass";
  client.Proxy().basicAuth = true;
  const std::string url = "http://127.0.0.1:" + std::to_string(origin.Port()) + "/medic/home/list.php?id=1&pass=2#x";

  // Right credentials: the body arrives from the origin.
  HttpGetResult result = HttpGet(client, url);
  EXPECT_EQ(result.outcome, "ok");
  EXPECT_EQ(result.body, "\xEE\xEA\x21\x21");
  // The absolute URI, port written, reached the proxy.
  EXPECT_NE(proxy->Log().find("GET http://127.0.0.1:" + std::to_string(origin.Port()) +
                             "/medic/home/list.php?id=1&pass=2 HTTP/1.1"),
            std::string::npos)
      << proxy->Log();
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
