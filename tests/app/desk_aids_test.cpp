// The operator's aids around the specified window: alerts on new requests,
// waiting times beside the ids, decisions by keys, the freshness panel, and
// the desk's own state file that keeps alerts and first-seen times.

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPushButton>
#include <QtTest/QTest>

#include "app/desk_state.h"
#include "app/text_codec.h"
#include "app/waiting_delegate.h"
#include "card_fixture.h"
#include "scripted_server.h"
#include "service/protocol.h"

namespace ravelto::app::testing {
namespace {

const QDateTime kT0(QDate(2026, 12, 7), QTime(10, 0, 0));

QString StateFile(const QTemporaryDir& dir) {
  return dir.filePath(QString::fromLatin1(DeskState::kFileName));
}

TEST(WaitingText, MinutesThenHoursAndLevels) {
  const struct {
    qint64 seconds;
    const char* text;
    WaitLevel level;
  } cases[] = {
      {-300, "0 мин", WaitLevel::kNormal},  // a clock set back
      {59, "0 мин", WaitLevel::kNormal},
      {12 * 60 + 59, "12 мин", WaitLevel::kNormal},
      {30 * 60 - 1, "29 мин", WaitLevel::kNormal},
      {30 * 60, "30 мин", WaitLevel::kAmber},
      {60 * 60, "1 ч 00 мин", WaitLevel::kAmber},
      {2 * 3600 - 1, "1 ч 59 мин", WaitLevel::kAmber},
      {2 * 3600, "2 ч 00 мин", WaitLevel::kRed},
      {2 * 3600 + 5 * 60, "2 ч 05 мин", WaitLevel::kRed},
      {27 * 3600 + 42 * 60, "27 ч 42 мин", WaitLevel::kRed},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(WaitingText(c.seconds), QString::fromUtf8(c.text)) << c.seconds;
    EXPECT_EQ(WaitLevelOf(std::max<qint64>(c.seconds, 0)), c.level) << c.seconds;
  }
}

TEST(DeskStateFile, KeepsSwitchesAndTimesAndSurvivesOddIdsAndDamage) {
  QTemporaryDir dir;
  const QString path = StateFile(dir);
  {
    DeskState state(path);
    EXPECT_TRUE(state.SoundOn());
    EXPECT_TRUE(state.FlashOn());
    state.SetFlashOn(false);
    const QStringList odd{QStringLiteral("7 7"), QStringLiteral("a\nb"), QStringLiteral("%=")};
    EXPECT_EQ(state.Observe(odd, {}, kT0), odd);
    EXPECT_EQ(state.Observe({QStringLiteral("7 7")}, {QStringLiteral("a\nb")}, kT0.addSecs(60)),
              QStringList());
  }
  {
    // Garbage lines are skipped, the good ones kept.
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::Append));
    file.write("seen=broken\nseen=x y z\nnonsense\n");
  }
  DeskState again(path);
  EXPECT_TRUE(again.SoundOn());
  EXPECT_FALSE(again.FlashOn());
  ASSERT_TRUE(again.Find(QStringLiteral("a\nb")).has_value());
  EXPECT_EQ(again.Find(QStringLiteral("a\nb"))->firstNew, kT0.toSecsSinceEpoch());
  EXPECT_EQ(again.Find(QStringLiteral("a\nb"))->leftNew, kT0.toSecsSinceEpoch() + 60);
  EXPECT_EQ(again.Find(QStringLiteral("7 7"))->leftNew, 0);
  EXPECT_FALSE(again.Find(QStringLiteral("x")).has_value());
  // Ids in neither list are forgotten a day after they were first seen.
  again.Observe({QStringLiteral("7 7")}, {}, kT0.addSecs(DeskState::kForgetAfterSeconds));
  EXPECT_TRUE(again.Find(QStringLiteral("%=")).has_value());
  again.Observe({QStringLiteral("7 7")}, {}, kT0.addSecs(DeskState::kForgetAfterSeconds + 1));
  EXPECT_FALSE(again.Find(QStringLiteral("%=")).has_value());
  EXPECT_TRUE(again.Find(QStringLiteral("7 7")).has_value());
}

using AlertTest = CardTest;

TEST_F(AlertTest, OneAlertPerNewIdNoneOnARepollAndSwitchesSurviveARestart) {
  RoutingServer server;
  server.Answer("/medic/home/list.php", "12,0#13,1#");
  platform_.now = kT0;
  WriteConfig(Config(server.Port()));
  const std::string config = ReadConfig();
  {
    TForm1& form = MakeForm();
    form.Timer1Timer();
    EXPECT_EQ(platform_.sounds, 1);
    EXPECT_EQ(platform_.flashes, 1);
    ASSERT_FALSE(platform_.waitingCounts.empty());
    EXPECT_EQ(platform_.waitingCounts.back(), 1);
    EXPECT_EQ(form.FreshnessPanel->text(), QStringLiteral("Список обновлён в 10:00:00"));

    form.Timer1Timer();  // the same ids again
    EXPECT_EQ(platform_.sounds, 1);
    EXPECT_EQ(platform_.flashes, 1);

    // Service silent: no alert, nothing forgotten, the panel says since when.
    form.Edit15->setText(QString::number(ScriptedServer::RefusedPort()));
    form.SetProxy();
    platform_.now = kT0.addSecs(60);
    form.Timer1Timer();
    platform_.now = kT0.addSecs(120);
    form.Timer1Timer();
    EXPECT_EQ(form.FreshnessPanel->text(), QStringLiteral("Служба не отвечает с 10:01:00"));
    EXPECT_EQ(form.FreshnessPanel->toolTip(), QStringLiteral("Последний ответ службы: 10:00:00"));
    EXPECT_NE(form.StatusPanel(3)->text(), QStringLiteral("ok"));
    EXPECT_EQ(platform_.waitingCounts.back(), 0);
    form.Edit15->setText(QString::number(server.Port()));
    form.SetProxy();
    form.Timer1Timer();
    EXPECT_EQ(platform_.sounds, 1);
    EXPECT_EQ(form.FreshnessPanel->text(), QStringLiteral("Список обновлён в 10:02:00"));

    // Two new ids in one poll: one alert; the sound switched off.
    form.SoundAction->setChecked(false);
    server.Answer("/medic/home/list.php", "12,0#14,0#15,0#13,1#");
    form.Timer1Timer();
    EXPECT_EQ(platform_.sounds, 1);
    EXPECT_EQ(platform_.flashes, 2);
    EXPECT_EQ(platform_.waitingCounts.back(), 3);
  }
  // A restart: the switch is kept, the ids are known; config.ini untouched.
  EXPECT_EQ(ReadConfig(), config);
  TForm1& form = MakeForm();
  EXPECT_FALSE(form.SoundAction->isChecked());
  EXPECT_TRUE(form.FlashAction->isChecked());
  form.Timer1Timer();
  EXPECT_EQ(platform_.flashes, 2);
  server.Answer("/medic/home/list.php", "16,0#");
  form.Timer1Timer();
  EXPECT_EQ(platform_.flashes, 3);
  EXPECT_EQ(platform_.sounds, 1);
}

using WaitingTest = CardTest;

// Counts the pixels of `colour` in a row of the list's rendering.
int PixelsOf(QListWidget* list, int row, const QColor& colour) {
  const QImage image = list->viewport()->grab().toImage();
  const QRect rect = list->visualItemRect(list->item(row));
  int n = 0;
  for (int y = rect.top(); y <= rect.bottom(); ++y) {
    for (int x = rect.left(); x <= rect.right(); ++x) {
      if (image.pixelColor(x, y) == colour) ++n;
    }
  }
  return n;
}

TEST_F(WaitingTest, TimeBesideTheIdRunsInColourAndStopsWhenDecided) {
  RoutingServer server;
  server.Answer("/medic/home/list.php", "12,0#13,0#");
  platform_.now = kT0;
  TForm1& form = MakeCardForm(server);
  form.Timer1Timer();
  platform_.now = kT0.addSecs(35 * 60);
  server.Answer("/medic/home/list.php", "12,0#13,0#14,0#");
  form.Timer1Timer();  // 14 first seen 35 minutes after the others
  platform_.now = kT0.addSecs(2 * 3600 + 5 * 60);
  form.show();

  // The lines keep the ids as their text and accessible text.
  ASSERT_EQ(form.ListBox1->count(), 3);
  EXPECT_EQ(form.ListBox1->item(0)->text(), QStringLiteral("12"));
  EXPECT_FALSE(form.ListBox1->item(0)->data(Qt::AccessibleTextRole).isValid());
  const auto badge = [&](int row) {
    return form.NewListDelegate->BadgeFor(form.ListBox1->item(row)->text());
  };
  EXPECT_EQ(badge(0).text, QStringLiteral("2 ч 05 мин"));
  EXPECT_EQ(badge(0).level, WaitLevel::kRed);
  EXPECT_EQ(badge(2).text, QStringLiteral("1 ч 30 мин"));
  EXPECT_EQ(badge(2).level, WaitLevel::kAmber);
  const QColor red = WaitBadgeColour(WaitLevel::kRed);
  const QColor amber = WaitBadgeColour(WaitLevel::kAmber);
  EXPECT_GT(PixelsOf(form.ListBox1, 0, red), 50);
  EXPECT_EQ(PixelsOf(form.ListBox1, 0, amber), 0);
  EXPECT_GT(PixelsOf(form.ListBox1, 2, amber), 50);
  EXPECT_EQ(PixelsOf(form.ListBox1, 2, red), 0);
  EXPECT_EQ(form.ListBox1->visualItemRect(form.ListBox1->item(0)).height(), 19);

  platform_.now = kT0.addSecs(10 * 60);
  EXPECT_EQ(badge(0).text, QStringLiteral("10 мин"));
  EXPECT_EQ(PixelsOf(form.ListBox1, 0, red) + PixelsOf(form.ListBox1, 0, amber), 0);

  // 12 decided at 2 h 05 min: in the processed list its wait stays there.
  platform_.now = kT0.addSecs(2 * 3600 + 5 * 60);
  server.Answer("/medic/home/list.php", "13,0#14,0#12,1#");
  form.Timer1Timer();
  platform_.now = kT0.addSecs(5 * 3600);
  ASSERT_EQ(form.ListBox2->item(0)->text(), QStringLiteral("12"));
  const auto done = form.ProcessedListDelegate->BadgeFor(QStringLiteral("12"));
  EXPECT_EQ(done.text, QStringLiteral("2 ч 05 мин"));
  EXPECT_EQ(done.level, WaitLevel::kDone);
  EXPECT_EQ(PixelsOf(form.ListBox2, 0, red), 0);
  EXPECT_EQ(form.ListBox2->visualItemRect(form.ListBox2->item(0)).height(), 13);

  // First-seen times survive a restart of the desk.
  form_.reset();
  TForm1& again = MakeCardForm(server);
  again.Timer1Timer();
  EXPECT_EQ(again.NewListDelegate->BadgeFor(QStringLiteral("13")).text,
            QStringLiteral("5 ч 00 мин"));
  EXPECT_EQ(platform_.sounds,
            2);  // 12 and 13 at first, 14 later; none after the restart
}

using KeyboardTest = CardTest;

// A key to whichever widget has the focus (the window when none has).
void Key(TForm1& form, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QWidget* target = QApplication::focusWidget();
  QTest::keyClick(target ? target : &form, key, modifiers);
}

std::string Underscored(const QString& text) {
  QString t = text;
  t.replace(QLatin1Char(' '), QLatin1Char('_'));
  return FromQt(t);
}

TEST_F(KeyboardTest, AcceptOneRequestAndRejectAnotherWithKeysOnly) {
  // Known from an earlier run: 501 waits 2 h 10 min, 502 40 min; 490 was
  // decided after 40 min. 503 is new to this desk.
  const qint64 t0 = kT0.toSecsSinceEpoch();
  {
    QFile state(StateFile(dir_));
    ASSERT_TRUE(state.open(QIODevice::WriteOnly));
    state.write(QStringLiteral("sound=1\nflash=1\nseen=490 %1 %2\nseen=501 %3 0\nseen=502 %4 0\n")
                    .arg(t0 - 3 * 3600)
                    .arg(t0 - 3 * 3600 + 40 * 60)
                    .arg(t0 - 2 * 3600 - 10 * 60)
                    .arg(t0 - 40 * 60)
                    .toLatin1());
  }
  RoutingServer server;
  server.Answer("/medic/home/list.php", "501,0#502,0#503,0#490,1#");
  server.Answer("/medic/home/item.php", ItemBody({"101", "0", "t", "e", "8-900-123-45-67",
                                                  "Температура", "marks", "", "", "", ",tosh=1"}));
  server.Answer("/medic/home/save.php", "ok");
  platform_.now = kT0;
  TForm1& form = MakeCardForm(server);
  form.show();
  QTRY_VERIFY(form.Activated());
  QTRY_COMPARE(form.ListBox1->count(), 3);  // the first activation's poll
  QTRY_VERIFY(form.isActiveWindow());
  EXPECT_EQ(platform_.sounds, 1);  // 503 only
  EXPECT_EQ(platform_.waitingCounts.back(), 3);

  // Ctrl+1 and an arrow open the first waiting request's card.
  Key(form, Qt::Key_1, Qt::ControlModifier);
  EXPECT_TRUE(form.ListBox1->hasFocus());
  Key(form, Qt::Key_Down);
  QTRY_COMPARE(form.CurrentRequestId, std::string("501"));
  EXPECT_EQ(form.Label4->text(), QStringLiteral("Иванов Иван Иванович"));
  EXPECT_TRUE(
      form.ListBox1->item(0)->toolTip().startsWith(QStringLiteral("Иванов Иван Иванович\n")))
      << form.ListBox1->item(0)->toolTip().toStdString();
  EXPECT_TRUE(form.ListBox1->item(0)->toolTip().contains(QStringLiteral("пос.Лесной")));
  if (const QByteArray shots = qgetenv("RAVELTO_SCREENSHOT_DIR"); !shots.isEmpty()) {
    const QString folder = QString::fromLocal8Bit(shots);
    form.grab().save(folder + QStringLiteral("/desk-waiting-times.png"));
    // The alerts' menu open over the window.
    const QPoint at = form.MainMenu1->actionGeometry(form.AlertsMenu->menuAction()).bottomLeft();
    form.AlertsMenu->popup(form.MainMenu1->mapToGlobal(at));
    QTRY_VERIFY(form.AlertsMenu->isVisible());
    QImage image = form.grab().toImage();
    QPainter painter(&image);
    painter.drawPixmap(form.MainMenu1->mapTo(&form, at), form.AlertsMenu->grab());
    painter.end();
    image.save(folder + QStringLiteral("/desk-alerts-menu.png"));
    form.AlertsMenu->hide();
  }

  // Doctor, part of day, the tab order to "Записать", and Ctrl+Enter.
  Key(form, Qt::Key_3, Qt::ControlModifier);
  EXPECT_TRUE(form.ComboBox1->hasFocus());
  Key(form, Qt::Key_Tab);
  EXPECT_TRUE(form.ComboBox2->hasFocus());
  Key(form, Qt::Key_Down);
  const QString partOfDay = form.ComboBox2->currentText();
  EXPECT_EQ(form.ComboBox2->currentIndex(), 1);
  Key(form, Qt::Key_Tab);
  EXPECT_TRUE(form.Button1->hasFocus());
  server.ClearUrls();
  server.Answer("/medic/home/list.php", "502,0#503,0#501,1#490,1#");
  Key(form, Qt::Key_Return, Qt::ControlModifier);
  ASSERT_FALSE(server.UrlsTo("/medic/home/save.php").empty());
  EXPECT_EQ(server.UrlsTo("/medic/home/save.php")[0],
            std::string(service::RequestServiceBase) +
                "/medic/home/save.php?obj=17&pass=pw&id=501&vzap=" + Underscored(partOfDay) +
                "&doc=" + Underscored(form.ComboBox1->currentText()));
  EXPECT_TRUE(platform_.errors.isEmpty()) << platform_.errors.join(QLatin1Char('|')).toStdString();

  // The focus is back on the new list, on its next waiting request.
  EXPECT_TRUE(form.ListBox1->hasFocus());
  EXPECT_EQ(form.ListBox1->currentRow(), 0);
  EXPECT_EQ(form.ListBox1->item(0)->text(), QStringLiteral("502"));
  // With the card covered, the decision keys do nothing.
  Key(form, Qt::Key_F8);
  Key(form, Qt::Key_Return, Qt::ControlModifier);
  EXPECT_EQ(server.UrlsTo("/medic/home/save.php").size(), 1u);

  Key(form, Qt::Key_Down);
  QTRY_COMPARE(form.CurrentRequestId, std::string("502"));
  Key(form, Qt::Key_5, Qt::ControlModifier);
  EXPECT_TRUE(form.ComboBox3->hasFocus());
  Key(form, Qt::Key_Down);
  const QString reason = form.ComboBox3->currentText();
  server.ClearUrls();
  server.Answer("/medic/home/list.php", "503,0#502,1#501,1#490,1#");
  Key(form, Qt::Key_F8);
  ASSERT_EQ(server.UrlsTo("/medic/home/save.php").size(), 1u);
  EXPECT_EQ(server.UrlsTo("/medic/home/save.php")[0],
            std::string(service::RequestServiceBase) +
                "/medic/home/save.php?obj=17&pass=pw&id=502&error=" + Underscored(reason));
  EXPECT_TRUE(form.ListBox1->hasFocus());

  // Enter opens the line the focus rests on.
  server.ClearUrls();
  Key(form, Qt::Key_Return);
  EXPECT_EQ(form.CurrentRequestId, "503");
  EXPECT_EQ(server.UrlsTo("/medic/home/item.php").size(), 1u);
  EXPECT_TRUE(form.ListBox1->item(0)->isSelected());

  // The keys are listed in the desk's help.
  form.KeysAction->trigger();
  ASSERT_EQ(platform_.messages.size(), 1);
  EXPECT_TRUE(platform_.messages[0].contains(QStringLiteral("F8 - \"Отклонить\"")));
}

}  // namespace
}  // namespace ravelto::app::testing
