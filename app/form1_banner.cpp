// The new-request banner: drawn once a second while ListBox1 holds a line.

#include <QListWidget>

#include "app/form1.h"
#include "app/platform.h"

namespace ravelto::app {

void TForm1::Timer2Timer() {
  if (ListBox1->count() > 0) {
    ShowScreenBanner(QStringLiteral(" Заявка вызова "));
  } else {
    platform_->BannerIdle();
  }
}

void TForm1::ShowScreenBanner(const QString& text) { platform_->DrawBanner(text); }

}  // namespace ravelto::app
