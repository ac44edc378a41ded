#pragma once
// PlatformQt: the real Platform - Qt message boxes, the system clock, a
// clock-seeded random generator, detached processes, the desktop's browser
// and the banner surface.

#include <memory>
#include <random>

#include "app/banner_surface.h"
#include "app/platform.h"

class QSystemTrayIcon;

namespace ravelto::app {

class PlatformQt : public Platform {
 public:
  PlatformQt();
  ~PlatformQt() override;

  void ShowMessage(QWidget* parent, const QString& text) override;
  void ShowError(QWidget* parent, const QString& text) override;
  bool AskOkCancel(QWidget* parent, const QString& caption, const QString& text) override;
  QDate Today() override;
  QDateTime Now() override;
  int RandomNumber() override;
  bool StartProcess(const QString& program, const QStringList& arguments,
                    const QString& commandLine) override;
  bool OpenUrl(const QString& url) override;
  QSize ScreenSize() override;
  void DrawBanner(const QString& text) override;
  void BannerIdle() override;
  void FlashWindow(QWidget* window) override;
  void PlayAlertSound() override;
  void ShowWaitingCount(QWidget* window, int count) override;

 private:
  std::mt19937 random_;
  BannerSurface banner_;
  // Created on the first count where the desktop has a tray.
  std::unique_ptr<QSystemTrayIcon> tray_;
};

// The tray's tooltip for a count of waiting requests.
QString WaitingCountText(int count);

// Caption of every message box of the program.
QString ApplicationTitle();

}  // namespace ravelto::app
