// The request service's rules without sockets: text codec, raw query reading,
// the state file format, and every endpoint's answer through RequestService.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/tools/service_process.h"
#include "tools/request-service/raw_query.h"
#include "tools/request-service/service.h"
#include "tools/request-service/state.h"
#include "tools/request-service/text_codec.h"

namespace ravelto::reqsvc {
namespace {

using testing::Cp;

TEST(TextCodec, EveryWindows1251ByteSurvivesTheTripThroughUtf8) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(all)), all);
  EXPECT_EQ(Cp1251ToUtf8("\xC2\xFB\xE7\xEE\xE2 \xA8\xB8\xB9"), "Вызов Ёё№");
}

TEST(TextCodec, UnmappableAndBrokenUtf8BecomeQuestionMarks) {
  EXPECT_EQ(Utf8ToCp1251("a\xE4\xB8\xAD" "b"), "a?b");  // a CJK letter
  EXPECT_EQ(Utf8ToCp1251("a\xD0"), "a?");               // cut sequence
  EXPECT_EQ(Utf8ToCp1251("\xD0\x41"), "?A");            // bad continuation
  EXPECT_EQ(FormDecode("a+b%D0%92%2"), "a b\xD0\x92%2");
}

TEST(RawQuery, ValuesAreTakenAsSentWithoutDecoding) {
  const RawTarget t = ParseTarget("/medic/home/save.php?obj=1001&pass=a%41+b=c&id=&flag&pass=second&&error=" +
                                  Cp("Без_причины"));
  EXPECT_EQ(t.path, "/medic/home/save.php");
  EXPECT_EQ(t.Get("obj"), "1001");
  EXPECT_EQ(t.Get("pass"), "a%41+b=c");  // first one wins; '=' stays in the value
  EXPECT_EQ(t.Get("id"), "");
  EXPECT_EQ(t.Get("flag"), "");
  EXPECT_EQ(t.Get("error"), Cp("Без_причины"));
  EXPECT_FALSE(t.Get("vzap").has_value());
}

TEST(RawQuery, AbsoluteFormAndBareTargets) {
  struct Case {
    const char* target;
    const char* path;
    const char* query;
  };
  const Case cases[] = {
      {"http://127.0.0.1:8380/upload/online.php?home=1", "/upload/online.php", "home=1"},
      {"http://host:80?x=1", "/", "x=1"},
      {"http://host", "/", ""},
      {"/upload/ravelto.exe?123456", "/upload/ravelto.exe", "123456"},
      {"/", "/", ""},
      {"/?", "/", ""},
      {"/a?b?c", "/a", "b?c"},
  };
  for (const auto& c : cases) {
    const RawTarget t = ParseTarget(c.target);
    EXPECT_EQ(t.path, c.path) << c.target;
    EXPECT_EQ(t.query, c.query) << c.target;
  }
}

State SampleState() {
  State s;
  s.latest_version = 22;
  s.clinics = {{"1001", "demo", Cp("Поликлиника №1")}, {"1002", Cp("детская"), ""}};
  Request r;
  r.id = 7;
  r.clinic = "1001";
  r.status = "0";
  r.patient = "10003";
  r.filed = r.edited = "07.12.2026 08:00:00";
  r.phone = "+7 912";
  r.text = Cp("строка 1\r\nстрока\t2 \\n не перевод") + "\x01\x98|";
  r.marked = Cp("Кашель");
  r.fragment = ",kash=1";
  s.requests.push_back(r);
  s.next_id = 8;
  return s;
}

TEST(StateFile, SerializedStateParsesBackToTheSameValues) {
  const State s = SampleState();
  const std::string text = SerializeState(s);
  EXPECT_NE(text.find("name=Поликлиника №1\n"), std::string::npos) << "stored as readable UTF-8";
  const State back = ParseState(text, "mem");
  EXPECT_EQ(SerializeState(back), text);
  ASSERT_EQ(back.requests.size(), 1u);
  EXPECT_EQ(back.requests[0].text, s.requests[0].text);
  EXPECT_EQ(back.clinics[1].pass, s.clinics[1].pass);
  EXPECT_EQ(back.latest_version, 22);
}

TEST(StateFile, NextIdIsRaisedAboveTheLargestRequest) {
  const State s = ParseState("next-id=3\n[clinic]\ncode=1\n[request]\nid=40\nclinic=1\nstatus=0\n", "mem");
  EXPECT_EQ(s.next_id, 41);
}

TEST(StateFile, DamagedTextIsRefusedWithTheReason) {
  struct Case {
    const char* text;
    const char* expected;
  };
  const Case cases[] = {
      {"colour=red\n", "mem:1: unknown key \"colour\""},
      {"[clinic]\ncode=1\nkey\n", "mem:3: expected key=value"},
      {"[clinic]\ncode=1\nname=a\\qb\n", "mem:3: bad escape"},
      {"[clinic]\ncode=1\n[clinic]\ncode=1\n", "clinic 1 twice"},
      {"[clinic]\nname=x\n", "a clinic without a code"},
      {"[clinic]\ncode=1\n[request]\nid=5\nclinic=2\nstatus=0\n", "request 5 names an unknown clinic"},
      {"[clinic]\ncode=1\n[request]\nid=5\nclinic=1\nstatus=00\n", "request 5 has a status other than"},
      {"[clinic]\ncode=1\n[request]\nid=5\nclinic=1\nstatus=0\n[request]\nid=5\nclinic=1\nstatus=1\n",
       "request 5 twice"},
      {"[request]\nid=x\n", "mem:2: id is not a positive number"},
  };
  for (const auto& c : cases) {
    try {
      ParseState(c.text, "mem");
      ADD_FAILURE() << "accepted: " << c.text;
    } catch (const StateError& e) {
      EXPECT_NE(std::string(e.what()).find(c.expected), std::string::npos) << e.what();
    }
  }
}

std::vector<std::string> Slots(const std::string& body) {
  std::vector<std::string> out(1);
  for (char c : body) {
    if (c == '|') out.emplace_back();
    else out.back() += c;
  }
  return out;
}

class ServiceTest : public ::testing::Test {
 protected:
  ServiceTest() : service_(SampleState(), Config("")) {}

  static ServiceConfig Config(const std::string& state_path) {
    ServiceConfig c;
    c.state_path = state_path;
    c.clock = [] { return std::string("07.12.2026 09:30:00"); };
    return c;
  }
  Answer Get(const std::string& target) { return service_.Get(target); }

  RequestService service_;
};

TEST_F(ServiceTest, LoginPingVersionAndMalformedQueries) {
  struct Case {
    std::string target;
    int status;
    std::string body;
  };
  const std::vector<Case> cases = {
      {"/medic/server.php?mode=login&id=1001&pass=demo", 200, "1"},
      {"/medic/server.php?mode=login&id=1002&pass=" + Cp("детская"), 200, "1"},
      {"/medic/server.php?mode=login&id=1001&pass=Demo", 200, Cp("Неверный код клиента или пароль")},
      {"/medic/server.php?mode=login&id=9&pass=demo", 200, Cp("Неверный код клиента или пароль")},
      {"/medic/server.php?mode=ping", 200, "ok"},
      {"/medic/server.php?mode=login&id=1001", 400, Cp("Неверный запрос: нет ключа \"pass\"")},
      {"/medic/server.php", 400, Cp("Неверный запрос: нет ключа \"mode\"")},
      {"/medic/server.php?mode=x", 400, Cp("Неверный запрос: неизвестный режим \"x\"")},
      {"/upload/online.php?home=1", 200, "22"},
      {"/nowhere", 404, Cp("Нет такой страницы: /nowhere")},
  };
  for (const auto& c : cases) {
    const Answer a = Get(c.target);
    EXPECT_EQ(a.status, c.status) << c.target;
    EXPECT_EQ(a.body, c.body) << c.target;
    EXPECT_EQ(a.content_type, "text/html; charset=windows-1251");
  }
}

TEST_F(ServiceTest, ItemAnswerCarriesElevenSlotsWithoutStraySeparators) {
  const Answer a = Get("/medic/home/item.php?id=1001&pass=demo&item=7");
  ASSERT_EQ(a.status, 200);
  const std::string expected = "10003|0|07.12.2026 08:00:00|07.12.2026 08:00:00|+7 912|" +
                               Cp("строка 1\r\nстрока\t2 \\n не перевод") + "\x01\x98/|" + Cp("Кашель") +
                               "||||,kash=1";
  EXPECT_EQ(a.body, expected);
}

TEST_F(ServiceTest, OtherClinicsRequestsAreNeitherListedNorShown) {
  EXPECT_EQ(Get("/medic/home/list.php?id=1002&pass=" + Cp("детская") + "&ver=21").body, "");
  EXPECT_EQ(Get("/medic/home/item.php?id=1002&pass=" + Cp("детская") + "&item=7").status, 404);
  EXPECT_EQ(Get("/medic/home/item.php?id=1001&pass=demo&item=8").status, 404);
  EXPECT_EQ(Get("/medic/home/item.php?id=1001&pass=x&item=7").status, 403);
  EXPECT_EQ(Get("/medic/home/list.php?id=1001&pass=x&ver=21").status, 403);
  EXPECT_EQ(Get("/medic/home/save.php?obj=1002&pass=" + Cp("детская") + "&id=7&error=x").body,
            Cp("Заявка 7 не найдена"));
}

TEST_F(ServiceTest, DecisionsChangeStatusAndTheSlotsTheDeskShows) {
  const std::string item = "/medic/home/item.php?id=1001&pass=demo&item=7";
  EXPECT_EQ(Get("/medic/home/list.php?id=1001&pass=demo&ver=21").body, "7,0#");

  EXPECT_EQ(Get("/medic/home/save.php?obj=1001&pass=demo&id=7&error=" + Cp("Без_причины")).body, "ok");
  EXPECT_EQ(Get("/medic/home/list.php?id=1001&pass=demo&ver=21").body, "7,2#");
  std::vector<std::string> slots = Slots(Get(item).body);
  ASSERT_EQ(slots.size(), 11u);
  EXPECT_EQ(slots[1], "2");
  EXPECT_EQ(slots[3], "07.12.2026 09:30:00");  // last edit
  EXPECT_EQ(slots[7], Cp("Без_причины"));
  EXPECT_EQ(slots[8] + slots[9], "");
  EXPECT_EQ(slots[10], ",kash=1");

  // A processed request can be decided again; accept clears the reason.
  const std::string doc = Cp("Иванова_А.П.(61001)");
  EXPECT_EQ(Get("/medic/home/save.php?obj=1001&pass=demo&id=7&vzap=" + Cp("До_обеда") + "&doc=" + doc).body, "ok");
  EXPECT_EQ(Get("/medic/home/list.php?id=1001&pass=demo&ver=21").body, "7,1#");
  slots = Slots(Get(item).body);
  ASSERT_EQ(slots.size(), 11u);
  EXPECT_EQ(slots[1], "1");
  EXPECT_EQ(slots[7], "");
  EXPECT_EQ(slots[8], Cp("До_обеда"));
  EXPECT_EQ(slots[9], doc);
  EXPECT_EQ(service_.Snapshot().requests[0].decided, "07.12.2026 09:30:00");
}

TEST_F(ServiceTest, SaveRefusalsAreReadableTexts) {
  struct Case {
    std::string target;
    int status;
    std::string body;
  };
  const std::vector<Case> cases = {
      {"/medic/home/save.php?obj=1001&pass=bad&id=7&error=x", 200, Cp("Неверный код клиента или пароль")},
      {"/medic/home/save.php?obj=1001&pass=demo&id=77&error=x", 200, Cp("Заявка 77 не найдена")},
      {"/medic/home/save.php?obj=1001&pass=demo&id=abc&error=x", 200, Cp("Заявка abc не найдена")},
      {"/medic/home/save.php?obj=1001&pass=demo&id=7", 400,
       Cp("Неверный запрос: нужен ключ \"error\" (отказ) или \"vzap\" и \"doc\" (принятие)")},
      {"/medic/home/save.php?pass=demo&id=7&error=x", 400, Cp("Неверный запрос: нет ключа \"obj\"")},
  };
  for (const auto& c : cases) {
    const Answer a = Get(c.target);
    EXPECT_EQ(a.status, c.status) << c.target;
    EXPECT_EQ(a.body, c.body) << c.target;
  }
  EXPECT_EQ(service_.Snapshot().requests[0].status, "0");
}

TEST_F(ServiceTest, FormFilesANewRequestThatTheNextPollLists) {
  // Symptoms come in the order of the form, whatever order the browser used.
  const Answer a = service_.PostForm(
      "clinic=1001&patient=+10042+&phone=%2B7+900+1&text=%D0%9A%D0%B0%D1%88%D0%B5%D0%BB%D1%8C+%27%7C%27"
      "&s=kash&s=tosh&s=drop_table");
  ASSERT_EQ(a.status, 303) << a.body;
  EXPECT_EQ(a.location, "/?filed=8");
  EXPECT_EQ(Get("/medic/home/list.php?id=1001&pass=demo&ver=21").body, "7,0#8,0#");
  EXPECT_EQ(Get("/medic/home/item.php?id=1001&pass=demo&item=8").body,
            "10042|0|07.12.2026 09:30:00|07.12.2026 09:30:00|+7 900 1|" + Cp("Кашель ") + "\x92/\x92|" +
                Cp("Тошнота, рвота, Кашель") + "||||,tosh=1,kash=1");
  EXPECT_NE(Get("/?filed=8").body.find("Заявка №8 принята"), std::string::npos);
}

TEST_F(ServiceTest, FormRefusesWhatTheDeskCouldNotUse) {
  const char* bodies[] = {
      "clinic=1001&patient=1+or+1%3D1&phone=1&text=x",  // code spliced into SQL by the desk
      "clinic=1001&patient=1234567890&phone=1&text=x",
      "clinic=1001&patient=5&phone=&text=x",
      "clinic=1001&patient=5&phone=1%27&text=x",
      "clinic=1001&patient=5&phone=1&text=",
      "clinic=9999&patient=5&phone=1&text=x",
  };
  for (const char* body : bodies) {
    const Answer a = service_.PostForm(body);
    EXPECT_EQ(a.status, 400) << body;
    EXPECT_NE(a.body.find("class=\"err\""), std::string::npos) << body;
  }
  EXPECT_EQ(service_.Snapshot().requests.size(), 1u);
}

TEST(ServiceStorage, AFailedWriteKeepsTheOldStateAndSaysSo) {
  ServiceConfig c;
  c.state_path = "/nonexistent-folder/state.txt";
  RequestService service(SampleState(), c);
  EXPECT_EQ(service.Get("/medic/home/save.php?obj=1001&pass=demo&id=7&error=x").body,
            Cp("Решение не сохранено: ошибка записи на сервере заявок"));
  EXPECT_EQ(service.Snapshot().requests[0].status, "0");
  NewRequest in{"1001", "5", "1", "x", {}};
  EXPECT_THROW(service.File(in), StateError);
  EXPECT_EQ(service.Snapshot().requests.size(), 1u);
  EXPECT_EQ(service.Snapshot().next_id, 8);
}

TEST(ServiceStorage, EveryChangeIsOnDiskAtOnce) {
  const std::string dir = testing::MakeTempDir();
  ServiceConfig c;
  c.state_path = dir + "/state.txt";
  RequestService service(SampleState(), c);
  ASSERT_EQ(service.Get("/medic/home/save.php?obj=1001&pass=demo&id=7&vzap=a&doc=b").body, "ok");
  const State on_disk = LoadStateFile(c.state_path);
  EXPECT_EQ(on_disk.requests[0].status, "1");
  EXPECT_EQ(on_disk.requests[0].doctor, "b");
  EXPECT_FALSE(std::filesystem::exists(c.state_path + ".tmp"));
  std::filesystem::remove_all(dir);
}

TEST(ServiceDownloads, FilesComeFromTheFilesFolderOnly) {
  const std::string dir = testing::MakeTempDir();
  std::ofstream(dir + "/ravelto.exe", std::ios::binary) << std::string("MZ\0\x01", 4);
  ServiceConfig c;
  c.files_dir = dir;
  RequestService service(SampleState(), c);
  const Answer exe = service.Get("/upload/ravelto.exe?123456");
  EXPECT_EQ(exe.status, 200);
  EXPECT_EQ(exe.body, std::string("MZ\0\x01", 4));
  EXPECT_EQ(exe.content_type, "application/octet-stream");
  EXPECT_EQ(service.Get("/upload/VFPOLEDBSetup.msi?5").status, 404);
  EXPECT_EQ(service.Get("/upload/../ravelto.exe").status, 404);
  std::filesystem::remove_all(dir);
}

TEST(ServiceAdmin, PageListsTheClinicsRequestsInWindows1251) {
  RequestService service(SampleState(), {});
  const Answer a = service.Get("/com/medadmin/kestova.php?id=1001&pass=demo");
  EXPECT_EQ(a.status, 200);
  EXPECT_NE(a.body.find(Cp("<meta charset=\"windows-1251\">")), std::string::npos);
  EXPECT_NE(a.body.find("<td>10003</td>"), std::string::npos);
  EXPECT_NE(a.body.find(Cp("новая")), std::string::npos);
  EXPECT_EQ(service.Get("/com/medadmin/kestova.php?id=1001&pass=no").status, 403);
}

}  // namespace
}  // namespace ravelto::reqsvc
