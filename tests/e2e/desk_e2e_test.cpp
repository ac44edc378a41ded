// The whole desk against the real programs: the request-service process on a
// free loopback port (reached through the desk's proxy setting, since the
// service answers absolute-form targets), a registry written by
// make-demo-registry, and the real TForm1 under the offscreen platform. A
// request filed through the service's patient form travels to the desk's
// lists, its card, the decision sent back to the service and, on accept, the
// m1042 row read back from the table files.

#include <QComboBox>
#include <QDate>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QProcess>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "app/form1.h"
#include "app/text_codec.h"
#include "registry/gateway.h"
#include "tests/app/recording_platform.h"
#include "tests/tools/service_process.h"

namespace ravelto::app::testing {
namespace {

using reqsvc::testing::Cp;
using reqsvc::testing::ServiceProcess;

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

std::string Trim(const std::string& s) {
  const size_t b = s.find_first_not_of(' ');
  if (b == std::string::npos) return "";
  return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

std::string Underscored(std::string s) {
  std::replace(s.begin(), s.end(), ' ', '_');
  return s;
}

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> out(1);
  for (char c : s) {
    if (c == sep) {
      out.emplace_back();
    } else {
      out.back() += c;
    }
  }
  return out;
}

// Runs a program to its end; returns its standard output (and the exit code).
std::string RunProgram(const QString& program, const QStringList& args, int* exitCode) {
  QProcess p;
  p.start(program, args);
  if (!p.waitForFinished(60000)) {
    p.kill();
    p.waitForFinished();
    *exitCode = -1;
    return {};
  }
  *exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  const QByteArray out = p.readAllStandardOutput();
  return std::string(out.constData(), static_cast<size_t>(out.size()));
}

using Row = std::map<std::string, std::string>;

class DeskEndToEnd : public ::testing::Test {
 protected:
  static QDate Today() { return QDate(2026, 12, 7); }

  void SetUp() override {
    dir_ = reqsvc::testing::MakeTempDir();
    registry_ = dir_ + "/registry";
    int rc = 0;
    RunProgram(QStringLiteral(DEMO_REGISTRY_BIN),
               {QString::fromStdString(registry_), QStringLiteral("--today"), QStringLiteral("2026-12-07")},
               &rc);
    ASSERT_EQ(rc, 0) << "make-demo-registry failed";

    service_ = std::make_unique<ServiceProcess>(REQSVC_BIN, dir_ + "/state.txt", REQSVC_SAMPLE_STATE);

    std::ofstream(dir_ + "/config.ini", std::ios::binary)
        << "id=1001\r\npass=demo\r\npath=" << registry_ << "\r\nproxy=127.0.0.1\r\nproxyport="
        << service_->port() << "\r\nkw=61\r\nkwd=78\r\n";
    oldDir_ = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(QString::fromStdString(dir_)));
  }

  void TearDown() override {
    form_.reset();
    service_.reset();  // SIGTERM and waitpid
    if (!oldDir_.isEmpty()) QDir::setCurrent(oldDir_);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  // Creates the window and activates it; its first poll fills the lists. The
  // poll timer is stopped afterwards: the test polls by calling Timer1Timer.
  TForm1& StartDesk() {
    platform_.today = Today();
    service::Timeouts timeouts;
    timeouts.connect = std::chrono::milliseconds(2000);
    timeouts.read = std::chrono::milliseconds(5000);
    timeouts.errorBody = std::chrono::milliseconds(500);
    form_ = std::make_unique<TForm1>(&platform_, timeouts);
    form_->show();
    EXPECT_TRUE(QTest::qWaitFor([this] { return form_->Activated(); }, 5000));
    form_->Timer1->stop();
    return *form_;
  }

  // Files a request on the service's patient form as a browser posts it;
  // returns the new request's id.
  std::string FileRequest(const std::string& urlencodedBody) {
    const auto answer = reqsvc::testing::PostForm(service_->port(), urlencodedBody);
    EXPECT_EQ(answer.status, 303) << answer.head << answer.body;
    const size_t at = answer.head.find("filed=");
    if (at == std::string::npos) return "?";
    std::string id;
    for (size_t i = at + 6; i < answer.head.size() && std::isdigit(static_cast<unsigned char>(answer.head[i])); ++i)
      id += answer.head[i];
    return id;
  }

  // The service's item record, split into its slots.
  std::vector<std::string> Item(const std::string& id) {
    return Split(reqsvc::testing::RawGet(service_->port(),
                                         "/medic/home/item.php?id=1001&pass=demo&item=" + id)
                     .body,
                 '|');
  }

  // Rows of a query over the registry folder, read by the engine: column ->
  // text, trimmed.
  std::vector<Row> Select(const std::string& statement) {
    registry::Connection ado;
    ado.SetConnectionString(TForm1::ConnectionStringFor(registry_));
    ado.SetConnected(true);
    registry::Query sql(ado);
    sql.Add(statement);
    sql.Open();
    std::vector<Row> rows;
    for (sql.First(); !sql.Eof(); sql.Next()) {
      Row row;
      for (int i = 0; i < sql.FieldCount(); ++i) row[sql.FieldName(i)] = Trim(sql.AsText(sql.FieldName(i)));
      rows.push_back(row);
    }
    ado.SetConnected(false);
    return rows;
  }

  static bool Lists(const QListWidget* list, const std::string& id) {
    return !list->findItems(QString::fromStdString(id), Qt::MatchExactly).isEmpty();
  }

  // Selects the request in the list and clicks it.
  void Click(QListWidget* list, const std::string& id) {
    const auto items = list->findItems(QString::fromStdString(id), Qt::MatchExactly);
    ASSERT_EQ(items.size(), 1);
    list->setCurrentItem(items.first());
    if (list == form_->ListBox1) {
      form_->ListBox1Click();
    } else {
      form_->ListBox2Click();
    }
  }

  std::string dir_;
  std::string registry_;
  QString oldDir_;
  std::unique_ptr<ServiceProcess> service_;
  RecordingPlatform platform_;
  std::unique_ptr<TForm1> form_;
};

TEST_F(DeskEndToEnd, FiledRequestIsListedShownAcceptedAndWrittenToTheRegistry) {
  TForm1& form = StartDesk();
  // The sample's new requests and decided ones, from the first poll.
  EXPECT_TRUE(Lists(form.ListBox1, "1001"));
  EXPECT_TRUE(Lists(form.ListBox2, "1003"));
  EXPECT_FALSE(Lists(form.ListBox1, "1003"));

  // Phone "+7 900 111-22-33", text "Кашель и слабость", two symptoms.
  const std::string id = FileRequest(
      "clinic=1001&patient=10077&phone=%2B7+900+111-22-33"
      "&text=%D0%9A%D0%B0%D1%88%D0%B5%D0%BB%D1%8C+%D0%B8+%D1%81%D0%BB%D0%B0%D0%B1%D0%BE%D1%81%D1%82%D1%8C"
      "&s=kash&s=slab");
  EXPECT_FALSE(Lists(form.ListBox1, id));
  form.Timer1Timer();
  ASSERT_TRUE(Lists(form.ListBox1, id)) << id;

  Click(form.ListBox1, id);
  ASSERT_TRUE(platform_.messages.isEmpty()) << platform_.messages.join(u'\n').toStdString();
  EXPECT_EQ(form.CurrentRequestId, id);

  const std::vector<Row> patient = Select("select * from m1005 where kl=10077");
  ASSERT_EQ(patient.size(), 1u);
  const Row& p = patient[0];
  EXPECT_EQ(form.Label24->text(), U("10077"));
  EXPECT_EQ(FromQt(form.Label4->text()), p.at("fiol") + " " + p.at("im") + " " + p.at("ot"));
  EXPECT_EQ(form.Label30->text().toStdString(), p.at("uch"));
  EXPECT_EQ(form.Label15->text(), U("+7 900 111-22-33"));
  EXPECT_EQ(form.Memo1->toPlainText(), U("Кашель и слабость"));
  EXPECT_EQ(form.Label16->text(), U("Кашель, Слабость, головокружение"));
  EXPECT_EQ(form.Label32->text(), U(",kash=1,slab=1"));

  // The district's doctor is preselected.
  const std::vector<Row> district = Select("select * from ci007 where kuch=" + p.at("uch"));
  ASSERT_EQ(district.size(), 1u);
  const std::string doctorCode = district[0].at("kw");
  const std::vector<Row> doctor = Select("select * from ci003 where kw=" + doctorCode);
  ASSERT_EQ(doctor.size(), 1u);
  const std::string doctorText = doctor[0].at("nb") + "(" + doctorCode + ")";
  EXPECT_EQ(FromQt(form.ComboBox1->currentText()), doctorText);

  form.ComboBox2->setCurrentIndex(1);  // "До обеда"
  form.Button1Click();
  EXPECT_TRUE(platform_.errors.isEmpty()) << platform_.errors.join(u'\n').toStdString();
  EXPECT_TRUE(platform_.messages.isEmpty()) << platform_.messages.join(u'\n').toStdString();
  EXPECT_FALSE(form.Panel3->isHidden());

  // The service holds the decision as sent.
  const std::vector<std::string> item = Item(id);
  ASSERT_EQ(item.size(), 11u);
  EXPECT_EQ(item[0], "10077");
  EXPECT_EQ(item[1], "1");
  EXPECT_EQ(item[8], Cp("До_обеда"));
  EXPECT_EQ(item[9], Underscored(doctorText));

  // The immediate poll moved it to the processed list.
  EXPECT_TRUE(Lists(form.ListBox2, id));
  EXPECT_FALSE(Lists(form.ListBox1, id));

  // Exactly one home-visit row, for this patient.
  const std::vector<Row> visits = Select("select * from m1042");
  ASSERT_EQ(visits.size(), 1u);
  const Row& v = visits[0];
  EXPECT_EQ(v.at("kl"), "10077");
  EXPECT_EQ(v.at("data_vizc"), "0");
  EXPECT_EQ(v.at("kto"), "ZUVA");
  EXPECT_EQ(v.at("kw"), doctorCode);
  EXPECT_EQ(v.at("telef"), "+7 900 111-22-33");
  EXPECT_EQ(v.at("prich_v"), Cp("Кашель и слабость"));
  EXPECT_EQ(v.at("street_f"), p.at("street_f"));
  EXPECT_EQ(v.at("house_f"), p.at("house_f"));
  for (const char* flag : {"tosh", "odish", "bol_sp", "bol_gol", "pov_nar", "kash", "nasm", "bol_gorl", "slab"}) {
    const bool marked = std::string(flag) == "kash" || std::string(flag) == "slab";
    EXPECT_EQ(v.at(flag), marked ? "1" : "0") << flag;
  }
  EXPECT_EQ(v.at("data_z"), "");   // the bare 0: the empty date
  EXPECT_NE(v.at("vr_z"), "");     // DATETIME() when the call was taken

  // The same row through the command-line tool.
  int rc = 0;
  const std::string out = RunProgram(
      QStringLiteral(REGISTRY_SQL_BIN),
      {QString::fromStdString(registry_), QStringLiteral("select * from m1042 where kash=1 and slab=1")}, &rc);
  EXPECT_EQ(rc, 0);
  EXPECT_NE(out.find("\n10077\t0     \tZUVA\t"), std::string::npos) << out;
  EXPECT_NE(out.find("\t" + doctorCode + "\t"), std::string::npos) << out;
  EXPECT_NE(out.find("\n1 row(s)"), std::string::npos) << out;

  // Its processed card shows the decision the service kept.
  Click(form.ListBox2, id);
  EXPECT_EQ(FromQt(form.Label31->text()),
            Cp("Принят. Врач:") + Underscored(doctorText) + Cp(" Время:") + Cp("До_обеда"));
  EXPECT_EQ(Select("select * from m1042").size(), 1u);
}

TEST_F(DeskEndToEnd, RejectedRequestShowsTheReasonAsStoredOnItsProcessedCard) {
  TForm1& form = StartDesk();
  const std::string id = FileRequest("clinic=1001&patient=10150&phone=555-01&text=abc&s=tosh&s=odish");
  form.Timer1Timer();
  ASSERT_TRUE(Lists(form.ListBox1, id)) << id;
  Click(form.ListBox1, id);
  EXPECT_EQ(form.Label24->text(), U("10150"));

  form.ComboBox3->setCurrentIndex(4);  // "Обход участка врачом на сегодня окончен"
  form.Button2Click();
  EXPECT_TRUE(platform_.messages.isEmpty()) << platform_.messages.join(u'\n').toStdString();
  EXPECT_TRUE(platform_.errors.isEmpty()) << platform_.errors.join(u'\n').toStdString();
  EXPECT_FALSE(form.Panel3->isHidden());

  const std::vector<std::string> item = Item(id);
  ASSERT_EQ(item.size(), 11u);
  EXPECT_EQ(item[1], "2");
  EXPECT_EQ(item[7], Cp("Обход_участка_врачом_на_сегодня_окончен"));

  ASSERT_TRUE(Lists(form.ListBox2, id));
  Click(form.ListBox2, id);
  EXPECT_TRUE(form.GroupBox6->isHidden());
  EXPECT_EQ(form.Label31->text(), U("Отказ. Причина: Обход_участка_врачом_на_сегодня_окончен"));
  // A rejection writes nothing to the registry.
  EXPECT_TRUE(Select("select * from m1042").empty());
}

}  // namespace
}  // namespace ravelto::app::testing
