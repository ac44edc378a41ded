// The real platform's boxes: captions, icons, and timers that keep ticking
// while a box waits for the operator.

#include <QAbstractButton>
#include <QApplication>
#include <QListWidget>
#include <QMessageBox>
#include <QTimer>

#include "app/form1.h"
#include "app/platform_qt.h"
#include "form_fixture.h"

namespace ravelto::app::testing {
namespace {

// PlatformQt with the banner recorded instead of drawn.
class BoxPlatform : public PlatformQt {
 public:
  QStringList banners;
  void DrawBanner(const QString& text) override { banners << text; }
};

struct SeenBox {
  QString caption;
  QString text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  int bannersWhileOpen = 0;
};

// Closes the next modal box once the banner was drawn a few times under it.
void CloseBoxLater(SeenBox* seen, const BoxPlatform* platform, QMessageBox::StandardButton button) {
  auto* poll = new QTimer;
  QObject::connect(poll, &QTimer::timeout, [=] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (!box || platform->banners.size() < 3) return;
    seen->caption = box->windowTitle();
    seen->text = box->text();
    seen->icon = box->icon();
    seen->bannersWhileOpen = static_cast<int>(platform->banners.size());
    box->button(button)->click();
    poll->deleteLater();
  });
  poll->start(10);
}

using PlatformBoxTest = FormTest;

TEST_F(PlatformBoxTest, TimersTickWhileBoxesWait) {
  BoxPlatform platform;
  form_ = std::make_unique<TForm1>(&platform);
  TForm1& form = *form_;
  form.ListBox1->addItem(QStringLiteral("12"));
  form.Timer2->setInterval(5);

  SeenBox info;
  CloseBoxLater(&info, &platform, QMessageBox::Ok);
  form.ShowMessage(QStringLiteral("Сохранено"));
  EXPECT_EQ(info.caption, QStringLiteral("Вызов врача"));
  EXPECT_EQ(info.text, QStringLiteral("Сохранено"));
  EXPECT_GE(info.bannersWhileOpen, 3);

  SeenBox error;
  CloseBoxLater(&error, &platform, QMessageBox::Ok);
  form.Guard([] { throw std::runtime_error("Read Timeout"); });
  EXPECT_EQ(error.caption, QStringLiteral("Вызов врача"));
  EXPECT_EQ(error.text, QStringLiteral("Read Timeout."));
  EXPECT_EQ(error.icon, QMessageBox::Critical);

  SeenBox question;
  CloseBoxLater(&question, &platform, QMessageBox::Cancel);
  EXPECT_FALSE(platform.AskOkCancel(&form, QStringLiteral("Новая версия"), QStringLiteral("?")));
  EXPECT_EQ(question.caption, QStringLiteral("Новая версия"));
  CloseBoxLater(&question, &platform, QMessageBox::Ok);
  EXPECT_TRUE(platform.AskOkCancel(&form, QStringLiteral("Новая версия"), QStringLiteral("?")));

  const int n = platform.RandomNumber();
  EXPECT_GE(n, 0);
  EXPECT_LE(n, 999999);
}

}  // namespace
}  // namespace ravelto::app::testing
