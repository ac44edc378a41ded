// The request card: both list clicks and LoadRequest against a loopback
// service and a registry folder of real tables.

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>

#include "app/text_codec.h"
#include "card_fixture.h"
#include "scripted_server.h"
#include "service/protocol.h"

namespace ravelto::app::testing {
namespace {

QString U(const char* utf8) { return QString::fromUtf8(utf8); }

const char* const kPatient101[] = {
    "101", "0", "07.12.2026 09:15", "07.12.2026 09:20", "8-900-123-45-67",
    "Температура 38,5\r\nкашель", "Температура, кашель", "", "", "", ",tosh=1,odish=1"};

std::string Item101(const char* status = "0") {
  const char* const* s = kPatient101;
  return CardTest::ItemBody({s[0], status, s[2], s[3], s[4], s[5], s[6], "причина", "До обеда",
                             "Борисов Б.Б.(61003)", s[10]});
}

TEST_F(CardTest, NewRequestShowsTheServicesDataBesideThePatientsRecord) {
  RoutingServer server;
  server.Answer("/medic/home/item.php", Item101());
  TForm1& form = MakeCardForm(server);
  form.GroupBox5->hide();
  form.GroupBox6->hide();
  form.ListBox2->addItem(QStringLiteral("9"));
  form.ListBox2->setCurrentRow(0);

  form.ListBox1->addItem(QStringLiteral("501"));
  form.ListBox1->setCurrentRow(0);
  form.ListBox1Click();

  EXPECT_EQ(form.CurrentRequestId, "501");
  EXPECT_TRUE(form.ListBox2->selectedItems().isEmpty());
  EXPECT_FALSE(form.GroupBox5->isHidden());
  EXPECT_FALSE(form.GroupBox6->isHidden());
  EXPECT_TRUE(form.Panel3->isHidden());
  ASSERT_EQ(server.Urls().size(), 1u);
  EXPECT_EQ(server.Urls()[0], service::ItemUrl("17", "pw", "501"));
  EXPECT_TRUE(platform_.messages.isEmpty());
  EXPECT_FALSE(form.ADO.Connected());

  const struct {
    QLabel* label;
    QString text;
  } labels[] = {
      {form.Label24, U("101")},
      {form.Label26, U("0")},
      {form.Label25, U("07.12.2026 09:15")},
      {form.Label28, U("07.12.2026 09:20")},
      {form.Label15, U("8-900-123-45-67")},
      {form.Label16, U("Температура, кашель")},
      {form.Label32, U(",tosh=1,odish=1")},
      {form.Label4, U("Иванов Иван Иванович")},
      {form.Label7, U("г.Город Ленина 5 12")},
      {form.Label10, U("пос.Лесной Д'Артаньяна 7а 3")},
      {form.Label30, U("3")},
      {form.Label34, U("10.05.1990")},
      {form.Label36, U("36 лет")},
      {form.Label31, U("Label31")},  // status "0": the status line keeps its text
  };
  for (const auto& l : labels) EXPECT_EQ(l.label->text(), l.text) << l.label->objectName().toStdString();
  EXPECT_TRUE(form.Label32->isHidden());
  EXPECT_EQ(form.Memo1->toPlainText(), U("Температура 38,5\nкашель"));

  EXPECT_EQ(form.KeptAddress.stree1_f, "17");
  EXPECT_EQ(form.KeptAddress.street_f, Cp1251("Д'Артаньяна"));
  EXPECT_EQ(form.KeptAddress.house_f, Cp1251("7а"));
  EXPECT_EQ(form.KeptAddress.kv_f, "3");
  EXPECT_EQ(form.KeptAddress.kr_f, "2");
  EXPECT_EQ(form.KeptAddress.knacp_f, "44");
  EXPECT_EQ(form.KeptAddress.nnacp_f, Cp1251("пос.Лесной"));
  EXPECT_EQ(form.KeptDistrict, "3");

  // Adults by name, then children by name; the district doctor 61003 chosen.
  EXPECT_EQ(ComboItems(form.ComboBox1),
            (QStringList{U("Врач не указан"), U("Алексеева А.А.(61001)"), U("Борисов Б.Б.(61003)"),
                         U("Сидоров П.П.(61002)"), U("Борисов Б.Б.(78002)"),
                         U("Детская Д.Д.(78001)")}));
  EXPECT_EQ(form.ComboBox1->currentIndex(), 2);
}

TEST_F(CardTest, ProcessedRequestShowsItsStatusLine) {
  RoutingServer server;
  TForm1& form = MakeCardForm(server);
  const struct {
    const char* status;
    QString line;
  } cases[] = {
      {"1", U("Принят. Врач:Борисов Б.Б.(61003) Время:До обеда")},
      {"2", U("Отказ. Причина: причина")},
      {"0", U("Отказ. Причина: причина")},  // other statuses keep the line
      {"", U("Отказ. Причина: причина")},
  };
  for (const auto& c : cases) {
    server.Answer("/medic/home/item.php", Item101(c.status));
    ClickRequest(form, form.ListBox2, QStringLiteral("502"));
    EXPECT_EQ(form.Label31->text(), c.line) << c.status;
    EXPECT_EQ(form.Label26->text(), U(c.status));
    EXPECT_TRUE(form.GroupBox6->isHidden());
    EXPECT_FALSE(form.GroupBox5->isHidden());  // never hidden by a click
  }
  EXPECT_TRUE(platform_.errors.isEmpty());
}

TEST_F(CardTest, PatientNotFoundKeepsTheEarlierPatientsCardAndDistrictDoctor) {
  RoutingServer server;
  server.Answer("/medic/home/item.php", Item101());
  TForm1& form = MakeCardForm(server);
  ClickRequest(form, form.ListBox1, QStringLiteral("501"));
  ASSERT_EQ(form.Label4->text(), U("Иванов Иван Иванович"));

  server.Answer("/medic/home/item.php",
                ItemBody({"999", "1", "t", "e", "phone", "memo", "marks", "", "slot", "doc", ",x=1"}));
  ClickRequest(form, form.ListBox1, QStringLiteral("503"));

  EXPECT_TRUE(platform_.messages.isEmpty());  // not found is not a failure
  EXPECT_EQ(form.Label4->text(), U("Иванов Иван Иванович"));
  EXPECT_EQ(form.Label24->text(), U("101"));
  EXPECT_EQ(form.Label15->text(), U("8-900-123-45-67"));
  EXPECT_EQ(form.Label32->text(), U(",tosh=1,odish=1"));
  EXPECT_EQ(form.Label36->text(), U("36 лет"));
  EXPECT_EQ(form.Label31->text(), U("Принят. Врач:doc Время:slot"));  // set before the registry
  EXPECT_EQ(form.KeptAddress.stree1_f, "");
  EXPECT_EQ(form.KeptAddress.street_f, "");
  EXPECT_EQ(form.KeptDistrict, "3");
  EXPECT_EQ(form.ComboBox1->currentText(), U("Борисов Б.Б.(61003)"));
  EXPECT_EQ(form.CurrentRequestId, "503");
}

TEST_F(CardTest, DoctorsListFollowsTheDepartmentCodes) {
  RoutingServer server;
  // Patient 102's district doctor 78002 is a child doctor named like an adult one.
  server.Answer("/medic/home/item.php", ItemBody({"102", "0"}));
  TForm1& form = MakeCardForm(server);
  const struct {
    const char* adult;
    const char* child;
    QStringList items;
    int selected;
  } cases[] = {
      {"0", "0", {U("Врач не указан")}, 0},
      {"61", "0",
       {U("Врач не указан"), U("Алексеева А.А.(61001)"), U("Борисов Б.Б.(61003)"),
        U("Сидоров П.П.(61002)")},
       0},
      {"0", "78", {U("Врач не указан"), U("Борисов Б.Б.(78002)"), U("Детская Д.Д.(78001)")}, 1},
      // The empty code is not "0": it asks for the codes 000 to 999.
      {"", "0", {U("Врач не указан"), U("Старый код(500)")}, 0},
      {"61", "78",
       {U("Врач не указан"), U("Алексеева А.А.(61001)"), U("Борисов Б.Б.(61003)"),
        U("Сидоров П.П.(61002)"), U("Борисов Б.Б.(78002)"), U("Детская Д.Д.(78001)")},
       4},
  };
  for (const auto& c : cases) {
    form.Edit1->setText(U(c.adult));
    form.Edit4->setText(U(c.child));
    ClickRequest(form, form.ListBox1, QStringLiteral("504"));
    EXPECT_EQ(ComboItems(form.ComboBox1), c.items) << c.adult << "/" << c.child;
    EXPECT_EQ(form.ComboBox1->currentIndex(), c.selected) << c.adult << "/" << c.child;
  }
  EXPECT_TRUE(platform_.messages.isEmpty());
}

TEST_F(CardTest, LoadResetsTheDecisionControls) {
  RoutingServer server;
  server.Answer("/medic/home/item.php", ItemBody({"102", "0"}));
  TForm1& form = MakeCardForm(server);
  form.ComboBox1->addItem(QStringLiteral("stale"));
  form.ComboBox2->setCurrentIndex(2);
  form.ComboBox3->setCurrentIndex(3);
  form.Panel3->show();
  form.KeptAddress.kv_f = "stale";
  ClickRequest(form, form.ListBox1, QStringLiteral("505"));
  EXPECT_EQ(form.ComboBox2->currentIndex(), 0);
  EXPECT_EQ(form.ComboBox3->currentIndex(), 0);
  EXPECT_FALSE(ComboItems(form.ComboBox1).contains(QStringLiteral("stale")));
  EXPECT_TRUE(form.Panel3->isHidden());
  EXPECT_EQ(form.KeptAddress.kv_f, "");
  EXPECT_EQ(form.Label36->text(), U("6 лет"));  // born 15.01.2020
}

TEST_F(CardTest, AgeTextAtTheBoundaries) {
  RoutingServer server;
  server.Answer("/medic/home/item.php", ItemBody({"102", "0"}));
  TForm1& form = MakeCardForm(server);
  const QDate born(2020, 1, 15);
  const struct {
    int days;  // today minus the birth date
    const char* text;
  } cases[] = {
      {0, "до 1 года"},       {365, "до 1 года"},  {366, "1 год"},     {4018, "11 лет"},
      {6940, "19 лет"},       {7305, "20 лет"},    {7671, "21 год"},   {8036, "22 года"},
      {40543, "111 год"},     {40908, "112 года"}, {-366, "1 год"},    {-4018, "11 лет"},
  };
  for (const auto& c : cases) {
    platform_.today = born.addDays(c.days);
    ClickRequest(form, form.ListBox1, QStringLiteral("506"));
    EXPECT_EQ(form.Label36->text(), U(c.text)) << c.days;
  }
}

TEST_F(CardTest, PatientCodeThatIsNotAWholeNumberIsTreatedAsNotFoundQuery) {
  RoutingServer server;
  server.Answer("/medic/home/item.php", Item101());
  TForm1& form = MakeCardForm(server);
  ClickRequest(form, form.ListBox1, QStringLiteral("501"));
  ASSERT_TRUE(platform_.messages.isEmpty());

  // Spliced bare, "102 or 1=1" would select some patient as if it were the caller.
  for (const char* code : {"102 or 1=1", "102)", "", " 102"}) {
    platform_.messages.clear();
    server.Answer("/medic/home/item.php", ItemBody({code, "0", "t"}));
    ClickRequest(form, form.ListBox1, QStringLiteral("507"));
    EXPECT_EQ(platform_.messages, QStringList{U("Данной строки не найдено")}) << code;
    EXPECT_EQ(form.Label24->text(), U("101")) << code;
    EXPECT_EQ(form.Label4->text(), U("Иванов Иван Иванович")) << code;
    EXPECT_EQ(ComboItems(form.ComboBox1), QStringList{U("Врач не указан")}) << code;
    EXPECT_FALSE(form.ADO.Connected());
  }
}

TEST_F(CardTest, DepartmentCodeThatIsNotAWholeNumberEndsTheListWithTheMessage) {
  RoutingServer server;
  server.Answer("/medic/home/item.php", ItemBody({"102", "0"}));
  TForm1& form = MakeCardForm(server);
  form.Edit1->setText(QStringLiteral("61"));
  form.Edit4->setText(QStringLiteral("7 or kw>0 or kw="));
  ClickRequest(form, form.ListBox1, QStringLiteral("508"));
  EXPECT_EQ(platform_.messages, QStringList{U("Данной строки не найдено")});
  // The adult entries added before the refused query stay.
  EXPECT_EQ(ComboItems(form.ComboBox1).size(), 4);
  EXPECT_FALSE(form.ADO.Connected());
}

TEST_F(CardTest, FailedItemFetchShowsTheMessageAndKeepsTheCard) {
  WriteConfig(Config(ScriptedServer::RefusedPort()));
  TForm1& form = MakeForm();
  form.Label31->setText(QStringLiteral("line"));
  ClickRequest(form, form.ListBox1, QStringLiteral("509"));
  EXPECT_EQ(platform_.messages, QStringList{U("Данной строки не найдено")});
  EXPECT_EQ(form.StatusPanel(3)->text(), QStringLiteral("Socket Error # 10061\r\nConnection refused."));
  EXPECT_EQ(form.Label31->text(), QStringLiteral("line"));
  EXPECT_EQ(form.Label24->text(), QStringLiteral("Label24"));
}

TEST_F(CardTest, FailuresOfTheTwoListsAreHandledDifferently) {
  RoutingServer server;
  server.Answer("/medic/home/item.php", Item101("2"));
  WriteConfig("id=17\r\npass=pw\r\npath=" + RegistryDir() + "/missing\r\nproxy=127.0.0.1\r\nproxyport=" +
              std::to_string(server.Port()) + "\r\n");
  TForm1& form = MakeForm();

  // The connection cannot be opened: silent after a new request's click...
  ClickRequest(form, form.ListBox1, QStringLiteral("510"));
  EXPECT_TRUE(platform_.errors.isEmpty());
  EXPECT_TRUE(platform_.messages.isEmpty());
  EXPECT_TRUE(form.Panel3->isHidden());  // steps before the registry are done
  EXPECT_EQ(form.Label31->text(), U("Отказ. Причина: причина"));

  // ...the error box after a processed request's click.
  form.Guard([&] { ClickRequest(form, form.ListBox2, QStringLiteral("511")); });
  EXPECT_EQ(platform_.errors.size(), 1);
  EXPECT_TRUE(platform_.messages.isEmpty());
  EXPECT_EQ(form.CurrentRequestId, "511");
}

TEST_F(CardTest, ProcessedListFailuresReachTheErrorBoxThroughTheGuard) {
  RoutingServer server;
  server.Answer("/medic/home/item.php", Item101());
  TForm1& form = MakeCardForm(server);
  form.ListBox2->clear();
  form.Guard([&] { form.ListBox2Click(); });  // no selected item
  EXPECT_EQ(platform_.errors, QStringList{QStringLiteral("List index out of bounds (-1)")});
  EXPECT_TRUE(form.GroupBox6->isHidden());

  form.Guard([&] { form.ListBox1Click(); });  // the same on the new list: dropped
  EXPECT_EQ(platform_.errors.size(), 1);
}

}  // namespace
}  // namespace ravelto::app::testing
