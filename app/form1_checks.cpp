// The settings checks: BitBtn1Click (login), SpeedButton4Click (connection),
// BitBtn7Click (database folder), Button3Click (department codes) and N3Click
// (the administration page). Three of them copy what they tested into the
// settings list; none of them writes config.ini.

#include <QLineEdit>
#include <QString>

#include "app/desk/card_text.h"
#include "app/form1.h"
#include "app/platform.h"
#include "app/settings_grid.h"
#include "app/text_codec.h"
#include "registry/table/database_error.h"
#include "service/protocol.h"

namespace ravelto::app {

namespace {

QString DatabaseFailureText() {
  return QStringLiteral(
      "Ошибка подключения к базе. Проверте установку ODBC FoxPRO либо путь к базе");
}

// Counts the staff of one department: ci003 rows whose code lies in the
// department's block (code 61: 61000 to 61999). Only a whole number or the
// empty code (the block 000..999) is put into the statement; any other text
// fails like the broken statement it would make, without reaching the
// registry.
int CountDepartmentStaff(registry::Query& sql, const std::string& code) {
  if (!code.empty() && !desk::IsWholeNumber(code)) {
    throw registry::DatabaseError("Department code is not a whole number: " + code);
  }
  sql.Clear();
  sql.Add("SELECT * from ci003 WHERE kw>=" + code + "000 and kw<=" + code + "999");
  sql.Execute();
  sql.Open();
  return sql.RecordCount();
}

}  // namespace

void TForm1::BitBtn1Click() {
  const std::string id = FromQt(Edit2->text());
  const std::string pass = FromQt(Edit3->text());
  Settings()->Modify([&](settings::SettingsList& list) {
    list.Write("id", id);
    list.Write("pass", pass);
  });
  const std::string answer = HttpGet(service::LoginUrl(id, pass));
  if (answer == "1") {
    ShowMessage(QStringLiteral("Авторизация прошла успешно!"));
  } else {
    ShowMessage(QStringLiteral("Ошибка авторизации, проверьте код клиента либо пароль!") +
                ToQt(answer));
  }
}

void TForm1::SpeedButton4Click() {
  // A proxy port that is not a whole number fails here: nothing is fetched.
  SetProxy();
  const std::string answer = HttpGet(service::PingUrl());
  ShowMessage(answer.empty() ? QStringLiteral("Ошибка подключения")
                             : QStringLiteral("Соединение успешно установлено!"));
}

void TForm1::BitBtn7Click() {
  ADO.SetConnected(false);
  // The new connection string stays whatever the outcome: later registry
  // work uses the tested folder.
  ADO.SetConnectionString(ConnectionStringFor(FromQt(Edit10->text())));
  // A folder that cannot be opened goes to the error box, not to the
  // handler's own message.
  ADO.SetConnected(true);
  try {
    SQL.Clear();
    SQL.Add("SELECT * from ci003");
    SQL.Execute();
    SQL.Open();
    const int count = SQL.RecordCount();
    if (count > 0) {
      ShowMessage(QStringLiteral("Специалистов в учреждении: ") + QString::number(count));
      // Taken after the box: the field's text at that moment.
      const std::string path = FromQt(Edit10->text());
      Settings()->Modify([&](settings::SettingsList& list) { list.Write("path", path); });
    }
  } catch (...) {
    ShowMessage(DatabaseFailureText());
  }
  ADO.SetConnected(false);
}

void TForm1::Button3Click() {
  ADO.SetConnected(true);
  try {
    const std::string adult = FromQt(Edit1->text());
    Settings()->Modify([&](settings::SettingsList& list) { list.Write("kw", adult); });
    if (adult != "0") {
      const int count = CountDepartmentStaff(SQL, adult);
      ShowMessage(count < 1 ? QStringLiteral("Специалистов для взрослых не найдено")
                            : QStringLiteral("Найдено специалистов для взрослых: ") +
                                  QString::number(count));
    }
    const std::string child = FromQt(Edit4->text());
    Settings()->Modify([&](settings::SettingsList& list) { list.Write("kwd", child); });
    if (child != "0") {
      const int count = CountDepartmentStaff(SQL, child);
      ShowMessage(count < 1 ? QStringLiteral("Специалистов для детей не найдено")
                            : QStringLiteral("Найдено специалистов для детей: ") +
                                  QString::number(count));
    }
  } catch (...) {
    ShowMessage(DatabaseFailureText());
  }
  ADO.SetConnected(false);
}

void TForm1::N3Click() {
  // The browser's outcome is not examined and nothing is reported.
  GetPlatform()->OpenUrl(
      ToQt(service::AdminPageUrl(FromQt(Edit2->text()), FromQt(Edit3->text()))));
}

}  // namespace ravelto::app
