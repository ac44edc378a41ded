// The settings checks driven through the real window: login, connection,
// database folder, department codes and the administration page.

#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>

#include "registry/gateway.h"
#include "registry/table/create_table.h"
#include "service/protocol.h"
#include "tests/maintenance/loopback_server.h"
#include "tests/maintenance/window_fixture.h"

namespace ravelto::maintenance::testing {
namespace {

std::string RequestLineFor(const std::string& url) { return "GET " + url + " HTTP/1.1"; }

// A registry folder whose ci003 holds one row per staff code.
void MakeStaffTable(const std::filesystem::path& folder, const std::vector<int>& codes) {
  std::filesystem::create_directories(folder);
  registry::CreateTable(folder.string(), "ci003", {{"kw", 'N', 5}, {"nb", 'C', 30}});
  registry::Connection connection;
  connection.SetConnectionString("Provider=VFPOLEDB;Data Source=" + folder.string() + ";");
  connection.SetConnected(true);
  registry::Query query(connection);
  for (int code : codes) {
    query.Clear();
    query.Add("INSERT INTO ci003 (kw, nb) VALUES (" + std::to_string(code) + ", 'x')");
    query.Execute();
  }
}

const char* const kDatabaseFailure =
    "Ошибка подключения к базе. Проверте установку ODBC FoxPRO либо путь к базе";

class ChecksTest : public WindowTest {};

TEST_F(ChecksTest, LoginSucceedsOnlyOnExactlyOneAndAlwaysWritesTheCodes) {
  struct Case {
    std::string answer;
    const char* message;
  };
  const Case cases[] = {
      {"1", "Авторизация прошла успешно!"},
      {"1 ", "Ошибка авторизации, проверьте код клиента либо пароль!1 "},
      {"01", "Ошибка авторизации, проверьте код клиента либо пароль!01"},
      {"", "Ошибка авторизации, проверьте код клиента либо пароль!"},
      {"wrong pass", "Ошибка авторизации, проверьте код клиента либо пароль!wrong pass"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.answer);
    LoopbackServer server([&](const std::string&) { return ScriptedAnswer{"HTTP/1.1 200 OK", c.answer}; });
    Lines config = ProxyTo(server.port());
    config.push_back("id=old");
    WriteConfigLines(config);
    const std::string before = ReadConfig();
    ResetPlatform();
    app::TForm1& form = OpenWindow();
    form.Edit2->setText(U8("1234"));
    form.Edit3->setText(U8("secret"));
    form.BitBtn1->click();

    EXPECT_EQ(platform_.messages, QStringList{U8(c.message)});
    EXPECT_EQ(server.requests(), Lines{RequestLineFor(service::LoginUrl("1234", "secret"))});
    EXPECT_EQ(SettingsLines(), (Lines{config[0], config[1], "id=1234", "pass=secret"}));
    EXPECT_EQ(ReadConfig(), before);
    EXPECT_EQ(form.StatusPanel(3)->text(), U8("ok"));
  }
}

TEST_F(ChecksTest, LoginWithoutServiceFailsBareAndStillWritesEmptyCodesAsRemovals) {
  Lines config = ProxyTo(ClosedPort());
  config.push_back("id=old");
  config.push_back("pass=oldpass");
  WriteConfigLines(config);
  app::TForm1& form = OpenWindow();
  form.Edit2->setText(QString());
  form.Edit3->setText(QString());
  form.BitBtn1->click();
  EXPECT_EQ(platform_.messages,
            QStringList{U8("Ошибка авторизации, проверьте код клиента либо пароль!")});
  EXPECT_EQ(SettingsLines(), (Lines{config[0], config[1]}));
  EXPECT_EQ(form.StatusPanel(3)->text(), U8("Socket Error # 10061\r\nConnection refused."));
}

TEST_F(ChecksTest, ConnectionCheckAppliesTheProxyFieldsFirstAndTakesAnyAnswer) {
  for (const std::string answer : {"pong", "0", ""}) {
    SCOPED_TRACE(answer);
    LoopbackServer server([&](const std::string&) { return ScriptedAnswer{"HTTP/1.1 200 OK", answer}; });
    WriteConfigLines({});  // no proxy at start: only the fields can route the ping
    ResetPlatform();
    app::TForm1& form = OpenWindow();
    form.Edit12->setText(U8("127.0.0.1"));
    form.Edit15->setText(QString::number(server.port()));
    form.SpeedButton4->click();
    EXPECT_EQ(server.requests(), Lines{RequestLineFor(service::PingUrl())});
    EXPECT_EQ(platform_.messages, QStringList{answer.empty() ? U8("Ошибка подключения")
                                                                     : U8("Соединение успешно установлено!")});
    EXPECT_TRUE(SettingsLines().empty());
    EXPECT_EQ(ReadConfig(), "");
  }
}

TEST_F(ChecksTest, ConnectionCheckWithABadPortShowsTheConversionFailureAndFetchesNothing) {
  LoopbackServer server([](const std::string&) { return ScriptedAnswer{"HTTP/1.1 200 OK", "pong"}; });
  WriteConfigLines(ProxyTo(server.port()));
  app::TForm1& form = OpenWindow();
  form.StatusPanel(3)->setText(U8("before"));
  form.Edit15->setText(U8("80a"));
  form.SpeedButton4->click();
  EXPECT_EQ(platform_.errors, QStringList{U8("'80a' is not a valid integer value.")});
  EXPECT_TRUE(platform_.messages.empty());
  EXPECT_TRUE(server.requests().empty());
  EXPECT_EQ(form.StatusPanel(3)->text(), U8("before"));
}

TEST_F(ChecksTest, DatabaseTestHasThreeOutcomesAndKeepsTheNewFolderInAnyCase) {
  const auto staffed = Folder() / "staffed";
  const auto empty = Folder() / "empty";
  const auto bare = Folder() / "bare";
  MakeStaffTable(staffed, {61001, 61002, 78026});
  MakeStaffTable(empty, {});
  std::filesystem::create_directories(bare);
  struct Case {
    std::filesystem::path path;
    QStringList messages;
    bool pathWritten;
  };
  const Case cases[] = {
      {staffed, {U8("Специалистов в учреждении: 3")}, true},
      {empty, {}, false},
      {bare, {U8(kDatabaseFailure)}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path.string());
    WriteConfigLines({"path=old"});
    ResetPlatform();
    app::TForm1& form = OpenWindow();
    form.Edit10->setText(QString::fromStdString(c.path.string()));
    // "path" is written only after the operator closed the box.
    Lines atBox;
    platform_.whileBoxOpen = [&]() { atBox = SettingsLines(); };
    form.BitBtn7->click();

    EXPECT_EQ(platform_.messages, c.messages);
    EXPECT_TRUE(platform_.errors.empty());
    if (!c.messages.empty()) {
      EXPECT_EQ(atBox, Lines{"path=old"});
    }
    EXPECT_EQ(SettingsLines(), Lines{c.pathWritten ? "path=" + c.path.string() : "path=old"});
    EXPECT_EQ(form.ADO.ConnectionString(), app::TForm1::ConnectionStringFor(c.path.string()));
    EXPECT_FALSE(form.ADO.Connected());
    EXPECT_EQ(ReadConfig(), "path=old\r\n");
  }
}

TEST_F(ChecksTest, DatabaseTestOnAMissingFolderGoesToTheErrorBox) {
  WriteConfigLines({"path=old"});
  app::TForm1& form = OpenWindow();
  const std::string missing = (Folder() / "no such folder").string();
  form.Edit10->setText(QString::fromStdString(missing));
  form.BitBtn7->click();
  EXPECT_TRUE(platform_.messages.empty());
  ASSERT_EQ(platform_.errors.size(), 1u);
  EXPECT_NE(platform_.errors[0], U8(kDatabaseFailure));
  EXPECT_EQ(form.ADO.ConnectionString(), app::TForm1::ConnectionStringFor(missing));
  EXPECT_FALSE(form.ADO.Connected());
  EXPECT_EQ(SettingsLines(), Lines{"path=old"});
}

TEST_F(ChecksTest, DepartmentCodesAreWrittenBeforeTheirQueriesAndCounted) {
  const auto registryFolder = Folder() / "registry";
  MakeStaffTable(registryFolder, {61001, 61002, 61999, 62000, 78026, 500});
  struct Case {
    const char* adult;
    const char* child;
    QStringList messages;
    Lines settings;  // after the click
  };
  const std::string path = "path=" + registryFolder.string();
  const Case cases[] = {
      {"61", "78",
       {U8("Найдено специалистов для взрослых: 3"), U8("Найдено специалистов для детей: 1")},
       {path, "kw=61", "kwd=78"}},
      {"63", "79",
       {U8("Специалистов для взрослых не найдено"), U8("Специалистов для детей не найдено")},
       {path, "kw=63", "kwd=79"}},
      {"0", "0", {}, {path, "kw=0", "kwd=0"}},
      // The empty code is not "0": its line goes and the block 000..999 is counted.
      {"", "0", {U8("Найдено специалистов для взрослых: 1")}, {path, "kwd=0"}},
      // Text that is not a whole number fails like a broken query: the child
      // code is neither written nor queried.
      {"61 or kw>0", "78", {U8(kDatabaseFailure)}, {path, "kw=61 or kw>0", "kwd=2"}},
      {"0", "7'8", {U8(kDatabaseFailure)}, {path, "kw=0", "kwd=7'8"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.adult) + "/" + c.child);
    WriteConfigLines({path, "kw=1", "kwd=2"});
    const std::string before = ReadConfig();
    ResetPlatform();
    app::TForm1& form = OpenWindow();
    form.Edit1->setText(U8(c.adult));
    form.Edit4->setText(U8(c.child));
    std::vector<Lines> atBoxes;
    platform_.whileBoxOpen = [&]() { atBoxes.push_back(SettingsLines()); };
    form.Button3->click();

    EXPECT_EQ(platform_.messages, c.messages);
    EXPECT_TRUE(platform_.errors.empty());
    EXPECT_EQ(SettingsLines(), c.settings);
    // The adult count is shown with "kw" written and "kwd" not yet.
    if (c.messages.size() == 2) {
      EXPECT_EQ(atBoxes[0], (Lines{path, std::string("kw=") + c.adult, "kwd=2"}));
    }
    EXPECT_FALSE(form.ADO.Connected());
    EXPECT_EQ(ReadConfig(), before);
  }
}

TEST_F(ChecksTest, DepartmentCodesWithoutStaffTableOrFolder) {
  const auto bare = Folder() / "bare";
  std::filesystem::create_directories(bare);
  WriteConfigLines({"path=" + bare.string()});
  app::TForm1& form = OpenWindow();
  form.Button3->click();
  EXPECT_EQ(platform_.messages, QStringList{U8(kDatabaseFailure)});
  EXPECT_EQ(SettingsLines(), (Lines{"path=" + bare.string(), "kw=61"}));
  EXPECT_FALSE(form.ADO.Connected());

  // A folder that cannot be opened: the error box, and nothing written.
  ResetPlatform();
  std::filesystem::remove(bare);
  form.Edit1->setText(U8("62"));
  form.Button3->click();
  EXPECT_TRUE(platform_.messages.empty());
  EXPECT_EQ(platform_.errors.size(), 1u);
  EXPECT_EQ(SettingsLines(), (Lines{"path=" + bare.string(), "kw=61"}));
}

TEST_F(ChecksTest, HospitalSettingsOpensTheAdministrationPageAndReportsNothing) {
  WriteConfigLines({});
  app::TForm1& form = OpenWindow();
  form.Edit2->setText(U8("77"));
  form.Edit3->setText(U8("p w"));
  form.N3->trigger();
  EXPECT_EQ(platform_.openedUrls, QStringList{app::ToQt(service::AdminPageUrl("77", "p w"))});
  EXPECT_TRUE(platform_.messages.empty());
  EXPECT_TRUE(platform_.errors.empty());
}

}  // namespace
}  // namespace ravelto::maintenance::testing
