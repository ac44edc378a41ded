#include "app/platform_qt.h"

#include <QDesktopServices>
#include <QGuiApplication>
#include <QMessageBox>
#include <QProcess>
#include <QScreen>
#include <QUrl>

#include <chrono>

#include "app/text_codec.h"
#include "platform/process.h"

namespace ravelto::app {

QString ApplicationTitle() { return QStringLiteral("Вызов врача"); }

PlatformQt::PlatformQt()
    : random_(static_cast<std::mt19937::result_type>(
          std::chrono::system_clock::now().time_since_epoch().count())) {}

void PlatformQt::ShowMessage(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, ApplicationTitle(), text, QMessageBox::Ok, parent);
  box.exec();
}

void PlatformQt::ShowError(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::Critical, ApplicationTitle(), text, QMessageBox::Ok, parent);
  box.exec();
}

bool PlatformQt::AskOkCancel(QWidget* parent, const QString& caption, const QString& text) {
  QMessageBox box(QMessageBox::Question, caption, text, QMessageBox::Ok | QMessageBox::Cancel,
                  parent);
  return box.exec() == QMessageBox::Ok;
}

QDate PlatformQt::Today() { return QDate::currentDate(); }

QDateTime PlatformQt::Now() { return QDateTime::currentDateTime(); }

int PlatformQt::RandomNumber() {
  return std::uniform_int_distribution<int>(0, 999999)(random_);
}

bool PlatformQt::StartProcess(const QString& program, const QStringList& arguments,
                              const QString& commandLine) {
#ifdef _WIN32
  // The line exactly as written, in a shown console of its own: Qt's detached
  // start re-joins the line and hides the console of a windowed program's child.
  (void)program;
  (void)arguments;
  return platform::StartShown(FromQt(commandLine));
#else
  (void)commandLine;
  return QProcess::startDetached(program, arguments);
#endif
}

bool PlatformQt::OpenUrl(const QString& url) {
  return QDesktopServices::openUrl(QUrl(url, QUrl::TolerantMode));
}

QSize PlatformQt::ScreenSize() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  return screen ? screen->geometry().size() : QSize();
}

void PlatformQt::DrawBanner(const QString& text) { banner_.Draw(text, ScreenSize()); }

void PlatformQt::BannerIdle() { banner_.Hide(); }

}  // namespace ravelto::app
