// Rejecting and accepting a request: the save URL on the wire, the placeholder,
// the immediate poll, and the home-visit row in m1042 read back by the engine
// and by python3-dbf.

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProcess>

#include <map>

#include "app/desk/card_text.h"
#include "app/text_codec.h"
#include "card_fixture.h"
#include "service/protocol.h"

namespace ravelto::app::testing {
namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

std::string Base() { return std::string(service::RequestServiceBase); }

// m1042's rows as the engine reads them: column -> AsText, text trimmed.
std::vector<std::map<std::string, std::string>> VisitRows(const std::string& folder) {
  registry::Connection ado;
  ado.SetConnectionString(TForm1::ConnectionStringFor(folder));
  ado.SetConnected(true);
  registry::Query sql(ado);
  sql.Add("select * from m1042");
  sql.Open();
  std::vector<std::map<std::string, std::string>> rows;
  for (sql.First(); !sql.Eof(); sql.Next()) {
    std::map<std::string, std::string> row;
    for (int i = 0; i < sql.FieldCount(); ++i) {
      const std::string name = sql.FieldName(i);
      const std::string text = sql.AsText(name);
      row[name] = sql.FieldType(i) == 16 ? text : desk::TrimText(text);
    }
    rows.push_back(row);
  }
  return rows;
}

class DecisionTest : public CardTest {
 protected:
  // A loaded card for request 501 (patient 101) with the list answer "501,1#".
  TForm1& LoadCard(RoutingServer& server, const char* fragment = ",tosh=1,odish=1") {
    server.Answer("/medic/home/item.php",
                  ItemBody({"101", "0", "t", "e", "8-900-123-45-67", "Температура", "marks", "", "",
                            "", fragment}));
    server.Answer("/medic/home/list.php", "501,1#");
    TForm1& form = MakeCardForm(server);
    ClickRequest(form, form.ListBox1, QStringLiteral("501"));
    server.ClearUrls();
    return form;
  }
  static int Polls(const RoutingServer& server) {
    return static_cast<int>(server.UrlsTo("/medic/home/list.php").size());
  }
};

TEST_F(DecisionTest, RejectAnsweredOkCoversTheCardAndPolls) {
  RoutingServer server;
  TForm1& form = LoadCard(server);
  server.Answer("/medic/home/save.php", "ok");
  form.ComboBox3->setCurrentIndex(0);
  form.Button2Click();

  ASSERT_EQ(server.Urls().size(), 2u);
  EXPECT_EQ(server.Urls()[0],
            Base() + "/medic/home/save.php?obj=17&pass=pw&id=501&error=" + Cp1251("Без_причины"));
  EXPECT_FALSE(form.Panel3->isHidden());
  EXPECT_TRUE(platform_.messages.isEmpty());
  EXPECT_EQ(Polls(server), 1);
  EXPECT_EQ(form.ListBox2->item(0)->text(), QStringLiteral("501"));
  EXPECT_EQ(VisitRows(RegistryDir()).size(), 0u);
}

TEST_F(DecisionTest, RejectWithAnyOtherAnswerShowsItAndKeepsTheCard) {
  RoutingServer server;
  TForm1& form = LoadCard(server);
  const struct {
    const char* answer;
    const char* reason;
    const char* sent;
  } cases[] = {
      {"Заявка уже обработана", "Не  дозвонились ", "Не__дозвонились_"},
      {"", "x&y=z", "x&y=z"},  // an empty answer is shown as an empty box
      {"ok ", "a", "a"},
  };
  for (const auto& c : cases) {
    server.ClearUrls();
    platform_.messages.clear();
    server.Answer("/medic/home/save.php", Cp1251(c.answer));
    form.ComboBox3->setEditText(U(c.reason));
    form.Button2Click();
    EXPECT_EQ(platform_.messages, QStringList{U(c.answer)});
    EXPECT_TRUE(form.Panel3->isHidden()) << c.answer;
    EXPECT_EQ(server.Urls()[0], Base() + "/medic/home/save.php?obj=17&pass=pw&id=501&error=" +
                                    Cp1251(c.sent));
    EXPECT_EQ(Polls(server), 1);
  }
}

TEST_F(DecisionTest, AcceptReportsTheDecisionWritesTheRowAndPolls) {
  RoutingServer server;
  TForm1& form = LoadCard(server);
  server.Answer("/medic/home/save.php", "whatever");  // not examined
  form.ComboBox2->setCurrentIndex(0);
  ASSERT_EQ(form.ComboBox1->currentText(), U("Борисов Б.Б.(61003)"));
  form.Button1Click();

  ASSERT_GE(server.Urls().size(), 1u);
  EXPECT_EQ(server.Urls()[0], Base() + "/medic/home/save.php?obj=17&pass=pw&id=501&vzap=" +
                                  Cp1251("В_течение_дня&doc=Борисов_Б.Б.(61003)"));
  EXPECT_FALSE(form.Panel3->isHidden());
  EXPECT_TRUE(platform_.messages.isEmpty());
  EXPECT_TRUE(platform_.errors.isEmpty());
  EXPECT_FALSE(form.ADO.Connected());
  EXPECT_EQ(Polls(server), 1);
  EXPECT_EQ(form.ListBox2->item(0)->text(), QStringLiteral("501"));

  const auto rows = VisitRows(RegistryDir());
  ASSERT_EQ(rows.size(), 1u);
  const std::map<std::string, std::string> expected = {
      {"kl", "101"},
      {"data_vizc", "0"},
      {"kto", "ZUVA"},
      {"prich_v", Cp1251("Температура")},
      {"telef", "8-900-123-45-67"},
      {"stree1_f", "17"},
      {"street_f", Cp1251("Д'Артаньяна")},
      {"house_f", Cp1251("7а")},
      {"kv_f", "3"},
      {"kr_f", "2"},
      {"knacp_f", "44"},
      {"nnacp_f", Cp1251("пос.Лесной")},
      {"kw", "61003"},
      {"tosh", "1"},
      {"odish", "1"},
      {"bol_sp", "0"},
  };
  for (const auto& [column, value] : expected) EXPECT_EQ(rows[0].at(column), value) << column;
  EXPECT_EQ(rows[0].at("data_z"), "");          // a bare 0 stores the empty date
  EXPECT_FALSE(rows[0].at("vr_z").empty());    // DATETIME()
}

TEST_F(DecisionTest, NoDoctorChosenSendsItsTextAndWritesCodeZero) {
  RoutingServer server;
  TForm1& form = LoadCard(server, "");
  form.ComboBox1->setCurrentIndex(0);
  form.ComboBox2->setCurrentIndex(2);
  form.Button1Click();
  EXPECT_EQ(server.Urls()[0], Base() + "/medic/home/save.php?obj=17&pass=pw&id=501&vzap=" +
                                  Cp1251("После_обеда&doc=Врач_не_указан"));
  const auto rows = VisitRows(RegistryDir());
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].at("kw"), "0");
  EXPECT_EQ(rows[0].at("tosh"), "0");
  EXPECT_EQ(rows[0].at("data_vizc"), "0");
}

// The operator's memo, with every quote character, colons and line breaks,
// reaches m1042 exactly; python3-dbf, an independent reader, agrees.
TEST_F(DecisionTest, EditedMemoIsWrittenExactlyAndReadsBackInPythonDbf) {
  RoutingServer server;
  TForm1& form = LoadCard(server);
  const QString memo = U("It's \"38:5\" `жар` [срочно]:\nзвонить после 10:00 ';--");
  form.Memo1->setPlainText(memo);
  form.Button1Click();
  ASSERT_TRUE(platform_.errors.isEmpty()) << platform_.errors.join(QStringLiteral("|")).toStdString();

  QString expectedMemo = memo;
  expectedMemo.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
  const auto rows = VisitRows(RegistryDir());
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].at("prich_v"), FromQt(expectedMemo));

  const QString python =
      QFile::exists(QStringLiteral("/usr/bin/python3")) ? QStringLiteral("/usr/bin/python3")
                                                         : QStringLiteral("python3");
  const QString script = QStringLiteral(
      "import dbf, sys\n"
      "t = dbf.Table(sys.argv[1] + '/m1042.dbf', codepage='cp1251')\n"
      "t.open(dbf.READ_ONLY)\n"
      "r = t[0]\n"
      "for name in ('kl', 'data_vizc', 'prich_v', 'street_f', 'kw'):\n"
      "    v = r[name]\n"
      "    v = v.rstrip() if isinstance(v, str) and name != 'prich_v' else v\n"
      "    sys.stdout.write(name + '=' + str(v).encode('cp1251').hex() + '\\n')\n"
      "t.close()\n");
  QProcess process;
  process.start(python, {QStringLiteral("-c"), script, QString::fromStdString(RegistryDir())});
  ASSERT_TRUE(process.waitForFinished(30000));
  ASSERT_EQ(process.exitCode(), 0) << process.readAllStandardError().toStdString();
  const QString expected = QStringLiteral("kl=") + QString::fromLatin1(QByteArray("101").toHex()) +
                           QStringLiteral("\ndata_vizc=30\nprich_v=") +
                           QString::fromLatin1(QByteArray::fromStdString(FromQt(expectedMemo)).toHex()) +
                           QStringLiteral("\nstreet_f=") +
                           QString::fromLatin1(QByteArray::fromStdString(Cp1251("Д'Артаньяна")).toHex()) +
                           QStringLiteral("\nkw=") +
                           QString::fromLatin1(QByteArray("61003").toHex()) + QStringLiteral("\n");
  EXPECT_EQ(QString::fromLatin1(process.readAllStandardOutput()), expected);
}

TEST_F(DecisionTest, MarkerLeftByAFailedUpdateIsRepairedByTheNextAccept) {
  RoutingServer server;
  // The service names a column m1042 does not have: the insert succeeds, the
  // update fails and leaves the marker.
  TForm1& form = LoadCard(server, ",nosuch=1");
  form.Guard([&] { form.Button1Click(); });
  ASSERT_EQ(platform_.errors.size(), 1);
  EXPECT_TRUE(form.ADO.Connected());  // left open, closed by the next operation
  EXPECT_EQ(Polls(server), 0);        // the immediate poll does not run
  auto rows = VisitRows(RegistryDir());
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].at("data_vizc"), "112233");

  form.Label32->setText(QStringLiteral(",tosh=1"));
  form.Guard([&] { form.Button1Click(); });
  EXPECT_EQ(platform_.errors.size(), 1);
  EXPECT_FALSE(form.ADO.Connected());
  EXPECT_EQ(Polls(server), 1);
  rows = VisitRows(RegistryDir());
  ASSERT_EQ(rows.size(), 2u);
  for (const auto& row : rows) {
    EXPECT_EQ(row.at("data_vizc"), "0");
    EXPECT_EQ(row.at("tosh"), "1");
  }
}

// The fragment is checked before anything is written: a fragment that is not
// a list of assignments would otherwise change other rows or fail after the
// insert, leaving the marker behind.
TEST_F(DecisionTest, FragmentThatIsNotAListOfAssignmentsWritesNothing) {
  for (const char* fragment : {",tosh=1 WHERE kl=kl OR kl", ";DELETE FROM m1042", ",tosh=kl",
                               ",x=[a:b]"}) {
    RoutingServer server;
    TForm1& form = LoadCard(server, fragment);
    platform_.errors.clear();
    form.Guard([&] { form.Button1Click(); });
    ASSERT_EQ(platform_.errors.size(), 1) << fragment;
    EXPECT_TRUE(platform_.errors[0].contains(U("не является списком присваиваний"))) << fragment;
    EXPECT_TRUE(platform_.errors[0].endsWith(U("в m1042 ничего не записано."))) << fragment;
    EXPECT_EQ(VisitRows(RegistryDir()).size(), 0u) << fragment;
    EXPECT_EQ(server.UrlsTo("/medic/home/save.php").size(), 1u);  // the service was told
    EXPECT_FALSE(form.Panel3->isHidden());
    form_.reset();
  }
}

TEST_F(DecisionTest, AcceptWithoutAPatientOnTheCardWritesNothing) {
  RoutingServer server;
  server.Answer("/medic/home/list.php", "");
  {
    // Before any card: Label24 still holds its design caption.
    TForm1& form = MakeCardForm(server);
    form.CurrentRequestId = "1";
    form.Guard([&] { form.Button1Click(); });
    ASSERT_EQ(platform_.errors.size(), 1);
    EXPECT_EQ(platform_.errors[0], U("Код пациента \"Label24\" не является целым числом; в m1042 "
                                     "ничего не записано."));
    EXPECT_EQ(VisitRows(RegistryDir()).size(), 0u);
    form_.reset();
  }
  {
    // A patient who is not found leaves the kept address empty.
    platform_.errors.clear();
    TForm1& form = LoadCard(server);
    server.Answer("/medic/home/item.php", ItemBody({"999", "0"}));
    ClickRequest(form, form.ListBox1, QStringLiteral("502"));
    form.Guard([&] { form.Button1Click(); });
    ASSERT_EQ(platform_.errors.size(), 1);
    EXPECT_EQ(platform_.errors[0], U("Значение столбца stree1_f \"\" не является целым числом; в "
                                     "m1042 ничего не записано."));
    EXPECT_EQ(VisitRows(RegistryDir()).size(), 0u);
  }
}

TEST_F(DecisionTest, AcceptWhenTheRegistryCannotBeOpenedShowsTheFailure) {
  RoutingServer server;
  TForm1& form = LoadCard(server);
  form.ADO.SetConnectionString(TForm1::ConnectionStringFor(RegistryDir() + "/missing"));
  form.Guard([&] { form.Button1Click(); });
  EXPECT_EQ(platform_.errors.size(), 1);
  EXPECT_FALSE(form.ADO.Connected());
  EXPECT_FALSE(form.Panel3->isHidden());
  EXPECT_EQ(server.UrlsTo("/medic/home/save.php").size(), 1u);
  EXPECT_EQ(Polls(server), 0);
}

}  // namespace
}  // namespace ravelto::app::testing
