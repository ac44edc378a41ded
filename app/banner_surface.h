#pragma once
// The surface the new-request banner is drawn on.
//
// On Windows the text is drawn straight onto the screen's device context
// (obtained and released on every drawing, so no handle is held between
// ticks). Elsewhere there is no drawing access to the whole screen, so the
// banner is a frameless, always-on-top, click-through window that takes no
// focus; it is created once, reused on every tick, and hidden when drawing
// stops.

#include <QFont>
#include <QPoint>
#include <QSize>
#include <QString>

#include <memory>

class QLabel;

namespace ravelto::app {

// Font of the banner: Arial, 16 points, regular.
QFont BannerFont();
// Top-left corner of the text for a screen and a text width: the right edge
// 5 px from the screen's right edge, the top 100 px above its bottom.
QPoint BannerOrigin(QSize screen, int textWidth);

class BannerSurface {
 public:
  BannerSurface();
  ~BannerSurface();
  BannerSurface(const BannerSurface&) = delete;
  BannerSurface& operator=(const BannerSurface&) = delete;

  // Draws the text once at BannerOrigin on a screen of the given size (on
  // Windows the screen size is read in physical pixels instead).
  void Draw(const QString& text, QSize screen);
  // Hides the surface (no-op on Windows, where the drawing stays until
  // other windows paint over it).
  void Hide();

  // The window used off Windows (null until the first drawing); for tests.
  QLabel* Window() const;

 private:
  std::unique_ptr<QLabel> window_;
};

}  // namespace ravelto::app
