// The request-service program itself on a loopback port: raw request lines as
// the desk sends them, the desk's own HTTP client, malformed requests,
// restarts, and kills in the middle of writing the state file.
#include <gtest/gtest.h>
#include <signal.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <random>
#include <thread>

#include "service/http_client.h"
#include "service/protocol.h"
#include "tests/tools/service_process.h"
#include "tools/request-service/state.h"

namespace ravelto::reqsvc {
namespace {

using testing::Cp;
using testing::PostForm;
using testing::RawExchange;
using testing::RawGet;
using testing::ServiceProcess;

const std::string kSeed = std::string(RAVELTO_TEST_DATA) + "/tools/seed-state.txt";

class ProcessTest : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = testing::MakeTempDir(); }
  void TearDown() override { std::filesystem::remove_all(dir_); }
  std::string StatePath() const { return dir_ + "/state.txt"; }
  std::string dir_;
};

TEST_F(ProcessTest, EveryEndpointAnswersTheDesksRawRequestLines) {
  std::filesystem::create_directory(dir_ + "/files");
  std::ofstream(dir_ + "/files/VFPOLEDBSetup.msi", std::ios::binary) << "MSI-bytes";
  ServiceProcess svc(REQSVC_BIN, StatePath(), kSeed, {"--files", dir_ + "/files"});
  const int port = svc.port();
  const std::string kid = "id=1002&pass=" + Cp("детская");

  struct Case {
    std::string target;
    std::string body;
  };
  const std::vector<Case> cases = {
      {"/medic/server.php?mode=login&" + kid, "1"},
      {"/medic/server.php?mode=ping", "ok"},
      {"/medic/home/list.php?" + kid + "&ver=21", "13,0#"},
      {"/medic/home/item.php?" + kid + "&item=13",
       "10150|0|07.12.2026 08:50:00|07.12.2026 08:50:00|+7 912 333-44-55|" + Cp("Одышка|Одышка") + "||||,odish=1"},
      {"/medic/home/save.php?obj=1002&pass=" + Cp("детская") + "&id=13&error=" + Cp("Обход_участка_(вечер)"), "ok"},
      {"/medic/home/list.php?" + kid + "&ver=21", "13,2#"},
      {"/medic/home/save.php?obj=1001&pass=demo&id=11&vzap=" + Cp("После_обеда") + "&doc=" +
           Cp("Петров_П.П.(61002)"),
       "ok"},
      {"/medic/home/list.php?id=1001&pass=demo&ver=21", "11,1#12,1#"},
      {"/upload/online.php?home=1", "23"},
      {"/upload/VFPOLEDBSetup.msi?654321", "MSI-bytes"},
  };
  for (const auto& c : cases) {
    const auto a = RawGet(port, c.target);
    EXPECT_EQ(a.status, 200) << c.target << "\n" << a.head;
    EXPECT_EQ(a.body, c.body) << c.target;
    EXPECT_NE(a.head.find("Content-Length: " + std::to_string(c.body.size())), std::string::npos) << a.head;
  }
  const auto list = RawGet(port, "/medic/home/list.php?id=1001&pass=demo&ver=21");
  EXPECT_NE(list.head.find("Content-Type: text/html; charset=windows-1251"), std::string::npos);
  EXPECT_EQ(list.head.find("Location"), std::string::npos) << "the desk takes any Location as a redirect";

  EXPECT_EQ(RawGet(port, "/upload/ravelto.exe?1").status, 404);
  const auto admin = RawGet(port, "/com/medadmin/kestova.php?id=1001&pass=demo");
  EXPECT_EQ(admin.status, 200);
  EXPECT_NE(admin.body.find(Cp("Петров_П.П.(61002), После_обеда")), std::string::npos);
  const auto form = RawGet(port, "/");
  EXPECT_NE(form.head.find("charset=utf-8"), std::string::npos);
  EXPECT_NE(form.body.find("name=\"s\" value=\"tosh\""), std::string::npos);

  const State saved = LoadStateFile(StatePath());
  EXPECT_EQ(saved.FindRequest(13)->reason, Cp("Обход_участка_(вечер)"));
  EXPECT_EQ(saved.FindRequest(11)->doctor, Cp("Петров_П.П.(61002)"));
}

TEST_F(ProcessTest, TheDesksOwnClientReadsListAndItem) {
  ServiceProcess svc(REQSVC_BIN, StatePath(), kSeed);
  const std::string base = "http://127.0.0.1:" + std::to_string(svc.port());
  const auto local = [&](const std::string& url) {
    return base + url.substr(service::RequestServiceBase.size());
  };
  service::Client client;
  // Two exchanges on one client: the service closes each connection and the
  // client must open a new one rather than read a stale answer.
  const auto list = service::ReadListAnswer(client.Get(local(service::ListUrl("1001", "demo"))));
  EXPECT_EQ(list.newIds, std::vector<std::string>{"11"});
  EXPECT_EQ(list.processedIds, std::vector<std::string>{"12"});
  const auto item = service::ReadItemAnswer(client.Get(local(service::ItemUrl("1001", "demo", "12"))));
  EXPECT_EQ(item[0], "10042");
  EXPECT_EQ(item[9], Cp("Семенова_О.В.(61003)"));
  EXPECT_EQ(client.Get(local(service::RejectUrl("1001", "demo", "11", Cp("Без_причины")))), "ok");
  EXPECT_EQ(client.Get(local(service::LoginUrl("1001", "demo"))), "1");
}

TEST_F(ProcessTest, TheServiceAlsoAnswersWhenSetAsTheDesksProxy) {
  // The desk's built-in addresses name port 8380; with its proxy set to the
  // service's port, it sends absolute targets, which the service serves
  // itself. End-to-end tests use this to run the service on any free port.
  ServiceProcess svc(REQSVC_BIN, StatePath(), kSeed);
  service::Client client;
  client.Proxy().server = "127.0.0.1";
  client.Proxy().port = svc.port();
  client.Proxy().basicAuth = true;
  EXPECT_EQ(client.Get(service::LoginUrl("1002", Cp("детская"))), "1");
  EXPECT_EQ(client.Get(service::ListUrl("1001", "demo")), "11,0#12,1#");
  EXPECT_EQ(client.FetchText(service::LatestVersionUrl()), "23");
}

TEST_F(ProcessTest, MalformedRequestsGetATextAndTheServiceKeepsRunning) {
  ServiceProcess svc(REQSVC_BIN, StatePath(), kSeed);
  const int port = svc.port();
  struct Case {
    std::string bytes;
    int status;
  };
  const std::vector<Case> cases = {
      // A raw space in a client code or password splits the request line.
      {"GET /medic/home/list.php?id=1001&pass=de mo&ver=21 HTTP/1.1\r\nHost: x\r\n\r\n", 400},
      {"GET /medic/home/list.php?id=1001&pass=a?b&ver=21 HTTP/1.1\r\nHost: x\r\n\r\n", 400},
      {"HELLO\r\n\r\n", 400},
      {"GET /" + std::string(10000, 'a') + " HTTP/1.1\r\nHost: x\r\n\r\n", 414},
      {"GET /medic/home/item.php?id=1001&pass=demo HTTP/1.1\r\nHost: x\r\n\r\n", 400},
      {"GET /medic/home/save.php?obj=1001&pass=demo&id=11 HTTP/1.1\r\nHost: x\r\n\r\n", 400},
  };
  for (const auto& c : cases) {
    const auto a = RawExchange(port, c.bytes);
    EXPECT_EQ(a.status, c.status) << c.bytes.substr(0, 80);
    EXPECT_FALSE(a.body.empty()) << "a readable reason: " << c.bytes.substr(0, 80);
  }
  // Half a request and a silent connection do not block others either.
  RawExchange(port, "GET /medic/server.php?mode=pi", 200);
  EXPECT_TRUE(svc.Alive());
  EXPECT_EQ(RawGet(port, "/medic/server.php?mode=login&id=1001&pass=demo").body, "1");
}

TEST_F(ProcessTest, StateSurvivesARestart) {
  int filed = 0;
  {
    ServiceProcess svc(REQSVC_BIN, StatePath(), kSeed);
    const auto a = PostForm(svc.port(), "clinic=1001&patient=10077&phone=123&text=%D0%B6%D0%B0%D1%80&s=tosh");
    ASSERT_EQ(a.status, 303) << a.head;
    filed = std::stoi(a.head.substr(a.head.find("filed=") + 6));
    EXPECT_EQ(RawGet(svc.port(), "/medic/home/save.php?obj=1001&pass=demo&id=11&error=x").body, "ok");
  }
  // The seed is read only for a missing state file.
  ServiceProcess again(REQSVC_BIN, StatePath(), "/nonexistent-seed");
  EXPECT_EQ(RawGet(again.port(), "/medic/home/list.php?id=1001&pass=demo&ver=21").body,
            "11,2#12,1#" + std::to_string(filed) + ",0#");
  EXPECT_EQ(RawGet(again.port(), "/medic/home/item.php?id=1001&pass=demo&item=" + std::to_string(filed)).body,
            "10077|0|" + LoadStateFile(StatePath()).FindRequest(filed)->filed + "|" +
                LoadStateFile(StatePath()).FindRequest(filed)->edited + "|123|" + Cp("жар|Тошнота, рвота") +
                "||||,tosh=1");
}

TEST_F(ProcessTest, AMissingOrDamagedStateFileStopsTheStartWithAReason) {
  EXPECT_THROW(ServiceProcess(REQSVC_BIN, StatePath(), "/nonexistent-seed"), std::runtime_error);
  std::ofstream(StatePath()) << "[request]\nid=1\nclinic=nowhere\nstatus=0\n";
  EXPECT_THROW(ServiceProcess(REQSVC_BIN, StatePath(), kSeed), std::runtime_error);
}

TEST_F(ProcessTest, AKillWhileWritingNeverLeavesAHalfWrittenStateFile) {
  std::mt19937 rng(7);
  std::size_t known = 3;
  for (int round = 0; round < 6; ++round) {
    ServiceProcess svc(REQSVC_BIN, StatePath(), kSeed);
    std::atomic<bool> stop{false};
    std::vector<std::thread> writers;
    for (int w = 0; w < 3; ++w) {
      writers.emplace_back([&, w] {
        const std::string text(400, 'a' + static_cast<char>(w));
        while (!stop) PostForm(svc.port(), "clinic=1001&patient=10001&phone=1&text=" + text);
      });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(std::uniform_int_distribution<int>(50, 250)(rng)));
    svc.Kill(SIGKILL);
    stop = true;
    for (auto& t : writers) t.join();
    State s;
    ASSERT_NO_THROW(s = LoadStateFile(StatePath())) << "round " << round;
    EXPECT_GE(s.requests.size(), known) << "a kill never loses what was already saved";
    known = s.requests.size();
  }
  EXPECT_GT(known, 3u) << "the writers got requests in";
}

}  // namespace
}  // namespace ravelto::reqsvc
