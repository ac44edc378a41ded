// The decision journal: decisions recorded with their answers and registry
// outcomes, a registry write refused under another process's lock and
// written once by "Повторить запись", a desk killed between the save query
// and the insert, a journal that cannot be opened, and the card's
// repeat-visit line.

#include <QCoreApplication>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QTableWidget>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include "app/journal/journal.h"
#include "app/journal_window.h"
#include "app/text_codec.h"
#include "card_fixture.h"
#include "lock_holder.h"
#include "registry/sql/statement_runner.h"
#include "registry/table/file_io.h"
#include "service/protocol.h"

namespace ravelto::app::testing {
namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

void ProcessEvents() {
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

// Live m1042 rows as python3-dbf counts them, with their data_vizc.
std::string PythonRows(const std::string& folder) {
  const QString script = QStringLiteral(
      "import dbf, sys\n"
      "t = dbf.Table(sys.argv[1] + '/m1042.dbf', codepage='cp1251')\n"
      "t.open(dbf.READ_ONLY)\n"
      "rows = [r for r in t if not dbf.is_deleted(r)]\n"
      "sys.stdout.write(str(len(rows)) + ':' + ','.join(r['data_vizc'].strip() for r in rows))\n"
      "t.close()\n");
  QProcess process;
  process.start(QFile::exists(QStringLiteral("/usr/bin/python3")) ? QStringLiteral("/usr/bin/python3") : QStringLiteral("python3"),
                {QStringLiteral("-c"), script, QString::fromStdString(folder)});
  if (!process.waitForFinished(30000) || process.exitCode() != 0) {
    return "python failed: " + process.readAllStandardError().toStdString();
  }
  return process.readAllStandardOutput().toStdString();
}

class JournalTest : public CardTest {
 protected:
  void TearDown() override {
    registry::SetLockRetryPolicy({});
    CardTest::TearDown();
  }
  TForm1& LoadCard(RoutingServer& server, const char* fragment = ",tosh=1") {
    server.Answer("/medic/home/item.php",
                  ItemBody({"101", "0", "t", "e", "8-900", "Температура", "marks", "", "", "",
                            fragment}));
    server.Answer("/medic/home/list.php", "501,1#");
    server.Answer("/medic/home/save.php", "ok");
    TForm1& form = MakeCardForm(server);
    ClickRequest(form, form.ListBox1, QStringLiteral("501"));
    return form;
  }
  std::vector<journal::Entry> TodaysEntries(TForm1& form) {
    return form.DecisionJournal()->Day("2026-12-07", "");
  }
};

TEST_F(JournalTest, DecisionsAreJournaledWithAnswerAndRegistryOutcome) {
  RoutingServer server;
  platform_.now = QDateTime(CardTest::Today(), QTime(9, 0, 0));
  TForm1& form = LoadCard(server);
  form.Guard([&] { form.Button1Click(); });  // written

  platform_.now = QDateTime(CardTest::Today(), QTime(9, 5, 0));
  form.Label32->setText(QStringLiteral(",nosuch=1"));  // the update fails
  form.Guard([&] { form.Button1Click(); });
  ASSERT_EQ(platform_.errors.size(), 1);

  platform_.now = QDateTime(CardTest::Today(), QTime(9, 10, 0));
  server.Answer("/medic/home/save.php", Cp1251("Заявка уже обработана"));
  form.Button2Click();

  const auto rows = TodaysEntries(form);
  ASSERT_EQ(rows.size(), 3u);
  // Newest first.
  EXPECT_EQ(rows[0].decision, journal::Decision::kReject);
  EXPECT_EQ(rows[0].decidedAt, "2026-12-07 09:10:00");
  EXPECT_EQ(rows[0].reason, Cp1251("Без_причины"));
  EXPECT_EQ(rows[0].serviceAnswer, Cp1251("Заявка уже обработана"));
  EXPECT_EQ(rows[0].registryState, journal::RegistryState::kNone);

  EXPECT_EQ(rows[1].registryState, journal::RegistryState::kFailed);
  EXPECT_NE(rows[1].registryMessage.find("nosuch"), std::string::npos) << rows[1].registryMessage;
  EXPECT_EQ(rows[1].fragment, ",nosuch=1");

  const journal::Entry& written = rows[2];
  EXPECT_EQ(written.registryState, journal::RegistryState::kWritten);
  EXPECT_EQ(written.requestId, "501");
  EXPECT_EQ(written.patientCode, "101");
  EXPECT_EQ(written.patientName, Cp1251("Иванов Иван Иванович"));
  EXPECT_EQ(written.doctor, Cp1251("Борисов_Б.Б.(61003)"));
  EXPECT_EQ(written.partOfDay, Cp1251("В_течение_дня"));
  EXPECT_EQ(written.serviceAnswer, "ok");
  EXPECT_EQ(written.values.memo, Cp1251("Температура"));
  EXPECT_EQ(written.values.address.street_f, Cp1251("Д'Артаньяна"));
  EXPECT_EQ(written.attempts, 1);

  // The wire is as without a journal: one save query per decision.
  EXPECT_EQ(server.UrlsTo("/medic/home/save.php").size(), 3u);
  EXPECT_EQ(platform_.messages, QStringList{U("Заявка уже обработана")});
}

TEST_F(JournalTest, WriteRefusedUnderAnotherProcessLockIsRetriedOnce) {
  RoutingServer server;
  TForm1& form = LoadCard(server);
  registry::SetLockRetryPolicy({3, std::chrono::milliseconds(1)});
  {
    LockHolder holder(RegistryDir() + "/m1042.dbf", 0x7FFFFFFE);  // the table lock
    form.Guard([&] { form.Button1Click(); });
  }
  ASSERT_EQ(platform_.errors.size(), 1);
  EXPECT_EQ(platform_.errors[0],
            U("Таблица m1042 занята другой программой. Запись в регистр не завершена. Решение отправлено в "
              "службу и сохранено в журнале: когда программа регистратуры освободит её, откройте «Журнал "
              "решений» и нажмите «Повторить запись».\nm1042.dbf"));
  EXPECT_EQ(PythonRows(RegistryDir()), "0:");

  JournalWindow window(form.DecisionJournal(), platform_.today,
                       [&](std::int64_t id) { form.RetryRegistryWrite(id); });
  ASSERT_EQ(window.Entries->rowCount(), 1);
  EXPECT_TRUE(window.Entries->item(0, 7)->text().startsWith(U("не записано в регистр")));
  auto* retry = qobject_cast<QPushButton*>(window.Entries->cellWidget(0, 6));
  ASSERT_NE(retry, nullptr);
  EXPECT_EQ(retry->text(), U("Повторить запись"));

  if (const char* shots = std::getenv("RAVELTO_SHOTS_DIR")) {
    window.show();
    ProcessEvents();
    window.grab().save(QString::fromLocal8Bit(shots) + QStringLiteral("/journal-pending.png"));
  }

  // The card now shows another patient: the retry uses the journaled values.
  form.Label24->setText(QStringLiteral("999"));
  retry->click();
  ProcessEvents();
  EXPECT_EQ(platform_.errors.size(), 1);
  EXPECT_EQ(PythonRows(RegistryDir()), "1:0");
  EXPECT_EQ(window.Entries->item(0, 7)->text(), U("записано"));
  EXPECT_EQ(window.Entries->cellWidget(0, 6), nullptr);
  EXPECT_FALSE(form.RetryRegistryWrite(TodaysEntries(form)[0].id));  // written: nothing more
  EXPECT_EQ(PythonRows(RegistryDir()), "1:0");
  EXPECT_EQ(TodaysEntries(form)[0].attempts, 2);
}

TEST_F(JournalTest, DeskKilledAfterTheSaveQueryLeavesAPendingWriteAnnouncedAtNextStart) {
  RoutingServer server;
  TForm1& form = LoadCard(server);
  const pid_t child = ::fork();
  if (child == 0) {
    form.AfterSaveQuery = [] { ::kill(::getpid(), SIGKILL); };
    form.Button1Click();
    ::_exit(0);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
  EXPECT_EQ(PythonRows(RegistryDir()), "0:");
  form_.reset();

  TForm1& next = MakeForm();
  next.show();
  ProcessEvents();
  ASSERT_TRUE(next.Activated());
  ASSERT_EQ(platform_.messages.size(), 1) << platform_.messages.join(QStringLiteral("|")).toStdString();
  EXPECT_EQ(platform_.messages[0],
            U("Не записаны в регистр принятые заявки (1): 501.\n"
              "Откройте «Журнал решений» и нажмите «Повторить запись»."));
  const auto rows = next.DecisionJournal()->PendingWrites();
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].serviceAnswer, "ok");  // the answer was recorded before the kill
  EXPECT_EQ(rows[0].registryState, journal::RegistryState::kPending);

  // Had the insert gone through before the desk died, the retry completes
  // that row instead of adding a second visit.
  registry::RunStatement(RegistryDir(), "insert into m1042 (kl, data_vizc) values (101, '112233')", false);
  EXPECT_TRUE(next.RetryRegistryWrite(rows[0].id));
  EXPECT_EQ(PythonRows(RegistryDir()), "1:0");
}

TEST_F(JournalTest, JournalThatCannotBeOpenedIsReportedOnceAndDecisionsGoOn) {
  ASSERT_TRUE(QDir(dir_.path()).mkdir(QString::fromLatin1(journal::kJournalFileName.data())));
  RoutingServer server;
  TForm1& form = LoadCard(server);
  form.Guard([&] { form.Button1Click(); });
  form.Guard([&] { form.Button1Click(); });
  ProcessEvents();
  EXPECT_TRUE(platform_.errors.isEmpty());
  EXPECT_EQ(PythonRows(RegistryDir()), "2:0,0");
  ASSERT_EQ(platform_.messages.size(), 1);
  EXPECT_TRUE(platform_.messages[0].startsWith(U("Журнал решений не записывается: файл журнала не открывается")))
      << platform_.messages[0].toStdString();
  EXPECT_TRUE(platform_.messages[0].endsWith(U("\nravelto-journal.db"))) << platform_.messages[0].toStdString();
}

TEST_F(JournalTest, JournalDamagedWhileItsWindowIsOpenIsShownInTheErrorBox) {
  RoutingServer server;
  TForm1& form = LoadCard(server);
  form.Guard([&] { form.Button1Click(); });
  ProcessEvents();
  bool shown = false;
  platform_.onDialog = [&](QDialog* dialog) {
    auto* window = static_cast<JournalWindow*>(dialog);
    shown = window->Entries->rowCount() == 1;
    QFile file(QDir(dir_.path()).filePath(QString::fromLatin1(journal::kJournalFileName.data())));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    file.write(QByteArray(100, 'x'));  // the database header
    file.close();
    // Choosing another day reads the journal again; its failure reaches the
    // error box instead of crossing the event loop.
    window->DayEdit->setDate(window->DayEdit->date().addDays(-1));
  };
  // Called bare: the dialog's own failures must not leave it.
  EXPECT_NO_THROW(form.N6Click());
  EXPECT_TRUE(shown);
  ASSERT_EQ(platform_.errors.size(), 1);
  EXPECT_TRUE(platform_.errors[0].startsWith(U("Журнал решений"))) << platform_.errors[0].toStdString();
}

TEST_F(JournalTest, RepeatVisitLineForAPatientWithTodaysRowOnly) {
  const auto visit = [&](long long kl, QDate day, QTime time) {
    const long long ms = QDate(1899, 12, 30).daysTo(day) * 86400000LL + time.msecsSinceStartOfDay();
    std::vector<std::pair<std::string, registry::Value>> values;
    values.emplace_back("kl", registry::Value::Number(static_cast<double>(kl), std::to_string(kl)));
    values.emplace_back("kw", registry::Value::Number(61003, "61003"));
    values.emplace_back("vr_z", registry::Value::DateTime(ms));
    registry::InsertRow(RegistryDir(), "m1042", std::move(values));
  };
  visit(101, CardTest::Today(), QTime(10, 15));
  visit(102, CardTest::Today().addDays(-1), QTime(10, 15));

  RoutingServer server;
  TForm1& form = LoadCard(server);
  EXPECT_FALSE(form.Label39->isHidden());
  EXPECT_EQ(form.Label39->text(), U("Вызов на сегодня уже записан: 10:15, Борисов Б.Б.(61003)"));

  server.Answer("/medic/home/item.php", ItemBody({"102", "0", "t", "e", "8", "m", "x", "", "", "", ""}));
  ClickRequest(form, form.ListBox1, QStringLiteral("502"));
  EXPECT_TRUE(form.Label39->isHidden());

  // A journal accept of today counts too (no registry row needed).
  platform_.now = QDateTime(CardTest::Today(), QTime(11, 40, 0));
  form.Button1Click();
  ClickRequest(form, form.ListBox1, QStringLiteral("502"));
  EXPECT_FALSE(form.Label39->isHidden());
  EXPECT_TRUE(form.Label39->text().startsWith(U("Вызов на сегодня уже записан: ")));

  // Screenshots for checking the layout by eye (only when asked for).
  if (const char* shots = std::getenv("RAVELTO_SHOTS_DIR")) {
    server.Answer("/medic/home/item.php",
                  ItemBody({"101", "0", "10:02", "e", "8-900", "Температура", "marks", "", "", "", ""}));
    ClickRequest(form, form.ListBox1, QStringLiteral("501"));
    form.show();
    ProcessEvents();
    form.grab().save(QString::fromLocal8Bit(shots) + QStringLiteral("/card-warning.png"));
    JournalWindow window(form.DecisionJournal(), platform_.today, [](std::int64_t) {});
    window.show();
    ProcessEvents();
    window.grab().save(QString::fromLocal8Bit(shots) + QStringLiteral("/journal-window.png"));
  }
}

}  // namespace
}  // namespace ravelto::app::testing
