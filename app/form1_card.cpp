// The request card: ListBox1Click, ListBox2Click and LoadRequest. The text
// rules, statements and registry reads live in app/desk; this file moves
// their results into the widgets in the card's fixed order.

#include <QComboBox>
#include <QDate>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>

#include <stdexcept>

#include "app/desk/card_text.h"
#include "app/desk/registry_steps.h"
#include "app/form1.h"
#include "app/platform.h"
#include "app/text_codec.h"
#include "service/protocol.h"

namespace ravelto::app {

namespace {

// The text of the list's selected item; a list without one fails as an
// out-of-range item index does.
std::string SelectedText(const QListWidget* list) {
  const QList<QListWidgetItem*> selected = list->selectedItems();
  if (selected.isEmpty()) throw std::runtime_error("List index out of bounds (-1)");
  return FromQt(selected.first()->text());
}

void ClearSelection(QListWidget* list) {
  list->clearSelection();
  list->setCurrentItem(nullptr, QItemSelectionModel::NoUpdate);
}

// Card values come from the service and the registry: shown as plain text,
// never interpreted as markup.
void SetCardText(QLabel* label, const std::string& text) {
  label->setTextFormat(Qt::PlainText);
  label->setText(ToQt(text));
}

// The memo shows the service's CR LF line breaks as its own lines.
void SetMemoText(QPlainTextEdit* memo, const std::string& text) {
  QString shown = ToQt(text);
  shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  memo->setPlainText(shown);
}

// Days since 1899-12-30, the registry's date-time origin.
double DaySerial(const QDate& date) { return static_cast<double>(QDate(1899, 12, 30).daysTo(date)); }

}  // namespace

void TForm1::ListBox1Click() {
  try {
    GroupBox5->show();
    GroupBox6->show();
    ClearSelection(ListBox2);
    CurrentRequestId = SelectedText(ListBox1);
    LoadRequest(CurrentRequestId);
  } catch (...) {
    // A click on a new request never shows a failure: what was done stays.
  }
}

void TForm1::ListBox2Click() {
  GroupBox6->hide();
  ClearSelection(ListBox1);
  CurrentRequestId = SelectedText(ListBox2);
  LoadRequest(CurrentRequestId);
}

void TForm1::LoadRequest(const std::string& requestId) {
  KeptAddress = {};

  ComboBox1->clear();
  ComboBox1->addItem(QStringLiteral("Врач не указан"));
  ComboBox1->setCurrentIndex(0);
  ComboBox2->setCurrentIndex(0);
  ComboBox3->setCurrentIndex(0);
  Panel3->hide();
  Label39->hide();

  const std::string body =
      HttpGet(service::ItemUrl(FromQt(Edit2->text()), FromQt(Edit3->text()), requestId));
  const service::Fields item = service::ReadItemAnswer(body);

  if (const auto line = desk::StatusLine(item)) SetCardText(Label31, *line);

  // Opened outside the catch: a connection that cannot be opened is the
  // click handler's to report.
  ADO.SetConnected(true);
  bool patientFound = false;
  try {
    if (desk::RunQuery(SQL, desk::PatientQuery(item[0]))) {
      patientFound = true;
      SQL.First();
      SetCardText(Label25, item[2]);
      SetCardText(Label26, item[1]);
      SetCardText(Label28, item[3]);
      SetCardText(Label24, item[0]);
      SetCardText(Label15, item[4]);
      SetCardText(Label32, item[10]);
      SetMemoText(Memo1, item[5]);
      SetCardText(Label4, desk::JoinColumns(SQL, {"fiol", "im", "ot"}));
      SetCardText(Label7, desk::JoinColumns(SQL, {"nnacp", "street1", "house", "kv"}));
      SetCardText(Label10, desk::JoinColumns(SQL, {"nnacp_f", "street_f", "house_f", "kv_f"}));
      SetCardText(Label30, desk::TrimText(SQL.AsText("uch")));
      SetCardText(Label34, desk::TrimText(SQL.AsText("data_r")));
      const double today = DaySerial(GetPlatform()->Today());
      SetCardText(Label36, desk::AgeText(desk::AgeYears(SQL.AsDateTime("data_r"), today)));
      SetCardText(Label16, item[6]);
      KeptAddress = desk::ReadKeptAddress(SQL);
      KeptDistrict = desk::TrimText(SQL.AsText("uch"));
    }

    const int districtDoctor = desk::DistrictDoctor(SQL, KeptDistrict);
    const desk::DoctorListSink sink{
        [this](const std::string& entry) { ComboBox1->addItem(ToQt(entry)); },
        [this](int index) { ComboBox1->setCurrentIndex(index); }};
    int runningIndex = 1;
    runningIndex = desk::AddDepartmentDoctors(SQL, FromQt(Edit1->text()), districtDoctor,
                                              runningIndex, sink);
    desk::AddDepartmentDoctors(SQL, FromQt(Edit4->text()), districtDoctor, runningIndex, sink);
  } catch (...) {
    ShowMessage(QStringLiteral("Данной строки не найдено"));
  }
  ADO.SetConnected(false);
  if (patientFound) RememberCard(requestId);
  UpdateRepeatVisitLine(patientFound ? item[0] : std::string());
}

}  // namespace ravelto::app
