// Building the window: every control with its name, caption, initial text,
// size, font and colour, and the connection of each control to its handler.

#include <QAction>
#include <QColor>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QStyledItemDelegate>
#include <QTabBar>
#include <QTabWidget>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>

#include "app/form1.h"
#include "app/settings_grid.h"

namespace ravelto::app {

namespace {

QFont PixelFont(int pixels, bool bold = false) {
  QFont font(QStringLiteral("Tahoma"));
  font.setPixelSize(pixels);
  font.setBold(bold);
  return font;
}

template <class W>
W* Make(QWidget* parent, const char* name, int x, int y, int w, int h) {
  auto* widget = new W(parent);
  widget->setObjectName(QString::fromLatin1(name));
  widget->setGeometry(x, y, w, h);
  return widget;
}

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, int x, int y,
                  int w = -1, int h = 13) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(QString::fromLatin1(name));
  if (w < 0) {
    label->move(x, y);
    label->adjustSize();
    label->resize(label->width(), h);
  } else {
    label->setGeometry(x, y, w, h);
  }
  return label;
}

// x just right of a control, for a field that follows its caption.
int After(const QWidget* widget, int gap = 6) { return widget->x() + widget->width() + gap; }

QLineEdit* MakeEdit(QWidget* parent, const char* name, int x, int y, int w) {
  return Make<QLineEdit>(parent, name, x, y, w, 21);
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption, int x, int y,
                        int w, int h = 25) {
  auto* button = Make<QPushButton>(parent, name, x, y, w, h);
  button->setText(caption);
  return button;
}

QGroupBox* MakeGroup(QWidget* parent, const char* name, const QString& caption, int x, int y,
                     int w, int h) {
  auto* group = Make<QGroupBox>(parent, name, x, y, w, h);
  group->setTitle(caption);
  return group;
}

// Bold group caption; its controls keep the window's normal font.
void MakeCaptionBold(QGroupBox* group) {
  const QFont normal = group->font();
  QFont bold = normal;
  bold.setBold(true);
  group->setFont(bold);
  for (QWidget* child : group->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    child->setFont(normal);
  }
}

void MakeHint(QLabel* label) {
  label->setFont(PixelFont(9));
  label->setWordWrap(true);
  label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  QPalette palette = label->palette();
  palette.setColor(QPalette::WindowText, QColor(128, 128, 128));
  label->setPalette(palette);
}

QComboBox* MakeCombo(QWidget* parent, const char* name, int x, int y, int w,
                     const QStringList& items) {
  auto* combo = Make<QComboBox>(parent, name, x, y, w, 21);
  combo->setEditable(true);
  combo->setInsertPolicy(QComboBox::NoInsert);
  combo->addItems(items);
  combo->setCurrentIndex(0);
  return combo;
}

// List rows of a fixed height, as the lists' design asks.
class FixedRowDelegate : public QStyledItemDelegate {
 public:
  FixedRowDelegate(int height, QObject* parent) : QStyledItemDelegate(parent), height_(height) {}
  QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    size.setHeight(height_);
    return size;
  }

 private:
  int height_;
};

// A status bar panel: one line of text; line breaks inside a message (socket
// errors carry one) are shown as blanks, the text itself is kept unchanged.
class StatusPanelLabel : public QLabel {
 public:
  using QLabel::QLabel;

 protected:
  void paintEvent(QPaintEvent* event) override {
    QFrame::paintEvent(event);
    QString line = text();
    line.replace(QStringLiteral("\r\n"), QStringLiteral(" "));
    line.replace(QLatin1Char('\r'), QLatin1Char(' '));
    line.replace(QLatin1Char('\n'), QLatin1Char(' '));
    const QRect area = contentsRect().adjusted(2, 0, -2, 0);
    QPainter painter(this);
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(area, static_cast<int>(alignment()) | Qt::TextSingleLine,
                     fontMetrics().elidedText(line, Qt::ElideRight, area.width()));
  }
};

QListWidget* MakeList(QWidget* parent, const char* name, int x, int y, int w, int h,
                      int itemHeight) {
  auto* list = Make<QListWidget>(parent, name, x, y, w, h);
  list->setSelectionMode(QAbstractItemView::SingleSelection);
  list->setSortingEnabled(false);
  list->setUniformItemSizes(true);
  list->setItemDelegate(new FixedRowDelegate(itemHeight, list));
  return list;
}

}  // namespace

void TForm1::BuildLayout() {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("Вызов врача на дом"));
  // A fixed single border and no caption-bar buttons at all.
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  setFont(PixelFont(11));

  auto* client = new QWidget(this);
  client->setObjectName(QStringLiteral("ClientArea"));
  client->setFixedSize(700, 402);
  setCentralWidget(client);

  // Left panel: the two request lists.
  Panel1 = Make<QFrame>(client, "Panel1", 0, 0, 153, 402);
  Label21 = MakeLabel(Panel1, "Label21", QStringLiteral("Новые заявки"), 4, 4);
  ListBox1 = MakeList(Panel1, "ListBox1", 0, 20, 153, 153, 19);
  ListBox1->setFont(PixelFont(16));
  Label22 = MakeLabel(Panel1, "Label22", QStringLiteral("Обработанные заявки"), 4, 180);
  ListBox2 = MakeList(Panel1, "ListBox2", 0, 196, 153, 201, 13);

  // Right panel: the page control with button-like tabs.
  Panel2 = Make<QFrame>(client, "Panel2", 156, 0, 544, 402);
  PageControl1 = Make<QTabWidget>(Panel2, "PageControl1", 0, 0, 544, 402);
  PageControl1->setDocumentMode(true);
  PageControl1->setFocusPolicy(Qt::NoFocus);
  PageControl1->tabBar()->setFocusPolicy(Qt::NoFocus);
  PageControl1->tabBar()->setDrawBase(false);
  PageControl1->tabBar()->setExpanding(false);
  PageControl1->tabBar()->setStyleSheet(QStringLiteral(
      "QTabBar::tab { background: palette(button); border: 1px solid palette(dark);"
      " border-top-color: palette(light); border-left-color: palette(light);"
      " padding: 3px 10px; margin: 2px 1px 2px 1px; min-height: 15px; }"
      "QTabBar::tab:selected { background: palette(midlight); border: 1px solid palette(dark);"
      " border-bottom-color: palette(light); border-right-color: palette(light); }"));
  const QString pageCaptions[] = {QStringLiteral("Главная"), QStringLiteral("Настройки"),
                                  QStringLiteral("Proxy"), QStringLiteral("Config")};
  QWidget** pages[] = {&TabSheet1, &TabSheet2, &TabSheet3, &TabSheet4};
  for (int i = 0; i < 4; ++i) {
    *pages[i] = new QWidget;
    (*pages[i])->setObjectName(QStringLiteral("TabSheet%1").arg(i + 1));
    PageControl1->addTab(*pages[i], pageCaptions[i]);
  }

  BuildCardPage();
  BuildSettingsPage();
  BuildProxyPage();

  settingsModel_ = new SettingsModel(this);
  ValueListEditor1 = new SettingsGrid(settingsModel_, TabSheet4);
  ValueListEditor1->setObjectName(QStringLiteral("ValueListEditor1"));
  auto* configLayout = new QVBoxLayout(TabSheet4);
  configLayout->setContentsMargins(0, 0, 0, 0);
  configLayout->addWidget(ValueListEditor1);

  // The page shown in the window's design.
  PageControl1->setCurrentIndex(1);

  Button4 = MakeButton(client, "Button4", QStringLiteral("СВЕРНУТЬ ПРОГРАММУ"), 544, 0, 147, 25);
  Button4->raise();

  BuildStatusBar();
  BuildMenu();

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(30000);
  Timer2 = new QTimer(this);
  Timer2->setObjectName(QStringLiteral("Timer2"));
  Timer2->setInterval(1000);

  // The window keeps exactly the size of its parts.
  layout()->setSizeConstraint(QLayout::SetFixedSize);
}

void TForm1::BuildCardPage() {
  QWidget* page = TabSheet1;

  GroupBox3 = MakeGroup(page, "GroupBox3", QStringLiteral(" Информация о пациенте "), 2, 2, 369,
                        105);
  const struct {
    QLabel** caption;
    const char* captionName;
    QString captionText;
    QLabel** value;
    const char* valueName;
    QString valueText;
  } patientRows[] = {
      {&Label1, "Label1", QStringLiteral("ФИО:"), &Label4, "Label4", QStringLiteral("Label4")},
      {&Label6, "Label6", QStringLiteral("Адрес прописка: "), &Label7, "Label7",
       QStringLiteral("Label7")},
      {&Label9, "Label9", QStringLiteral("Адрес фактич.: "), &Label10, "Label10",
       QStringLiteral("Label10")},
      {&Label14, "Label14", QStringLiteral("Телефон:"), &Label15, "Label15",
       QStringLiteral("Label15")},
      {&Label29, "Label29", QStringLiteral("Участок:"), &Label30, "Label30", QStringLiteral("UCH")},
      {&Label33, "Label33", QStringLiteral("Дата рождения:"), &Label34, "Label34",
       QStringLiteral("Label34")},
      {&Label35, "Label35", QStringLiteral("Возраст:"), &Label36, "Label36", QStringLiteral("Age")},
  };
  const int patientY[] = {15, 27, 39, 51, 66, 80, 91};
  for (std::size_t i = 0; i < std::size(patientRows); ++i) {
    const auto& row = patientRows[i];
    *row.caption = MakeLabel(GroupBox3, row.captionName, row.captionText, 8, patientY[i], 92);
    *row.value = MakeLabel(GroupBox3, row.valueName, row.valueText, 102, patientY[i], 262);
  }
  Label30->setGeometry(102, 61, 262, 19);
  Label30->setFont(PixelFont(19));
  {
    QPalette palette = Label30->palette();
    palette.setColor(QPalette::WindowText, QColor(128, 0, 0));  // maroon
    Label30->setPalette(palette);
  }
  MakeCaptionBold(GroupBox3);
  Label30->setFont(PixelFont(19));

  GroupBox7 = MakeGroup(page, "GroupBox7", QStringLiteral(" Информация "), 374, 2, 161, 105);
  const struct {
    QLabel** caption;
    const char* captionName;
    QString captionText;
    QLabel** value;
    const char* valueName;
  } infoRows[] = {
      {&Label19, "Label19", QStringLiteral("Время:"), &Label25, "Label25"},
      {&Label20, "Label20", QStringLiteral("Статус:"), &Label26, "Label26"},
      {&Label23, "Label23", QStringLiteral("Код пац.:"), &Label24, "Label24"},
      {&Label27, "Label27", QStringLiteral("Правка:"), &Label28, "Label28"},
  };
  for (std::size_t i = 0; i < std::size(infoRows); ++i) {
    const auto& row = infoRows[i];
    const int y = 18 + static_cast<int>(i) * 20;
    *row.caption = MakeLabel(GroupBox7, row.captionName, row.captionText, 8, y, 58);
    *row.value = MakeLabel(GroupBox7, row.valueName, QString::fromLatin1(row.valueName), 68, y, 88);
  }

  GroupBox4 = MakeGroup(page, "GroupBox4", QStringLiteral(" Отмеченные пункты при вызове "), 2,
                        109, 529, 81);
  Label16 = MakeLabel(GroupBox4, "Label16", QStringLiteral("Label16"), 8, 18, 513, 57);
  Label16->setWordWrap(true);
  Label16->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Label32 = MakeLabel(GroupBox4, "Label32", QStringLiteral("SQL запрос"), 8, 60, 100);
  Label32->hide();
  MakeCaptionBold(GroupBox4);

  Memo1 = Make<QPlainTextEdit>(page, "Memo1", 2, 192, 529, 70);
  Memo1->setPlainText(QStringLiteral("Memo1"));
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

  // Label31 lies under GroupBox6 and shows only while the group is hidden.
  Label31 = MakeLabel(page, "Label31", QStringLiteral("Label31"), 2, 264, 529, 41);
  Label31->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  Label31->setWordWrap(true);
  GroupBox6 = MakeGroup(page, "GroupBox6", QStringLiteral(" Отклонение заявки "), 2, 264, 529, 41);
  ComboBox3 = MakeCombo(
      GroupBox6, "ComboBox3", 8, 15, 433,
      {QStringLiteral("Без причины"),
       QStringLiteral("Необоснованная заявка. Для уточнения обратитесь в регистратуру"),
       QStringLiteral("В программе не указан Ваш адрес. Обратитесь в регистратуру"),
       QStringLiteral("Не удается дозвониться по указанному номеру телефона"),
       QStringLiteral("Обход участка врачом на сегодня окончен")});
  Button2 = MakeButton(GroupBox6, "Button2", QStringLiteral("Отклонить"), 447, 13, 75, 25);
  {
    QPalette palette = Button2->palette();
    palette.setColor(QPalette::ButtonText, QColor(0, 128, 0));  // green
    Button2->setPalette(palette);
  }
  GroupBox6->setAutoFillBackground(true);  // hides Label31 completely
  GroupBox6->raise();

  GroupBox5 = MakeGroup(page, "GroupBox5", QStringLiteral(" Принятие заявки  "), 2, 307, 529, 49);
  Label17 = MakeLabel(GroupBox5, "Label17", QStringLiteral("Врач"), 8, 23);
  ComboBox1 = MakeCombo(GroupBox5, "ComboBox1", After(Label17, 4), 19, 230,
                        {QStringLiteral("Врач не выбран")});
  Label18 = MakeLabel(GroupBox5, "Label18", QStringLiteral("Время"), After(ComboBox1, 8), 23);
  ComboBox2 = MakeCombo(GroupBox5, "ComboBox2", After(Label18, 4), 19, 137,
                        {QStringLiteral("В течение дня"), QStringLiteral("До обеда"),
                         QStringLiteral("После обеда")});
  Button1 = MakeButton(GroupBox5, "Button1", QStringLiteral("Записать"), 455, 16, 68, 27);
  Button1->setFont(PixelFont(11, true));

  // The free strip under the decision groups; the placeholder covers it.
  Label39 = MakeLabel(page, "Label39", QString(), 2, 358, 529, 16);
  Label39->setTextFormat(Qt::PlainText);
  Label39->setFont(PixelFont(11, true));
  {
    QPalette palette = Label39->palette();
    palette.setColor(QPalette::WindowText, QColor(192, 0, 0));
    Label39->setPalette(palette);
  }
  Label39->hide();

  // The placeholder at its design size; FormCreate makes it cover the page.
  Panel3 = Make<QLabel>(page, "Panel3", 176, 150, 185, 41);
  Panel3->setText(QStringLiteral("Выберите заявку в левом меню"));
  Panel3->setAlignment(Qt::AlignCenter);
  Panel3->setFrameStyle(QFrame::Panel | QFrame::Raised);
  Panel3->setAutoFillBackground(true);
  page->installEventFilter(this);
}

void TForm1::BuildSettingsPage() {
  QWidget* page = TabSheet2;

  GroupBox1 = MakeGroup(page, "GroupBox1", QStringLiteral(" Авторизация "), 8, 8, 250, 72);
  Label2 = MakeLabel(GroupBox1, "Label2", QStringLiteral("Код клиента"), 8, 22);
  Edit2 = MakeEdit(GroupBox1, "Edit2", After(Label2), 18, 41);
  Label3 = MakeLabel(GroupBox1, "Label3", QStringLiteral("Пароль"), After(Edit2, 10), 22);
  Edit3 = MakeEdit(GroupBox1, "Edit3", After(Label3), 18, 242 - After(Label3));
  BitBtn1 = MakeButton(GroupBox1, "BitBtn1", QStringLiteral("Проверить"), 152, 42, 90, 25);

  GroupBox2 = MakeGroup(page, "GroupBox2", QStringLiteral(" Путь к программе "), 8, 86, 520, 104);
  Label38 = MakeLabel(GroupBox2, "Label38", QStringLiteral("Путь к папке"), 8, 22);
  Edit10 = MakeEdit(GroupBox2, "Edit10", After(Label38), 18, 193);
  BitBtn7 = MakeButton(GroupBox2, "BitBtn7", QStringLiteral("Тест"), After(Edit10), 16, 75, 25);
  Label8 = MakeLabel(GroupBox2, "Label8",
                     QStringLiteral("Путь указываем к директории регистратуры. Пример C:\\Korvan2013 "
                                    "Нажмите \"Тест\" - должно отобразиться число врачей в больнице. "
                                    "База данных должна находиться на этом компьютере По сети "
                                    "работать будет очень медленно"),
                     8, 46, 504, 52);
  MakeHint(Label8);

  GroupBox8 = MakeGroup(page, "GroupBox8", QStringLiteral(" Код участковых врачей"), 8, 196, 520,
                        84);
  Label12 = MakeLabel(GroupBox8, "Label12", QStringLiteral("Взрослый"), 8, 22);
  Edit1 = MakeEdit(GroupBox8, "Edit1", After(Label12), 18, 41);
  Label13 = MakeLabel(GroupBox8, "Label13", QStringLiteral("Детский"), After(Edit1, 12), 22);
  Edit4 = MakeEdit(GroupBox8, "Edit4", After(Label13), 18, 41);
  Button3 = MakeButton(GroupBox8, "Button3", QStringLiteral("Проверить"), After(Edit4, 10), 16, 90,
                       25);
  Label37 = MakeLabel(GroupBox8, "Label37",
                      QStringLiteral("Стандартные варианты: взрослый: 61, детский 78. Вы можете "
                                     "поставить 0 если у вас только взрослая или детская больница"),
                      8, 46, 504, 32);
  MakeHint(Label37);

  BitBtn9 = MakeButton(page, "BitBtn9", QStringLiteral("Установить драйвер ODBC"), 8, 290, 180, 27);
  BitBtn2 = MakeButton(page, "BitBtn2", QStringLiteral("Сохранить настройки"), 348, 290, 180, 27);
}

void TForm1::BuildProxyPage() {
  QWidget* page = TabSheet3;
  Label5 = MakeLabel(page, "Label5", QStringLiteral("Настройка Proxy подключения"), 8, 8, -1, 16);
  Label5->setFont(PixelFont(13, true));
  Label5->adjustSize();
  Label42 = MakeLabel(page, "Label42", QStringLiteral("IP proxy"), 8, 42);
  Edit12 = MakeEdit(page, "Edit12", 64, 38, 160);
  Label43 = MakeLabel(page, "Label43", QStringLiteral("Login"), 8, 68);
  Edit13 = MakeEdit(page, "Edit13", 64, 64, 160);
  Label44 = MakeLabel(page, "Label44", QStringLiteral("Pass"), 8, 94);
  Edit14 = MakeEdit(page, "Edit14", 64, 90, 160);
  Label45 = MakeLabel(page, "Label45", QStringLiteral("Port"), 8, 120);
  Edit15 = MakeEdit(page, "Edit15", 64, 116, 60);
  SpeedButton4 = Make<QToolButton>(page, "SpeedButton4", 8, 148, 160, 25);
  SpeedButton4->setText(QStringLiteral("Проверить подключение"));
  SpeedButton1 = Make<QToolButton>(page, "SpeedButton1", 176, 148, 100, 25);
  SpeedButton1->setText(QStringLiteral("Сохранить"));
}

void TForm1::BuildStatusBar() {
  StatusBar1 = new QStatusBar(this);
  StatusBar1->setObjectName(QStringLiteral("StatusBar1"));
  StatusBar1->setSizeGripEnabled(false);
  StatusBar1->setFixedHeight(19);
  StatusBar1->setContentsMargins(0, 0, 0, 0);
  const int widths[] = {50, 50, 50, 200, 50};
  const Qt::Alignment alignments[] = {Qt::AlignHCenter, Qt::AlignHCenter, Qt::AlignHCenter,
                                      Qt::AlignLeft, Qt::AlignLeft};
  const QString texts[] = {QStringLiteral("Версия"), QString(), QStringLiteral("Сеть"), QString(),
                           QString()};
  for (int i = 0; i < 5; ++i) {
    auto* panel = new StatusPanelLabel(texts[i], StatusBar1);
    panel->setObjectName(QStringLiteral("StatusPanel%1").arg(i));
    panel->setFixedWidth(widths[i]);
    panel->setAlignment(alignments[i] | Qt::AlignVCenter);
    panel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
    panel->setTextFormat(Qt::PlainText);
    StatusBar1->addWidget(panel);
    statusPanels_[i] = panel;
  }
  setStatusBar(StatusBar1);
}

void TForm1::BuildMenu() {
  MainMenu1 = new QMenuBar(this);
  MainMenu1->setObjectName(QStringLiteral("MainMenu1"));
  N1 = MainMenu1->addMenu(QStringLiteral("Меню"));
  N1->setObjectName(QStringLiteral("N1"));
  N5 = N1->addAction(QStringLiteral("Проверить обновление"));
  N5->setObjectName(QStringLiteral("N5"));
  N2 = N1->addAction(QStringLiteral("Выход"));
  N2->setObjectName(QStringLiteral("N2"));
  // A top item without sub-items acts on its own click.
  N3 = MainMenu1->addAction(QStringLiteral("Настройки больницы"));
  N3->setObjectName(QStringLiteral("N3"));
  N6 = MainMenu1->addAction(QStringLiteral("Журнал решений"));
  N6->setObjectName(QStringLiteral("N6"));
  setMenuBar(MainMenu1);
}

void TForm1::ConnectHandlers() {
  auto guarded = [this](void (TForm1::*handler)()) {
    return [this, handler] { Guard([this, handler] { (this->*handler)(); }); };
  };
  connect(N5, &QAction::triggered, this, guarded(&TForm1::N5Click));
  connect(N2, &QAction::triggered, this, guarded(&TForm1::N2Click));
  connect(N3, &QAction::triggered, this, guarded(&TForm1::N3Click));
  connect(N6, &QAction::triggered, this, guarded(&TForm1::N6Click));
  connect(Button1, &QPushButton::clicked, this, guarded(&TForm1::Button1Click));
  connect(Button2, &QPushButton::clicked, this, guarded(&TForm1::Button2Click));
  connect(Button3, &QPushButton::clicked, this, guarded(&TForm1::Button3Click));
  connect(Button4, &QPushButton::clicked, this, guarded(&TForm1::Button4Click));
  connect(BitBtn1, &QPushButton::clicked, this, guarded(&TForm1::BitBtn1Click));
  connect(BitBtn2, &QPushButton::clicked, this, guarded(&TForm1::BitBtn2Click));
  connect(BitBtn7, &QPushButton::clicked, this, guarded(&TForm1::BitBtn7Click));
  connect(BitBtn9, &QPushButton::clicked, this, guarded(&TForm1::BitBtn9Click));
  connect(SpeedButton1, &QToolButton::clicked, this, guarded(&TForm1::SpeedButton1Click));
  connect(SpeedButton4, &QToolButton::clicked, this, guarded(&TForm1::SpeedButton4Click));
  connect(Timer1, &QTimer::timeout, this, guarded(&TForm1::Timer1Timer));
  connect(Timer2, &QTimer::timeout, this, guarded(&TForm1::Timer2Timer));
  // A list's click: a mouse click on an item, or the keyboard moving the
  // selection (checked after the key has been handled, see eventFilter).
  connect(ListBox1, &QListWidget::itemClicked, this, guarded(&TForm1::ListBox1Click));
  connect(ListBox2, &QListWidget::itemClicked, this, guarded(&TForm1::ListBox2Click));
  ListBox1->installEventFilter(this);
  ListBox2->installEventFilter(this);
}

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
  if (watched == TabSheet1 && event->type() == QEvent::Resize && placeholderFills_) {
    FillPageWithPlaceholder();
  }
  if ((watched == ListBox1 || watched == ListBox2) && event->type() == QEvent::KeyPress) {
    auto* list = static_cast<QListWidget*>(watched);
    const int before = list->currentRow();
    // Let the list move its selection first, then act like a click.
    QTimer::singleShot(0, this, [this, list, before] {
      if (list->currentRow() == before || list->currentRow() < 0) return;
      Guard([this, list] {
        if (list == ListBox1) {
          ListBox1Click();
        } else {
          ListBox2Click();
        }
      });
    });
  }
  return QMainWindow::eventFilter(watched, event);
}

void TForm1::FillPageWithPlaceholder() {
  Panel3->setGeometry(TabSheet1->rect());
  Panel3->raise();
}

}  // namespace ravelto::app
