// The operator's aids around the specified window, none of which changes a
// specified caption, control, list line, request, timer or message:
//   - alerts: a poll that brings an id this desk has not seen in the new list
//     before plays a sound and flashes the taskbar button (each switched in
//     the menu "Оповещения"); the tray shows the count of waiting requests;
//   - waiting times painted beside the ids (WaitingDelegate), first-seen
//     times kept in DeskState; the card's patient as the line's tooltip;
//   - keys: Enter and the arrows in the lists, Ctrl+1..Ctrl+5 to the lists
//     and the decision fields, Ctrl+Enter "Записать", F8 "Отклонить", a tab
//     order through the decision, the focus back to the new list after a
//     decision;
//   - the freshness panel after the five status panels.

#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QShortcut>
#include <QStatusBar>
#include <QTabWidget>
#include <QTimer>

#include <utility>

#include "app/desk_state.h"
#include "app/form1.h"
#include "app/platform.h"
#include "app/text_codec.h"
#include "app/waiting_delegate.h"

namespace ravelto::app {

namespace {

// How often the painted waiting times are brought up to date.
constexpr int kRepaintMs = 15000;

// Hands key presses of the watched widgets to a function; true consumes.
class KeyFilter : public QObject {
 public:
  KeyFilter(std::function<bool(QObject*, QKeyEvent*)> onKey, QObject* parent)
      : QObject(parent), onKey_(std::move(onKey)) {}

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::KeyPress && onKey_(watched, static_cast<QKeyEvent*>(event))) {
      return true;
    }
    return QObject::eventFilter(watched, event);
  }

 private:
  std::function<bool(QObject*, QKeyEvent*)> onKey_;
};

bool IsEnter(const QKeyEvent* key) {
  return key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
}

QStringList Lines(const QListWidget* list) {
  QStringList lines;
  for (int i = 0; i < list->count(); ++i) lines << list->item(i)->text();
  return lines;
}

// A moment as the freshness panel shows it: the time, with the day when it
// was not today.
QString Moment(const QDateTime& when, const QDateTime& now) {
  return when.date() == now.date() ? when.toString(QStringLiteral("HH:mm:ss"))
                                   : when.toString(QStringLiteral("dd.MM HH:mm"));
}

}  // namespace

QString TForm1::KeysHelpText() {
  return QStringLiteral(
      "Клавиши управления\n"
      "Ctrl+1 - список новых заявок, Ctrl+2 - список обработанных заявок\n"
      "Стрелки вверх и вниз - выбрать заявку в списке (её карточка открывается)\n"
      "Enter в списке - открыть карточку выбранной заявки\n"
      "Ctrl+3 - врач, Ctrl+4 - время, Ctrl+5 - причина отклонения\n"
      "Ctrl+Enter - \"Записать\", F8 - \"Отклонить\"\n"
      "Tab и Shift+Tab - по порядку: списки, врач, время, \"Записать\", причина, \"Отклонить\"\n"
      "Enter или пробел на кнопке - нажать её\n"
      "После решения курсор возвращается в список новых заявок.");
}

void TForm1::ShowKeysHelp() { platform_->ShowMessage(this, KeysHelpText()); }

void TForm1::BuildDeskAids() {
  deskState_ = std::make_unique<DeskState>(
      QDir::current().absoluteFilePath(QString::fromLatin1(DeskState::kFileName)));

  // Menus beside the specified ones.
  AlertsMenu = MainMenu1->addMenu(QStringLiteral("Оповещения"));
  AlertsMenu->setObjectName(QStringLiteral("AlertsMenu"));
  SoundAction = AlertsMenu->addAction(QStringLiteral("Звук при новой заявке"));
  SoundAction->setObjectName(QStringLiteral("SoundAction"));
  SoundAction->setCheckable(true);
  SoundAction->setChecked(deskState_->SoundOn());
  FlashAction = AlertsMenu->addAction(QStringLiteral("Мигание кнопки на панели задач"));
  FlashAction->setObjectName(QStringLiteral("FlashAction"));
  FlashAction->setCheckable(true);
  FlashAction->setChecked(deskState_->FlashOn());
  connect(SoundAction, &QAction::toggled, this, [this](bool on) { deskState_->SetSoundOn(on); });
  connect(FlashAction, &QAction::toggled, this, [this](bool on) { deskState_->SetFlashOn(on); });
  HelpMenu = MainMenu1->addMenu(QStringLiteral("Справка"));
  HelpMenu->setObjectName(QStringLiteral("HelpMenu"));
  KeysAction = HelpMenu->addAction(QStringLiteral("Клавиши управления"));
  KeysAction->setObjectName(QStringLiteral("KeysAction"));
  connect(KeysAction, &QAction::triggered, this, [this] { ShowKeysHelp(); });

  // The freshness panel after the five specified panels.
  FreshnessPanel = new QLabel(StatusBar1);
  FreshnessPanel->setObjectName(QStringLiteral("FreshnessPanel"));
  FreshnessPanel->setFixedWidth(230);
  FreshnessPanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  FreshnessPanel->setTextFormat(Qt::PlainText);
  StatusBar1->addWidget(FreshnessPanel);

  // Waiting times beside the ids; rows keep their heights (19 and 13 px).
  auto clock = [this] { return platform_->Now(); };
  NewListDelegate = new WaitingDelegate(19, true, deskState_.get(), clock, ListBox1);
  ProcessedListDelegate = new WaitingDelegate(13, false, deskState_.get(), clock, ListBox2);
  for (auto [list, delegate] :
       {std::pair{ListBox1, NewListDelegate}, std::pair{ListBox2, ProcessedListDelegate}}) {
    QAbstractItemDelegate* old = list->itemDelegate();
    list->setItemDelegate(delegate);
    delete old;
  }
  auto* repaint = new QTimer(this);
  repaint->setObjectName(QStringLiteral("WaitingRepaint"));
  repaint->setInterval(kRepaintMs);
  connect(repaint, &QTimer::timeout, this, [this] {
    ListBox1->viewport()->update();
    ListBox2->viewport()->update();
  });
  repaint->start();

  // Keys. In a list: Enter opens the current line's card; the first arrow
  // after the list got the focus opens the line the focus rests on (Qt puts
  // the focus on the first line without choosing it).
  auto* keys = new KeyFilter(
      [this](QObject* watched, QKeyEvent* key) {
        if (watched == Button1 || watched == Button2) {
          if (!IsEnter(key) || key->modifiers() & ~Qt::KeypadModifier) return false;
          static_cast<QPushButton*>(watched)->click();
          return true;
        }
        auto* list = static_cast<QListWidget*>(watched);
        const bool arrow = key->key() == Qt::Key_Up || key->key() == Qt::Key_Down;
        if (!IsEnter(key) && !arrow) return false;
        QListWidgetItem* current = list->currentItem();
        if (!current || (arrow && current->isSelected())) return false;
        list->setCurrentItem(current, QItemSelectionModel::ClearAndSelect);
        Guard([this, list] {
          if (list == ListBox1) {
            ListBox1Click();
          } else {
            ListBox2Click();
          }
        });
        return true;
      },
      this);
  for (QObject* watched : {static_cast<QObject*>(ListBox1), static_cast<QObject*>(ListBox2),
                           static_cast<QObject*>(Button1), static_cast<QObject*>(Button2)}) {
    watched->installEventFilter(keys);
  }

  auto shortcut = [this](QKeyCombination keys, std::function<void()> action) {
    auto* s = new QShortcut(QKeySequence(keys), this);
    connect(s, &QShortcut::activated, this, std::move(action));
  };
  auto focusCardField = [this](QWidget* field) {
    if (Panel3->isHidden() && PageControl1->currentWidget() == TabSheet1 && field->isVisible()) {
      field->setFocus(Qt::ShortcutFocusReason);
    }
  };
  shortcut(Qt::CTRL | Qt::Key_1, [this] { ListBox1->setFocus(Qt::ShortcutFocusReason); });
  shortcut(Qt::CTRL | Qt::Key_2, [this] { ListBox2->setFocus(Qt::ShortcutFocusReason); });
  shortcut(Qt::CTRL | Qt::Key_3, [this, focusCardField] { focusCardField(ComboBox1); });
  shortcut(Qt::CTRL | Qt::Key_4, [this, focusCardField] { focusCardField(ComboBox2); });
  shortcut(Qt::CTRL | Qt::Key_5, [this, focusCardField] { focusCardField(ComboBox3); });
  shortcut(Qt::CTRL | Qt::Key_Return, [this] { PressDecision(Button1); });
  shortcut(Qt::CTRL | Qt::Key_Enter, [this] { PressDecision(Button1); });
  shortcut(QKeyCombination(Qt::Key_F8), [this] { PressDecision(Button2); });

  // Tab goes through a decision as the fields stand on the card.
  setTabOrder(ListBox1, ListBox2);
  setTabOrder(ListBox2, ComboBox1);
  setTabOrder(ComboBox1, ComboBox2);
  setTabOrder(ComboBox2, Button1);
  setTabOrder(Button1, ComboBox3);
  setTabOrder(ComboBox3, Button2);

  // After a decision (its handler connected before this), back to the list.
  connect(Button1, &QPushButton::clicked, this, [this] { FocusNextWaiting(); });
  connect(Button2, &QPushButton::clicked, this, [this] { FocusNextWaiting(); });
}

void TForm1::PressDecision(QPushButton* button) {
  if (Panel3->isHidden() && PageControl1->currentWidget() == TabSheet1 && button->isVisible() &&
      button->isEnabled()) {
    button->click();
  }
}

void TForm1::FocusNextWaiting() {
  ListBox1->setFocus(Qt::OtherFocusReason);
  if (ListBox1->count() > 0 && !ListBox1->currentItem()) {
    ListBox1->setCurrentRow(0, QItemSelectionModel::NoUpdate);
  }
}

void TForm1::AfterPoll(bool answered) {
  const QDateTime now = platform_->Now();
  if (answered) {
    const QStringList arrived = deskState_->Observe(Lines(ListBox1), Lines(ListBox2), now);
    if (!arrived.isEmpty()) {
      if (deskState_->SoundOn()) platform_->PlayAlertSound();
      if (deskState_->FlashOn()) platform_->FlashWindow(this);
    }
    lastAnswer_ = now;
    silentSince_ = QDateTime();
  } else if (!silentSince_.isValid()) {
    silentSince_ = now;
  }
  platform_->ShowWaitingCount(this, ListBox1->count());

  for (QListWidget* list : {ListBox1, ListBox2}) {
    for (int i = 0; i < list->count(); ++i) {
      QListWidgetItem* item = list->item(i);
      const auto tip = cardTips_.constFind(item->text());
      if (tip != cardTips_.constEnd()) item->setToolTip(*tip);
    }
  }
  UpdateFreshness();

  // A poll empties the lists: a focus left nowhere goes to the new list.
  if (isActiveWindow()) {
    QWidget* focused = focusWidget();
    if (!focused || !focused->isVisible()) ListBox1->setFocus(Qt::OtherFocusReason);
  }
}

void TForm1::UpdateFreshness() {
  const QDateTime now = platform_->Now();
  if (silentSince_.isValid()) {
    FreshnessPanel->setText(QStringLiteral("Служба не отвечает с ") + Moment(silentSince_, now));
    FreshnessPanel->setToolTip(lastAnswer_.isValid() ? QStringLiteral("Последний ответ службы: ") +
                                                           Moment(lastAnswer_, now)
                                                     : QStringLiteral("Служба ещё не отвечала"));
  } else if (lastAnswer_.isValid()) {
    FreshnessPanel->setText(QStringLiteral("Список обновлён в ") + Moment(lastAnswer_, now));
    FreshnessPanel->setToolTip(QString());
  }
}

void TForm1::RememberCard(const std::string& requestId) {
  QString address = Label10->text().trimmed();
  if (address.isEmpty()) address = Label7->text().trimmed();
  const QString tip = Label4->text().trimmed() + QLatin1Char('\n') + address;
  const QString id = ToQt(requestId);
  cardTips_.insert(id, tip);
  for (QListWidget* list : {ListBox1, ListBox2}) {
    for (int i = 0; i < list->count(); ++i) {
      if (list->item(i)->text() == id) list->item(i)->setToolTip(tip);
    }
  }
}

}  // namespace ravelto::app
