// The window's controls: names, kinds, captions, initial texts, sizes, fonts
// and colours, and the window's own frame.

#include <QAction>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>

#include "app/form1.h"
#include "form_fixture.h"

namespace ravelto::app::testing {
namespace {

using LayoutTest = FormTest;

// Caption or text of any control kind used on the window.
QString CaptionOf(QWidget* w) {
  if (auto* x = qobject_cast<QLabel*>(w)) return x->text();
  if (auto* x = qobject_cast<QAbstractButton*>(w)) return x->text();
  if (auto* x = qobject_cast<QGroupBox*>(w)) return x->title();
  if (auto* x = qobject_cast<QLineEdit*>(w)) return x->text();
  if (auto* x = qobject_cast<QComboBox*>(w)) return x->currentText();
  if (auto* x = qobject_cast<QPlainTextEdit*>(w)) return x->toPlainText();
  return QStringLiteral("<no caption>");
}

TEST_F(LayoutTest, ControlsCarryTheirNamesCaptionsAndSizes) {
  TForm1& form = MakeForm();
  const QSize any;
  const struct {
    const char* name;
    QString caption;
    QSize size;
  } controls[] = {
      {"Label21", QStringLiteral("Новые заявки"), any},
      {"Label22", QStringLiteral("Обработанные заявки"), any},
      {"Panel1", QStringLiteral("<no caption>"), QSize(153, 402)},
      {"Panel2", QStringLiteral("<no caption>"), QSize(544, 402)},
      {"Button4", QStringLiteral("СВЕРНУТЬ ПРОГРАММУ"), QSize(147, 25)},
      {"GroupBox3", QStringLiteral(" Информация о пациенте "), QSize(369, 105)},
      {"Label1", QStringLiteral("ФИО:"), any},
      {"Label4", QStringLiteral("Label4"), any},
      {"Label6", QStringLiteral("Адрес прописка: "), any},
      {"Label7", QStringLiteral("Label7"), any},
      {"Label9", QStringLiteral("Адрес фактич.: "), any},
      {"Label10", QStringLiteral("Label10"), any},
      {"Label14", QStringLiteral("Телефон:"), any},
      {"Label15", QStringLiteral("Label15"), any},
      {"Label29", QStringLiteral("Участок:"), any},
      {"Label30", QStringLiteral("UCH"), any},
      {"Label33", QStringLiteral("Дата рождения:"), any},
      {"Label34", QStringLiteral("Label34"), any},
      {"Label35", QStringLiteral("Возраст:"), any},
      {"Label36", QStringLiteral("Age"), any},
      {"GroupBox7", QStringLiteral(" Информация "), QSize(161, 105)},
      {"Label19", QStringLiteral("Время:"), any},
      {"Label25", QStringLiteral("Label25"), any},
      {"Label20", QStringLiteral("Статус:"), any},
      {"Label26", QStringLiteral("Label26"), any},
      {"Label23", QStringLiteral("Код пац.:"), any},
      {"Label24", QStringLiteral("Label24"), any},
      {"Label27", QStringLiteral("Правка:"), any},
      {"Label28", QStringLiteral("Label28"), any},
      {"GroupBox4", QStringLiteral(" Отмеченные пункты при вызове "), QSize(529, 81)},
      {"Label16", QStringLiteral("Label16"), QSize(513, 57)},
      {"Label32", QStringLiteral("SQL запрос"), any},
      {"Memo1", QStringLiteral("Memo1"), QSize(529, 70)},
      {"GroupBox6", QStringLiteral(" Отклонение заявки "), QSize(529, 41)},
      {"Button2", QStringLiteral("Отклонить"), any},
      {"Label31", QStringLiteral("Label31"), any},
      {"GroupBox5", QStringLiteral(" Принятие заявки  "), QSize(529, 49)},
      {"Label17", QStringLiteral("Врач"), any},
      {"ComboBox1", QStringLiteral("Врач не выбран"), any},
      {"Label18", QStringLiteral("Время"), any},
      {"ComboBox2", QStringLiteral("В течение дня"), any},
      {"ComboBox3", QStringLiteral("Без причины"), any},
      {"Button1", QStringLiteral("Записать"), any},
      {"GroupBox1", QStringLiteral(" Авторизация "), any},
      {"Label2", QStringLiteral("Код клиента"), any},
      {"Label3", QStringLiteral("Пароль"), any},
      {"BitBtn1", QStringLiteral("Проверить"), any},
      {"GroupBox2", QStringLiteral(" Путь к программе "), any},
      {"Label38", QStringLiteral("Путь к папке"), any},
      {"BitBtn7", QStringLiteral("Тест"), any},
      {"GroupBox8", QStringLiteral(" Код участковых врачей"), any},
      {"Label12", QStringLiteral("Взрослый"), any},
      {"Label13", QStringLiteral("Детский"), any},
      {"Button3", QStringLiteral("Проверить"), any},
      {"BitBtn9", QStringLiteral("Установить драйвер ODBC"), any},
      {"BitBtn2", QStringLiteral("Сохранить настройки"), any},
      {"Label5", QStringLiteral("Настройка Proxy подключения"), any},
      {"Label42", QStringLiteral("IP proxy"), any},
      {"Label43", QStringLiteral("Login"), any},
      {"Label44", QStringLiteral("Pass"), any},
      {"Label45", QStringLiteral("Port"), any},
      {"SpeedButton4", QStringLiteral("Проверить подключение"), any},
      {"SpeedButton1", QStringLiteral("Сохранить"), any},
      {"Label8",
       QStringLiteral("Путь указываем к директории регистратуры. Пример C:\\Korvan2013 Нажмите "
                      "\"Тест\" - должно отобразиться число врачей в больнице. База данных должна "
                      "находиться на этом компьютере По сети работать будет очень медленно"),
       any},
      {"Label37",
       QStringLiteral("Стандартные варианты: взрослый: 61, детский 78. Вы можете поставить 0 если у "
                      "вас только взрослая или детская больница"),
       any},
  };
  for (const auto& c : controls) {
    auto* w = form.findChild<QWidget*>(QString::fromLatin1(c.name));
    ASSERT_NE(w, nullptr) << c.name;
    EXPECT_EQ(CaptionOf(w), c.caption) << c.name;
    if (c.size.isValid()) {
      EXPECT_EQ(w->size(), c.size) << c.name;
    }
  }
  for (const char* name : {"Edit2", "Edit3", "Edit10", "Edit1", "Edit4", "Edit12", "Edit13",
                           "Edit14", "Edit15", "ListBox1", "ListBox2", "PageControl1",
                           "ValueListEditor1", "StatusBar1", "Panel3"}) {
    EXPECT_NE(form.findChild<QWidget*>(QString::fromLatin1(name)), nullptr) << name;
  }
  EXPECT_EQ(form.Edit2->width(), 41);
  EXPECT_EQ(form.Edit10->width(), 193);
  EXPECT_EQ(form.ComboBox1->width(), 230);
  EXPECT_EQ(form.ComboBox2->width(), 137);
  EXPECT_EQ(form.ComboBox3->width(), 433);
  EXPECT_EQ(form.ListBox1->size(), QSize(153, 153));
  EXPECT_EQ(form.ListBox2->size(), QSize(153, 201));
  EXPECT_EQ(form.Button4->pos(), QPoint(544, 0));
  EXPECT_TRUE(form.Label32->isHidden());
}

TEST_F(LayoutTest, ListsMenusPagesAndStatusPanels) {
  TForm1& form = MakeForm();
  EXPECT_EQ(form.ComboBox3->count(), 5);
  EXPECT_EQ(form.ComboBox3->itemText(4), QStringLiteral("Обход участка врачом на сегодня окончен"));
  EXPECT_EQ(form.ComboBox2->count(), 3);
  EXPECT_EQ(form.ComboBox2->itemText(2), QStringLiteral("После обеда"));
  EXPECT_EQ(form.ComboBox1->count(), 1);
  for (QComboBox* c : {form.ComboBox1, form.ComboBox2, form.ComboBox3}) EXPECT_TRUE(c->isEditable());

  const QString pages[] = {QStringLiteral("Главная"), QStringLiteral("Настройки"),
                           QStringLiteral("Proxy"), QStringLiteral("Config")};
  ASSERT_EQ(form.PageControl1->count(), 4);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(form.PageControl1->tabText(i), pages[i]);
  EXPECT_EQ(form.PageControl1->widget(0), form.TabSheet1);
  EXPECT_EQ(form.PageControl1->tabBar()->focusPolicy(), Qt::NoFocus);

  EXPECT_EQ(form.N1->title(), QStringLiteral("Меню"));
  EXPECT_EQ(form.N1->actions(), (QList<QAction*>{form.N5, form.N2}));
  EXPECT_EQ(form.N5->text(), QStringLiteral("Проверить обновление"));
  EXPECT_EQ(form.N2->text(), QStringLiteral("Выход"));
  EXPECT_EQ(form.N3->text(), QStringLiteral("Настройки больницы"));
  EXPECT_EQ(form.N3->menu(), nullptr);
  EXPECT_TRUE(form.MainMenu1->actions().contains(form.N3));

  const int widths[] = {50, 50, 50, 200, 50};
  const Qt::Alignment horizontal[] = {Qt::AlignHCenter, Qt::AlignHCenter, Qt::AlignHCenter,
                                      Qt::AlignLeft, Qt::AlignLeft};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(form.StatusPanel(i)->width(), widths[i]) << i;
    EXPECT_EQ(form.StatusPanel(i)->alignment() & Qt::AlignHorizontal_Mask, horizontal[i]) << i;
  }
}

TEST_F(LayoutTest, WindowFrameFontsAndColours) {
  TForm1& form = MakeForm();
  form.show();
  EXPECT_EQ(form.windowTitle(), QStringLiteral("Вызов врача на дом"));
  const Qt::WindowFlags flags = form.windowFlags();
  EXPECT_TRUE(flags & Qt::CustomizeWindowHint);
  EXPECT_FALSE(flags & (Qt::WindowCloseButtonHint | Qt::WindowMinimizeButtonHint |
                        Qt::WindowMaximizeButtonHint | Qt::WindowSystemMenuHint));
  EXPECT_EQ(form.centralWidget()->size(), QSize(700, 402));
  EXPECT_EQ(form.StatusBar1->height(), 19);
  EXPECT_EQ(form.minimumSize(), form.maximumSize());  // not resizable

  EXPECT_EQ(form.font().family(), QStringLiteral("Tahoma"));
  EXPECT_EQ(form.font().pixelSize(), 11);
  EXPECT_EQ(form.ListBox1->font().pixelSize(), 16);
  EXPECT_EQ(form.ListBox2->font().pixelSize(), 11);
  form.ListBox1->addItem(QStringLiteral("12"));
  form.ListBox2->addItem(QStringLiteral("13"));
  EXPECT_EQ(form.ListBox1->visualItemRect(form.ListBox1->item(0)).height(), 19);
  EXPECT_EQ(form.ListBox2->visualItemRect(form.ListBox2->item(0)).height(), 13);

  EXPECT_TRUE(form.GroupBox3->font().bold());
  EXPECT_TRUE(form.GroupBox4->font().bold());
  EXPECT_FALSE(form.GroupBox6->font().bold());
  EXPECT_FALSE(form.Label1->font().bold());
  EXPECT_FALSE(form.Label16->font().bold());
  EXPECT_TRUE(form.Button1->font().bold());
  EXPECT_TRUE(form.Label5->font().bold());
  EXPECT_EQ(form.Label5->font().pixelSize(), 13);

  EXPECT_EQ(form.Label30->font().pixelSize(), 19);
  EXPECT_EQ(form.Label30->palette().color(QPalette::WindowText), QColor(128, 0, 0));
  EXPECT_EQ(form.Button2->palette().color(QPalette::ButtonText), QColor(0, 128, 0));
  for (QLabel* hint : {form.Label8, form.Label37}) {
    EXPECT_EQ(hint->font().pixelSize(), 9);
    EXPECT_TRUE(hint->wordWrap());
    EXPECT_EQ(hint->palette().color(QPalette::WindowText), QColor(128, 128, 128));
  }
}

}  // namespace
}  // namespace ravelto::app::testing
