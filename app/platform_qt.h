#pragma once
// PlatformQt: the real Platform - Qt message boxes, the system clock, a
// clock-seeded random generator, detached processes, the desktop's browser
// and the banner surface.

#include <random>

#include "app/banner_surface.h"
#include "app/platform.h"

namespace ravelto::app {

class PlatformQt : public Platform {
 public:
  PlatformQt();

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

 private:
  std::mt19937 random_;
  BannerSurface banner_;
};

// Caption of every message box of the program.
QString ApplicationTitle();

}  // namespace ravelto::app
