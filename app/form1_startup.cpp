// The window's life: construction and FormCreate, the first activation,
// exit, minimise, close, and the guard every handler runs under.

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QScreen>
#include <QShowEvent>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>

#include <iostream>
#include <utility>

#include "app/desk/cp1251_literal.h"
#include "app/desk_state.h"
#include "app/form1.h"
#include "app/journal/journal.h"
#include "app/platform.h"
#include "app/settings_grid.h"
#include "app/text_codec.h"
#include "service/protocol.h"
#include "settings/settings_file.h"

namespace ravelto::app {

namespace {

// True when a Qt date/time pattern uses only what the registry gateway reads:
// d dd M MM yy yyyy h hh H HH m mm s ss and literal non-letters.
bool GatewayReadsPattern(const QString& pattern) {
  static const QStringList runs = {QStringLiteral("d"),  QStringLiteral("dd"),
                                   QStringLiteral("M"),  QStringLiteral("MM"),
                                   QStringLiteral("yy"), QStringLiteral("yyyy"),
                                   QStringLiteral("h"),  QStringLiteral("hh"),
                                   QStringLiteral("H"),  QStringLiteral("HH"),
                                   QStringLiteral("m"),  QStringLiteral("mm"),
                                   QStringLiteral("s"),  QStringLiteral("ss")};
  if (pattern.isEmpty()) return false;
  for (qsizetype i = 0; i < pattern.size();) {
    const QChar c = pattern.at(i);
    qsizetype j = i;
    while (j < pattern.size() && pattern.at(j) == c) ++j;
    if (c.isLetter() && !runs.contains(pattern.mid(i, j - i))) return false;
    if (c.unicode() >= 0x80 || c == QLatin1Char('\'') || c == QLatin1Char('"')) return false;
    i = j;
  }
  return true;
}

// The system's short date, long time and decimal separator for the registry
// gateway; a pattern it cannot read keeps the gateway's default.
registry::RegionalFormats SystemRegionalFormats() {
  const QLocale locale = QLocale::system();
  registry::RegionalFormats formats;
  const QString date = locale.dateFormat(QLocale::ShortFormat);
  const QString time = locale.timeFormat(QLocale::LongFormat);
  if (GatewayReadsPattern(date)) formats.shortDate = FromQt(date);
  if (GatewayReadsPattern(time)) formats.longTime = FromQt(time);
  const QString point = locale.decimalPoint();
  if (point.size() == 1 && point.at(0).unicode() < 0x80) {
    formats.decimalSeparator = static_cast<char>(point.at(0).unicode());
  }
  return formats;
}

}  // namespace

TForm1::TForm1(Platform* platform, service::Timeouts timeouts, QWidget* parent)
    : QMainWindow(parent), Client(timeouts), platform_(platform) {
  ADO.SetRegionalFormats(SystemRegionalFormats());
  // What the engine learns of the registry's collated index tags is kept
  // beside the decision journal, so that the next start need not learn it
  // again (the registry folder itself belongs to the registry program).
  ADO.SetCollationKnowledgeFile(FromQt(QDir::current().absoluteFilePath(QStringLiteral("ravelto-collations.bin"))));
  BuildLayout();
  ConnectHandlers();
  BuildDeskAids();
  // Timer2 runs from the window's creation, before FormCreate; Timer1 waits
  // for the first activation.
  Timer2->start();
  Guard([this] { FormCreate(); });
}

TForm1::~TForm1() = default;

std::string TForm1::ConnectionStringFor(const std::string& path) {
  return "Provider=VFPOLEDB;Data Source=" + path +
         ";Mode=ReadWrite;Password=\"\";Collating Sequence=RUSSIAN";
}

void TForm1::FormCreate() {
  SetStatusText(1, QString::number(service::ProgramVersion));

  try {
    settingsModel_->Modify([](settings::SettingsList& list) { settings::LoadSettings(list); });
  } catch (...) {
    // A settings file that cannot be read is not reported.
  }

  const settings::SettingsList& list = settingsModel_->List();
  const struct {
    const char* name;
    QLineEdit* field;
  } fields[] = {
      {"id", Edit2},           {"pass", Edit3},           {"path", Edit10},
      {"proxy", Edit12},       {"proxylogin", Edit13},    {"proxypass", Edit14},
      {"proxyport", Edit15},   {"kw", Edit1},             {"kwd", Edit4},
  };
  for (const auto& f : fields) f.field->setText(ToQt(list.Value(f.name)));

  if (Edit1->text().isEmpty()) Edit1->setText(QStringLiteral("61"));
  if (Edit4->text().isEmpty()) Edit4->setText(QStringLiteral("78"));

  SetProxy();

  ADO.SetConnectionString(ConnectionStringFor(FromQt(Edit10->text())));

  PageControl1->setCurrentIndex(0);

  placeholderFills_ = true;
  FillPageWithPlaceholder();
  Panel3->show();
}

void TForm1::FormActivate() {
  if (!Timer1->isActive()) Timer1->start();
  Timer1Timer();
}

void TForm1::FirstActivation() {
  Guard([this] { FormActivate(); });
  // After the start-up steps and their first poll, never in their way.
  Guard([this] { AnnouncePendingWrites(); });
}

void TForm1::N2Click() { close(); }

void TForm1::Button4Click() { showMinimized(); }

void TForm1::FormClose() {
  // Closing is never refused and nothing is saved on the way out.
}

bool TForm1::event(QEvent* e) {
  // Status tips would cover the five status panels with a temporary message.
  if (e->type() == QEvent::StatusTip) return true;
  if (e->type() == QEvent::WindowActivate && !activated_) {
    activated_ = true;
    FirstActivation();
  }
  return QMainWindow::event(e);
}

void TForm1::showEvent(QShowEvent* e) {
  QMainWindow::showEvent(e);
  if (shownOnce_) return;
  shownOnce_ = true;
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect frame = frameGeometry();
    frame.moveCenter(screen->availableGeometry().center());
    move(frame.topLeft());
  }
  activateWindow();
  // Where the windowing system never activates the window (no window
  // manager), showing it counts as its first activation.
  QTimer::singleShot(0, this, [this] {
    if (activated_) return;
    activated_ = true;
    FirstActivation();
  });
}

void TForm1::closeEvent(QCloseEvent* e) {
  Guard([this] { FormClose(); });
  e->accept();
}

void TForm1::SetStatusText(int panel, const QString& text) { statusPanels_[panel]->setText(text); }

void TForm1::ShowMessage(const QString& text) { platform_->ShowMessage(this, text); }

QString TForm1::ErrorBoxText(const std::string& message) {
  std::string text = message;
  if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
  return ToQt(text);
}

QString TForm1::FailureBoxText(const std::exception& e, desk::FailureSetting setting) {
  const desk::FailureText shown = desk::DescribeFailure(e, setting);
  if (!shown.translated) return ErrorBoxText(shown.text);
  // The technical message for whoever looks after the desk.
  std::cerr << "ravelto: " << e.what() << std::endl;
  return ToQt(shown.text);
}

void TForm1::Guard(const std::function<void()>& fn) {
  failureSetting_ = desk::FailureSetting::kGeneral;
  try {
    fn();
  } catch (const std::exception& e) {
    const desk::FailureSetting setting = std::exchange(failureSetting_, desk::FailureSetting::kGeneral);
    platform_->ShowError(this, FailureBoxText(e, setting));
  } catch (...) {
    failureSetting_ = desk::FailureSetting::kGeneral;
    platform_->ShowError(this, ToQt(desk::Cp1251("Непредвиденная ошибка; действие прервано.")));
  }
}

}  // namespace ravelto::app
