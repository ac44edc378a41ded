// Start-up: FormCreate's order and results, its failure path, the first
// activation's single poll, and the guard's error box.

#include <QCoreApplication>
#include <QEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QAction>
#include <QTabWidget>
#include <QTimer>
#include <QtTest/QTest>

#include <stdexcept>

#include "app/form1.h"
#include "app/settings_grid.h"
#include "form_fixture.h"
#include "scripted_server.h"

namespace ravelto::app::testing {
namespace {

using StartupTest = FormTest;

std::string ProxyConfig(int port) {
  return "proxy=127.0.0.1\r\nproxyport=" + std::to_string(port) + "\r\n";
}

TEST_F(StartupTest, FillsFieldsInOrderAndCoversTheCardPage) {
  WriteConfig(
      "ID=17\r\npass=pw\r\npath= C:\\\xCA\xEE\xF0\xE2\xE0\xED \r\nproxy=gate\r\n"
      "proxylogin=u\r\nproxypass=p\r\nproxyport=3128\r\nkw=12\r\nkwd=0\r\n");
  TForm1& form = MakeForm();

  const struct {
    QLineEdit* field;
    QString text;
  } expected[] = {
      {form.Edit2, QStringLiteral("17")},  // name matched ignoring case
      {form.Edit3, QStringLiteral("pw")},
      {form.Edit10, QStringLiteral(" C:\\Корван ")},  // blanks kept, cp1251 decoded
      {form.Edit12, QStringLiteral("gate")},
      {form.Edit13, QStringLiteral("u")},
      {form.Edit14, QStringLiteral("p")},
      {form.Edit15, QStringLiteral("3128")},
      {form.Edit1, QStringLiteral("12")},
      {form.Edit4, QStringLiteral("0")},
  };
  for (const auto& e : expected) EXPECT_EQ(e.field->text(), e.text) << e.field->objectName().toStdString();

  EXPECT_EQ(form.Client.Proxy().server, "gate");
  EXPECT_EQ(form.Client.Proxy().port, 3128);
  EXPECT_TRUE(form.Client.Proxy().basicAuth);
  EXPECT_EQ(form.ADO.ConnectionString(),
            "Provider=VFPOLEDB;Data Source= C:\\\xCA\xEE\xF0\xE2\xE0\xED ;Mode=ReadWrite;"
            "Password=\"\";Collating Sequence=RUSSIAN");
  EXPECT_EQ(form.PageControl1->currentIndex(), 0);
  EXPECT_EQ(form.Panel3->geometry(), form.TabSheet1->rect());
  EXPECT_EQ(form.TabSheet1->childAt(form.TabSheet1->rect().center()), form.Panel3);
  EXPECT_FALSE(form.Panel3->isHidden());

  const QString panels[] = {QStringLiteral("Версия"), QStringLiteral("21"), QStringLiteral("Сеть"),
                            QString(), QString()};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(form.StatusPanel(i)->text(), panels[i]) << i;

  EXPECT_FALSE(form.Timer1->isActive());
  EXPECT_EQ(form.Timer1->interval(), 30000);
  EXPECT_TRUE(form.Timer2->isActive());
  EXPECT_EQ(form.Timer2->interval(), 1000);
  EXPECT_TRUE(platform_.errors.isEmpty());
  EXPECT_EQ(form.ListBox1->count(), 0);
}

TEST_F(StartupTest, MissingOrOddFilesGiveEmptyFieldsAndDefaults) {
  const struct {
    const char* name;
    std::string config;  // empty: no file at all
  } cases[] = {
      {"no file", ""},
      {"only kwd=", "kwd=\r\n"},
      {"blanks around =", "id = 5\r\nkw =1\r\n"},
      {"byte-order mark", "\xEF\xBB\xBFid=5\r\n"},
  };
  for (const auto& c : cases) {
    QFile::remove(QStringLiteral("config.ini"));
    if (!c.config.empty()) WriteConfig(c.config);
    TForm1& form = MakeForm();
    EXPECT_EQ(form.Edit2->text(), QString()) << c.name;
    EXPECT_EQ(form.Edit1->text(), QStringLiteral("61")) << c.name;
    EXPECT_EQ(form.Edit4->text(), QStringLiteral("78")) << c.name;
    EXPECT_TRUE(platform_.errors.isEmpty()) << c.name;
    // Defaults go into the fields only, never into the list.
    EXPECT_EQ(form.Settings()->List().Value("kw"), "") << c.name;
  }
}

TEST_F(StartupTest, ProxyPortThatIsNoNumberStopsAfterTheProxyStep) {
  WriteConfig("path=C:\\reg\r\nproxy=gate\r\nproxylogin=u\r\nproxypass=p\r\nproxyport=80a\r\n");
  TForm1& form = MakeForm();

  EXPECT_EQ(platform_.errors, QStringList{QStringLiteral("'80a' is not a valid integer value.")});
  // Server and credentials were taken over before the port failed.
  EXPECT_EQ(form.Client.Proxy().server, "gate");
  EXPECT_EQ(form.Client.Proxy().user, "u");
  EXPECT_EQ(form.Client.Proxy().password, "p");
  EXPECT_EQ(form.Client.Proxy().port, 8080);
  EXPECT_FALSE(form.Client.Proxy().basicAuth);
  // Steps after the proxy were skipped.
  EXPECT_EQ(form.ADO.ConnectionString(), "");
  EXPECT_EQ(form.PageControl1->currentIndex(), 1);
  EXPECT_EQ(form.Panel3->size(), QSize(185, 41));
  // The fields and defaults before it were done.
  EXPECT_EQ(form.Edit10->text(), QStringLiteral("C:\\reg"));
  EXPECT_EQ(form.Edit4->text(), QStringLiteral("78"));
}

TEST_F(StartupTest, FirstActivationPollsOnceAndNeverAgain) {
  ScriptedServer server(OkAnswer("12,0#"));
  WriteConfig(ProxyConfig(server.Port()));
  TForm1& form = MakeForm();
  EXPECT_TRUE(server.Requests().empty());

  form.show();
  QTRY_VERIFY(form.Activated());
  EXPECT_TRUE(form.Timer1->isActive());
  EXPECT_EQ(form.Timer1->interval(), 30000);
  ASSERT_EQ(server.Requests().size(), 1u);
  EXPECT_EQ(form.ListBox1->count(), 1);

  // Focus going to a message box and back activates the window again; that
  // must not start another poll.
  for (int i = 0; i < 3; ++i) {
    QEvent deactivate(QEvent::WindowDeactivate);
    QCoreApplication::sendEvent(&form, &deactivate);
    QEvent activate(QEvent::WindowActivate);
    QCoreApplication::sendEvent(&form, &activate);
  }
  QCoreApplication::processEvents();
  EXPECT_EQ(server.Requests().size(), 1u);
}

TEST_F(StartupTest, ExitClosesAndMinimiseMinimises) {
  TForm1& form = MakeForm();
  form.show();
  QTRY_VERIFY(form.Activated());
  form.Button4->click();
  QTRY_VERIFY(form.isMinimized());
  form.N2->trigger();
  QTRY_VERIFY(!form.isVisible());
  EXPECT_TRUE(platform_.errors.isEmpty());
}

TEST(ErrorBox, AddsAFullStopOnlyAfterCharactersAboveIt) {
  const struct {
    std::string message;
    QString shown;
  } cases[] = {
      {"Read Timeout", QStringLiteral("Read Timeout.")},
      {"Done.", QStringLiteral("Done.")},
      {"", QString()},
      {"What?", QStringLiteral("What?.")},       // '?' is above '.'
      {"Stop!", QStringLiteral("Stop!")},        // '!' is below '.'
      {"a-", QStringLiteral("a-")},              // '-' is below '.'
      {"C:/dir/", QStringLiteral("C:/dir/.")},   // '/' is just above '.'
      {"10061\r\n", QStringLiteral("10061\r\n")},
      {"\xCE\xF8\xE8\xE1\xEA\xE0", QStringLiteral("Ошибка.")},  // high bytes count as above
      {"x)", QStringLiteral("x)")},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(TForm1::ErrorBoxText(c.message), c.shown) << c.message;
  }
}

TEST_F(StartupTest, GuardShowsEveryFailureAndGoesOn) {
  TForm1& form = MakeForm();
  form.Guard([] { throw std::runtime_error("Stream write error"); });
  form.Guard([] { throw 42; });
  bool ran = false;
  form.Guard([&] { ran = true; });
  EXPECT_TRUE(ran);
  ASSERT_EQ(platform_.errors.size(), 2);
  EXPECT_EQ(platform_.errors[0], QStringLiteral("Stream write error."));
  EXPECT_FALSE(platform_.errors[1].isEmpty());
}

}  // namespace
}  // namespace ravelto::app::testing
