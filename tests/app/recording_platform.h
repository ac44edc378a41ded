#pragma once
// RecordingPlatform: the Platform of the widget tests. Message boxes,
// questions, process starts, browser calls and banner drawings are recorded
// instead of shown; answers (OK/Cancel, today, random numbers, whether a
// process starts) are set by the test beforehand. Alerts (flash, sound, the
// tray's count) are counted.

#include <QDate>
#include <QDateTime>
#include <QDialog>
#include <QSize>
#include <QString>
#include <QStringList>

#include <deque>
#include <functional>
#include <utility>
#include <vector>

#include "app/platform.h"

namespace ravelto::app::testing {

class RecordingPlatform : public Platform {
 public:
  struct Question {
    QString caption;
    QString text;
  };
  struct Start {
    QString program;
    QStringList arguments;
    QString commandLine;
  };

  // Recorded calls, in order.
  QStringList messages;
  QStringList errors;
  std::vector<Question> questions;
  std::vector<Start> starts;
  QStringList openedUrls;
  QStringList banners;
  int bannerIdleCalls = 0;
  int flashes = 0;
  int sounds = 0;
  std::vector<int> waitingCounts;  // every count the tray was given

  // Pre-set answers.
  std::deque<bool> okAnswers;  // front answers the next question; empty: OK
  QDate today{2026, 12, 7};
  // The desk's clock; invalid: today at the real time of day.
  QDateTime now;
  // Runs instead of a modal window's loop (the window is open meanwhile).
  std::function<void(QDialog*)> onDialog;
  int dialogs = 0;
  std::deque<int> randomNumbers;  // front is the next number; empty: 4242
  bool startSucceeds = true;
  bool openSucceeds = true;
  QSize screen{1920, 1080};
  // Runs while a message or error box would be open (e.g. to let timers tick).
  std::function<void()> whileBoxOpen;

  void ShowMessage(QWidget*, const QString& text) override {
    messages << text;
    if (whileBoxOpen) whileBoxOpen();
  }
  void ShowError(QWidget*, const QString& text) override {
    errors << text;
    if (whileBoxOpen) whileBoxOpen();
  }
  bool AskOkCancel(QWidget*, const QString& caption, const QString& text) override {
    questions.push_back({caption, text});
    if (okAnswers.empty()) return true;
    const bool ok = okAnswers.front();
    okAnswers.pop_front();
    return ok;
  }
  QDate Today() override { return today; }
  QDateTime Now() override { return now.isValid() ? now : Platform::Now(); }
  void RunDialog(QDialog* dialog) override {
    ++dialogs;
    if (onDialog) onDialog(dialog);
  }
  int RandomNumber() override {
    if (randomNumbers.empty()) return 4242;
    const int n = randomNumbers.front();
    randomNumbers.pop_front();
    return n;
  }
  bool StartProcess(const QString& program, const QStringList& arguments,
                    const QString& commandLine) override {
    starts.push_back({program, arguments, commandLine});
    return startSucceeds;
  }
  bool OpenUrl(const QString& url) override {
    openedUrls << url;
    return openSucceeds;
  }
  QSize ScreenSize() override { return screen; }
  void DrawBanner(const QString& text) override { banners << text; }
  void BannerIdle() override { ++bannerIdleCalls; }
  void FlashWindow(QWidget*) override { ++flashes; }
  void PlayAlertSound() override { ++sounds; }
  void ShowWaitingCount(QWidget*, int count) override { waitingCounts.push_back(count); }
};

}  // namespace ravelto::app::testing
