#include "app/journal_window.h"

#include <QDateEdit>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "app/journal/journal.h"
#include "app/text_codec.h"

namespace ravelto::app {

namespace {

enum Column { kTime, kRequest, kPatient, kDecision, kDetail, kAnswer, kAction, kRegistry, kCount };

// The underscores of a sent text back to spaces, as the operator chose it.
QString AsChosen(const std::string& sent) {
  QString text = ToQt(sent);
  text.replace(QLatin1Char('_'), QLatin1Char(' '));
  return text;
}

}  // namespace

QString RegistryOutcomeText(int registryState, const QString& message) {
  switch (static_cast<journal::RegistryState>(registryState)) {
    case journal::RegistryState::kWritten:
      return QStringLiteral("записано");
    case journal::RegistryState::kPending:
      return QStringLiteral("не записано в регистр (запись не завершена)");
    case journal::RegistryState::kFailed:
      return QStringLiteral("не записано в регистр: ") + message;
    case journal::RegistryState::kNone:
      break;
  }
  return QStringLiteral("—");
}

JournalWindow::JournalWindow(journal::Journal* journal, QDate today,
                             std::function<void(std::int64_t)> retry, QWidget* parent, Guard guard)
    : QDialog(parent), journal_(journal), retry_(std::move(retry)), guard_(std::move(guard)) {
  if (!guard_) guard_ = [](const std::function<void()>& fn) { fn(); };
  setObjectName(QStringLiteral("JournalWindow"));
  setWindowTitle(QStringLiteral("Журнал решений"));
  resize(1000, 420);

  auto* top = new QHBoxLayout;
  top->addWidget(new QLabel(QStringLiteral("День:"), this));
  DayEdit = new QDateEdit(today, this);
  DayEdit->setObjectName(QStringLiteral("DayEdit"));
  DayEdit->setCalendarPopup(true);
  DayEdit->setDisplayFormat(QStringLiteral("dd.MM.yyyy"));
  top->addWidget(DayEdit);
  top->addSpacing(16);
  top->addWidget(new QLabel(QStringLiteral("Код пациента:"), this));
  PatientFilter = new QLineEdit(this);
  PatientFilter->setObjectName(QStringLiteral("PatientFilter"));
  PatientFilter->setClearButtonEnabled(true);
  top->addWidget(PatientFilter);
  top->addStretch(1);

  Entries = new QTableWidget(0, kCount, this);
  Entries->setObjectName(QStringLiteral("Entries"));
  Entries->setHorizontalHeaderLabels(
      {QStringLiteral("Время"), QStringLiteral("Заявка"), QStringLiteral("Пациент"),
       QStringLiteral("Решение"), QStringLiteral("Врач, время / причина"),
       QStringLiteral("Ответ службы"), QString(), QStringLiteral("Регистр")});
  Entries->setEditTriggers(QAbstractItemView::NoEditTriggers);
  Entries->setSelectionBehavior(QAbstractItemView::SelectRows);
  Entries->verticalHeader()->hide();
  Entries->horizontalHeader()->setStretchLastSection(true);

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(Entries);

  connect(DayEdit, &QDateEdit::dateChanged, this, [this] { guard_([this] { Reload(); }); });
  connect(PatientFilter, &QLineEdit::textChanged, this, [this] { guard_([this] { Reload(); }); });
  Reload();
}

void JournalWindow::Reload() {
  const std::string day = DayEdit->date().toString(QStringLiteral("yyyy-MM-dd")).toStdString();
  const std::vector<journal::Entry> rows =
      journal_->Day(day, FromQt(PatientFilter->text().trimmed()));
  Entries->setRowCount(0);
  Entries->setRowCount(static_cast<int>(rows.size()));
  for (int r = 0; r < static_cast<int>(rows.size()); ++r) {
    const journal::Entry& e = rows[static_cast<std::size_t>(r)];
    const bool accept = e.decision == journal::Decision::kAccept;
    const QString cells[] = {
        ToQt(e.decidedAt.size() >= 19 ? e.decidedAt.substr(11, 8) : e.decidedAt),
        ToQt(e.requestId),
        ToQt(e.patientName) + QStringLiteral(" (") + ToQt(e.patientCode) + QStringLiteral(")"),
        accept ? QStringLiteral("принята") : QStringLiteral("отклонена"),
        accept ? AsChosen(e.doctor) + QStringLiteral(", ") + AsChosen(e.partOfDay)
               : AsChosen(e.reason),
        e.serviceAnswer ? ToQt(*e.serviceAnswer) : QStringLiteral("нет ответа"),
        RegistryOutcomeText(static_cast<int>(e.registryState), ToQt(e.registryMessage)),
    };
    for (int c = 0; c < kCount; ++c) {
      if (c == kAction) continue;
      const QString& text = cells[c < kAction ? c : c - 1];
      auto* item = new QTableWidgetItem(text);
      item->setToolTip(text);
      Entries->setItem(r, c, item);
    }
    if (e.registryState == journal::RegistryState::kPending ||
        e.registryState == journal::RegistryState::kFailed) {
      auto* button = new QPushButton(QStringLiteral("Повторить запись"), Entries);
      button->setObjectName(QStringLiteral("Retry%1").arg(e.id));
      const std::int64_t id = e.id;
      connect(button, &QPushButton::clicked, this, [this, id] {
        guard_([this, id] { retry_(id); });
        // Reloading replaces this button: done once its click has returned.
        QMetaObject::invokeMethod(this, [this] { guard_([this] { Reload(); }); }, Qt::QueuedConnection);
      });
      Entries->setCellWidget(r, kAction, button);
      Entries->item(r, kRegistry)->setForeground(QColor(192, 0, 0));
    }
  }
  Entries->resizeColumnsToContents();
}

}  // namespace ravelto::app
