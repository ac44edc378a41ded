// The request list poll against loopback servers (reached as the proxy), and
// the new-request banner with its surface.

#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTimer>
#include <QtTest/QTest>

#include "app/banner_surface.h"
#include "app/form1.h"
#include "form_fixture.h"
#include "scripted_server.h"
#include "service/protocol.h"

namespace ravelto::app::testing {
namespace {

using PollingTest = FormTest;

QStringList Items(const QListWidget* list) {
  QStringList items;
  for (int i = 0; i < list->count(); ++i) items << list->item(i)->text();
  return items;
}

std::string ProxyConfig(int port) {
  return "id=17\r\npass=pw\r\nproxy=127.0.0.1\r\nproxyport=" + std::to_string(port) + "\r\n";
}

TEST_F(PollingTest, AnswerFillsBothListsInOrder) {
  const struct {
    const char* body;
    QStringList fresh;
    QStringList processed;
  } cases[] = {
      {"12,0#13,1#14,2#", {QStringLiteral("12")}, {QStringLiteral("13"), QStringLiteral("14")}},
      {"12,0#13,0", {QStringLiteral("12")}, {}},  // no "#" after the last record
      {"12,0##", {QStringLiteral("12")}, {QString()}},
      {"5, 0#6,00#7#", {}, {QStringLiteral("5"), QStringLiteral("6"), QStringLiteral("7")}},
      {"<html>error</html>", {}, {}},
  };
  for (const auto& c : cases) {
    ScriptedServer server(OkAnswer(c.body));
    WriteConfig(ProxyConfig(server.Port()));
    TForm1& form = MakeForm();
    form.Timer1Timer();
    EXPECT_EQ(Items(form.ListBox1), c.fresh) << c.body;
    EXPECT_EQ(Items(form.ListBox2), c.processed) << c.body;
    EXPECT_EQ(form.StatusPanel(3)->text(), QStringLiteral("ok")) << c.body;
    ASSERT_EQ(server.Requests().size(), 1u);
    const std::string expectedLine = "GET " + service::ListUrl("17", "pw") + " HTTP/1.1\r\n";
    EXPECT_EQ(server.Requests()[0].rfind(expectedLine, 0), 0u) << server.Requests()[0];
  }
}

TEST_F(PollingTest, PollReadsTheFieldsAsTheyAreNow) {
  ScriptedServer server(OkAnswer(""));
  WriteConfig(ProxyConfig(server.Port()));
  TForm1& form = MakeForm();
  form.Edit2->setText(QStringLiteral("99"));  // edited, not saved
  form.Timer1Timer();
  ASSERT_EQ(server.Requests().size(), 1u);
  const std::string expectedLine = "GET " + service::ListUrl("99", "pw") + " HTTP/1.1\r\n";
  EXPECT_EQ(server.Requests()[0].rfind(expectedLine, 0), 0u) << server.Requests()[0];
}

TEST_F(PollingTest, FailedPollEmptiesTheListsAndShowsTheSocketError) {
  WriteConfig(ProxyConfig(ScriptedServer::RefusedPort()));
  TForm1& form = MakeForm();
  form.ListBox1->addItem(QStringLiteral("old"));
  form.ListBox2->addItem(QStringLiteral("old"));
  form.Timer1Timer();
  EXPECT_EQ(form.ListBox1->count(), 0);
  EXPECT_EQ(form.ListBox2->count(), 0);
  EXPECT_EQ(form.StatusPanel(3)->text(),
            QStringLiteral("Socket Error # 10061\r\nConnection refused."));
  EXPECT_TRUE(platform_.errors.isEmpty());  // no box for network failures

  // The next successful poll fills them again.
  ScriptedServer server(OkAnswer("12,0#"));
  form.Edit15->setText(QString::number(server.Port()));
  form.SetProxy();
  form.Timer1Timer();
  EXPECT_EQ(Items(form.ListBox1), QStringList{QStringLiteral("12")});
  EXPECT_EQ(form.StatusPanel(3)->text(), QStringLiteral("ok"));
}

TEST_F(PollingTest, PollLeavesTheCardAlone) {
  ScriptedServer server(OkAnswer("12,0#13,1#"));
  WriteConfig(ProxyConfig(server.Port()));
  TForm1& form = MakeForm();
  form.Timer1Timer();
  form.ListBox1->setCurrentRow(0);
  form.CurrentRequestId = "12";
  form.Panel3->hide();
  form.Label4->setText(QStringLiteral("Иванов"));

  form.Timer1Timer();
  EXPECT_EQ(form.ListBox1->currentRow(), -1);  // nothing selected after a poll
  EXPECT_EQ(form.CurrentRequestId, "12");
  EXPECT_TRUE(form.Panel3->isHidden());
  EXPECT_EQ(form.Label4->text(), QStringLiteral("Иванов"));
}

using BannerTest = FormTest;

TEST_F(BannerTest, DrawnEachTickOnlyWhileNewRequestsWait) {
  TForm1& form = MakeForm();
  form.Timer2Timer();
  EXPECT_TRUE(platform_.banners.isEmpty());

  form.ListBox1->addItem(QStringLiteral("12"));
  form.Timer2Timer();
  form.Timer2Timer();
  EXPECT_EQ(platform_.banners, (QStringList{QStringLiteral(" Заявка вызова "),
                                            QStringLiteral(" Заявка вызова ")}));

  // The running timer draws it too.
  form.Timer2->setInterval(5);
  QTRY_VERIFY(platform_.banners.size() > 2);

  form.ListBox1->clear();
  const auto drawn = platform_.banners.size();
  const int idleBefore = platform_.bannerIdleCalls;
  form.Timer2Timer();
  EXPECT_EQ(platform_.banners.size(), drawn);
  EXPECT_GT(platform_.bannerIdleCalls, idleBefore);
}

TEST(BannerSurface, SitsAtTheBottomRightAndIsReused) {
  const QString text = QStringLiteral(" Заявка вызова ");
  EXPECT_EQ(BannerOrigin(QSize(1920, 1080), 150), QPoint(1765, 980));

  BannerSurface surface;
  surface.Draw(text, QSize(1920, 1080));
  QLabel* window = surface.Window();
  ASSERT_NE(window, nullptr);
  const int width = QFontMetrics(BannerFont()).horizontalAdvance(text);
  EXPECT_EQ(window->geometry().right() + 1, 1920 - 5);
  EXPECT_EQ(window->geometry().top(), 980);
  EXPECT_EQ(window->width(), width);
  EXPECT_EQ(window->text(), text);
  EXPECT_TRUE(window->isVisible());
  EXPECT_EQ(window->palette().color(QPalette::Window), QColor(255, 0, 0));
  EXPECT_EQ(window->palette().color(QPalette::WindowText), QColor(255, 255, 255));
  EXPECT_EQ(window->font().family(), QStringLiteral("Arial"));
  EXPECT_EQ(window->font().pointSize(), 16);
  const Qt::WindowFlags flags = window->windowFlags();
  EXPECT_TRUE(flags & Qt::WindowStaysOnTopHint);
  EXPECT_TRUE(flags & Qt::WindowTransparentForInput);
  EXPECT_TRUE(flags & Qt::WindowDoesNotAcceptFocus);
  EXPECT_TRUE(flags & Qt::FramelessWindowHint);
  EXPECT_FALSE(window->testAttribute(Qt::WA_QuitOnClose));

  for (int i = 0; i < 100; ++i) surface.Draw(text, QSize(1280, 1024));
  EXPECT_EQ(surface.Window(), window);  // one window for every tick
  EXPECT_EQ(window->geometry().top(), 924);
  surface.Hide();
  EXPECT_FALSE(window->isVisible());
}

}  // namespace
}  // namespace ravelto::app::testing
