#include "app/platform_qt.h"

#include <QApplication>
#include <QDesktopServices>
#include <QGuiApplication>
#include <QMessageBox>
#include <QPainter>
#include <QPixmap>
#include <QProcess>
#include <QScreen>
#include <QSystemTrayIcon>
#include <QUrl>
#include <QWidget>

#include <chrono>

#include "app/text_codec.h"
#include "platform/process.h"
#include "platform/windows_api.h"

namespace ravelto::app {

QString ApplicationTitle() { return QStringLiteral("Вызов врача"); }

PlatformQt::PlatformQt()
    : random_(static_cast<std::mt19937::result_type>(
          std::chrono::system_clock::now().time_since_epoch().count())) {}

PlatformQt::~PlatformQt() = default;

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

namespace {

// The tray icon: a red square with the count in white (empty when nothing
// waits, grey square).
QIcon WaitingCountIcon(int count) {
  QPixmap pixmap(32, 32);
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(Qt::NoPen);
  painter.setBrush(count > 0 ? QColor(200, 0, 0) : QColor(128, 128, 128));
  painter.drawRoundedRect(QRectF(1, 1, 30, 30), 6, 6);
  if (count > 0) {
    QFont font(QStringLiteral("Tahoma"));
    font.setPixelSize(count > 99 ? 13 : 20);
    font.setBold(true);
    painter.setFont(font);
    painter.setPen(Qt::white);
    painter.drawText(QRect(0, 0, 32, 32), Qt::AlignCenter,
                     count > 999 ? QStringLiteral("999+") : QString::number(count));
  }
  return QIcon(pixmap);
}

}  // namespace

QString WaitingCountText(int count) {
  return QStringLiteral("Новых заявок: %1").arg(count);
}

void PlatformQt::FlashWindow(QWidget* window) {
  // On Windows this is the system's FlashWindowEx on the taskbar button; the
  // X11 and Wayland platforms set the window's urgency hint. Stops when the
  // window is activated.
  QApplication::alert(window, 0);
}

void PlatformQt::PlayAlertSound() {
#ifdef _WIN32
  MessageBeep(MB_ICONASTERISK);
#else
  QApplication::beep();
#endif
}

void PlatformQt::ShowWaitingCount(QWidget* window, int count) {
  if (!tray_) {
    if (!QSystemTrayIcon::isSystemTrayAvailable()) return;
    tray_ = std::make_unique<QSystemTrayIcon>();
    QObject::connect(tray_.get(), &QSystemTrayIcon::activated, window,
                     [window](QSystemTrayIcon::ActivationReason reason) {
                       if (reason != QSystemTrayIcon::Trigger &&
                           reason != QSystemTrayIcon::DoubleClick) {
                         return;
                       }
                       window->showNormal();
                       window->raise();
                       window->activateWindow();
                     });
  }
  tray_->setIcon(WaitingCountIcon(count));
  tray_->setToolTip(WaitingCountText(count));
  tray_->show();
}

}  // namespace ravelto::app
