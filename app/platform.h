#pragma once
// Platform: everything the window asks of the desktop besides its own
// widgets - message boxes, the clock, random numbers, starting programs,
// opening the browser and the on-screen banner. The real implementation
// (PlatformQt) shows real boxes; tests substitute one that records calls and
// answers from a script. All texts are QStrings (already decoded).

#include <QDate>
#include <QDateTime>
#include <QDialog>
#include <QSize>
#include <QString>
#include <QStringList>

class QWidget;

namespace ravelto::app {

class Platform {
 public:
  virtual ~Platform() = default;

  // Modal information box: caption "Вызов врача", the text, one OK button.
  virtual void ShowMessage(QWidget* parent, const QString& text) = 0;
  // The application's error box: modal, stop icon, caption "Вызов врача".
  virtual void ShowError(QWidget* parent, const QString& text) = 0;
  // Modal OK/Cancel question with its own caption; true when OK was chosen.
  virtual bool AskOkCancel(QWidget* parent, const QString& caption, const QString& text) = 0;

  // Today's date (no time of day).
  virtual QDate Today() = 0;
  // The desk's local date and time, for the decision journal.
  virtual QDateTime Now() { return QDateTime(Today(), QTime::currentTime()); }
  // Runs a modal window of the desk (the decision journal) until it closes.
  virtual void RunDialog(QDialog* dialog) { dialog->exec(); }
  // A random integer 0..999999.
  virtual int RandomNumber() = 0;

  // Starts a program in a shown window without waiting for it; true when it
  // started. On Windows `commandLine` is what runs, exactly as written;
  // elsewhere `program` with `arguments`.
  virtual bool StartProcess(const QString& program, const QStringList& arguments,
                            const QString& commandLine) = 0;
  // Opens the URL in the default browser; true when a browser took it.
  virtual bool OpenUrl(const QString& url) = 0;

  // Size of the primary screen in pixels.
  virtual QSize ScreenSize() = 0;
  // Draws the banner text once at the bottom right of the primary screen
  // (white on red, Arial 16 pt, right edge 5 px from the screen's right edge,
  // top 100 px above its bottom), above every other window.
  virtual void DrawBanner(const QString& text) = 0;
  // Drawing has stopped (no new requests); a surface may be taken away.
  virtual void BannerIdle() = 0;

  // Alerts of a poll that brought new requests (each switched on and off in
  // the desk's menu). Flashes the window's taskbar button until the window
  // is activated.
  virtual void FlashWindow(QWidget* window) = 0;
  // A short notification sound.
  virtual void PlayAlertSound() = 0;
  // The count of waiting requests after every poll: the tray icon's tooltip
  // "Новых заявок: N" where the desktop has a tray; a click on the icon
  // brings `window` up.
  virtual void ShowWaitingCount(QWidget* window, int count) = 0;
};

}  // namespace ravelto::app
