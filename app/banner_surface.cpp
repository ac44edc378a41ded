#include "app/banner_surface.h"

#include <QColor>
#include <QFontMetrics>
#include <QLabel>
#include <QPalette>

#include "platform/windows_api.h"

namespace ravelto::app {

QFont BannerFont() {
  QFont font(QStringLiteral("Arial"));
  font.setPointSize(16);
  font.setWeight(QFont::Normal);
  font.setItalic(false);
  return font;
}

QPoint BannerOrigin(QSize screen, int textWidth) {
  return QPoint(screen.width() - textWidth - 5, screen.height() - 100);
}

BannerSurface::BannerSurface() = default;
BannerSurface::~BannerSurface() = default;

QLabel* BannerSurface::Window() const { return window_.get(); }

#ifdef _WIN32

void BannerSurface::Draw(const QString& text, QSize /*screen*/) {
  // The device context works in physical pixels, so the screen's size is
  // taken in the same units.
  const QSize screen(GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN));
  const std::wstring wide = text.toStdWString();
  HDC dc = GetDC(GetWindow(GetDesktopWindow(), GW_OWNER));
  if (!dc) return;
  // 16 pt at the screen's resolution, as the font dialog would give it.
  const int height = -MulDiv(16, GetDeviceCaps(dc, LOGPIXELSY), 72);
  HFONT font = CreateFontW(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                           DEFAULT_PITCH | FF_DONTCARE, L"Arial");
  HGDIOBJ old = SelectObject(dc, font);
  SetBkMode(dc, OPAQUE);
  SetBkColor(dc, RGB(255, 0, 0));
  SetTextColor(dc, RGB(255, 255, 255));
  SIZE extent{};
  GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &extent);
  const QPoint at = BannerOrigin(screen, extent.cx);
  TextOutW(dc, at.x(), at.y(), wide.c_str(), static_cast<int>(wide.size()));
  SelectObject(dc, old);
  DeleteObject(font);
  ReleaseDC(GetWindow(GetDesktopWindow(), GW_OWNER), dc);
}

void BannerSurface::Hide() {}

#else

void BannerSurface::Draw(const QString& text, QSize screen) {
  if (!window_) {
    window_ = std::make_unique<QLabel>();
    window_->setObjectName(QStringLiteral("ScreenBanner"));
    window_->setWindowFlags(Qt::Tool | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint |
                            Qt::WindowTransparentForInput | Qt::WindowDoesNotAcceptFocus |
                            Qt::X11BypassWindowManagerHint);
    window_->setAttribute(Qt::WA_ShowWithoutActivating);
    // The banner never keeps the program alive once the desk is closed.
    window_->setAttribute(Qt::WA_QuitOnClose, false);
    window_->setFocusPolicy(Qt::NoFocus);
    window_->setAutoFillBackground(true);
    QPalette palette = window_->palette();
    palette.setColor(QPalette::Window, QColor(255, 0, 0));
    palette.setColor(QPalette::WindowText, QColor(255, 255, 255));
    window_->setPalette(palette);
    window_->setFont(BannerFont());
    window_->setContentsMargins(0, 0, 0, 0);
    window_->setMargin(0);
    window_->setIndent(0);
  }
  const QFontMetrics metrics(window_->font());
  const int width = metrics.horizontalAdvance(text);
  const QPoint at = BannerOrigin(screen, width);
  if (window_->text() != text) window_->setText(text);
  window_->setGeometry(at.x(), at.y(), width, metrics.height());
  window_->show();
  window_->raise();
}

void BannerSurface::Hide() {
  if (window_) window_->hide();
}

#endif

}  // namespace ravelto::app
