// The decision journal on the window's side: opening it, the journal steps of
// the decisions, the pending-write announcement at start-up, the journal
// window (N6Click) with its retry of a registry write, and the card's
// repeat-visit line (Label39). A journal that cannot be opened or written is
// reported once; the decisions go on without it.

#include <QComboBox>
#include <QDir>
#include <QLabel>
#include <QTimer>

#include <cmath>
#include <iostream>

#include "app/desk/card_text.h"
#include "app/desk/registry_steps.h"
#include "app/form1.h"
#include "app/journal/journal.h"
#include "app/journal_window.h"
#include "app/platform.h"
#include "app/text_codec.h"

namespace ravelto::app {

namespace {

// "HH:MM" of a registry date-time (days since 1899-12-30, time as fraction).
std::string TimeOfDay(double serial) {
  const double fraction = serial - std::floor(serial);
  const int minutes = static_cast<int>(std::lround(fraction * 24 * 60)) % (24 * 60);
  char text[8];
  std::snprintf(text, sizeof text, "%02d:%02d", minutes / 60, minutes % 60);
  return text;
}

}  // namespace

std::string TForm1::JournalNow() {
  return platform_->Now().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")).toStdString();
}

journal::Journal* TForm1::DecisionJournal() {
  if (journal_) return journal_.get();
  const QString path = QDir::current().absoluteFilePath(
      QString::fromLatin1(journal::kJournalFileName.data(),
                          static_cast<qsizetype>(journal::kJournalFileName.size())));
  try {
    journal_ = std::make_unique<journal::Journal>(path.toStdString());
  } catch (const std::exception& e) {
    ReportJournalFailure(e);
  }
  return journal_.get();
}

void TForm1::ReportJournalFailure(const std::exception& e) {
  std::cerr << "ravelto: " << e.what() << std::endl;
  if (journalFailureShown_) return;
  journalFailureShown_ = true;
  // Shown once the current handler is done, so the decision's own steps and
  // boxes run exactly as without a journal. The reason is told in Russian
  // with the journal's file name; SQLite's own message went to the standard
  // error above.
  const QString text = ToQt(desk::DescribeJournalFailure(e));
  QTimer::singleShot(0, this, [this, text] { platform_->ShowMessage(this, text); });
}

std::int64_t TForm1::JournalRecord(const journal::Entry& entry) {
  journal::Journal* j = DecisionJournal();
  if (!j) return 0;
  try {
    return j->Record(entry);
  } catch (const std::exception& e) {
    ReportJournalFailure(e);
    return 0;
  }
}

void TForm1::JournalStep(const std::function<void(journal::Journal&)>& step) {
  // Steps of a decision that could not be recorded are skipped.
  journal::Journal* j = journal_.get();
  if (!j) return;
  try {
    step(*j);
  } catch (const std::exception& e) {
    ReportJournalFailure(e);
  }
}

void TForm1::AnnouncePendingWrites() {
  if (pendingAnnounced_) return;
  pendingAnnounced_ = true;
  journal::Journal* j = DecisionJournal();
  if (!j) return;
  std::vector<journal::Entry> pending;
  try {
    pending = j->PendingWrites();
  } catch (const std::exception& e) {
    ReportJournalFailure(e);
    return;
  }
  if (pending.empty()) return;
  QString ids;
  for (const journal::Entry& e : pending) {
    if (!ids.isEmpty()) ids += QStringLiteral(", ");
    ids += ToQt(e.requestId);
  }
  ShowMessage(QStringLiteral("Не записаны в регистр принятые заявки (%1): %2.\n"
                             "Откройте «Журнал решений» и нажмите «Повторить запись».")
                  .arg(pending.size())
                  .arg(ids));
}

bool TForm1::RetryRegistryWrite(std::int64_t entryId) {
  journal::Journal* j = DecisionJournal();
  if (!j) return false;
  std::optional<journal::Entry> entry;
  try {
    entry = j->Find(entryId);
  } catch (const std::exception& e) {
    platform_->ShowError(this, FailureBoxText(e, desk::FailureSetting::kGeneral));
    return false;
  }
  if (!entry || (entry->registryState != journal::RegistryState::kPending &&
                 entry->registryState != journal::RegistryState::kFailed)) {
    return false;
  }
  JournalStep([&](journal::Journal& jj) { jj.BeginRegistryWrite(entryId, JournalNow()); });
  try {
    desk::CompleteAcceptedRow(ADO, SQL, entry->values, entry->fragment);
  } catch (const std::exception& e) {
    // A retry closes what it opened: it has no later step to leave it to.
    const std::string message = e.what();
    const QString shown = FailureBoxText(e, desk::FailureSetting::kRetryJournal);
    try {
      ADO.SetConnected(false);
    } catch (...) {
    }
    JournalStep([&](journal::Journal& jj) {
      jj.SetRegistryOutcome(entryId, false, message, JournalNow());
    });
    platform_->ShowError(this, shown);
    return false;
  }
  JournalStep([&](journal::Journal& jj) { jj.SetRegistryOutcome(entryId, true, "", JournalNow()); });
  return true;
}

void TForm1::N6Click() {
  journal::Journal* j = DecisionJournal();
  if (!j) {
    ShowMessage(QStringLiteral("Журнал решений недоступен."));
    return;
  }
  JournalWindow window(
      j, platform_->Today(), [this](std::int64_t id) { RetryRegistryWrite(id); }, this,
      [this](const std::function<void()>& fn) { Guard(fn); });
  platform_->RunDialog(&window);
}

void TForm1::UpdateRepeatVisitLine(const std::string& patientCode) {
  Label39->hide();
  if (patientCode.empty()) return;
  const QDate today = platform_->Today();
  const double todaySerial = static_cast<double>(QDate(1899, 12, 30).daysTo(today));
  std::string when;
  std::string doctor;

  // The registry: m1042 rows of the patient whose visit time is today, read
  // over a connection of its own so that the card's connection and statement
  // object see exactly the card's queries. The engine walks the KL tag for
  // "kl = N" when the table's index has one.
  try {
    registry::Connection connection;
    connection.SetConnectionString(ADO.ConnectionString());
    connection.SetConnected(true);
    registry::Query query(connection);
    if (desk::IsWholeNumber(patientCode) &&
        desk::RunQuery(query, "select * from m1042 where kl=" + patientCode)) {
      double latest = -1;
      std::string latestKw;
      for (query.First(); !query.Eof(); query.Next()) {
        const double at = query.AsDateTime("vr_z");
        if (std::floor(at) != todaySerial || at < latest) continue;
        latest = at;
        latestKw = desk::TrimText(query.AsText("kw"));
      }
      if (latest >= 0) {
        when = TimeOfDay(latest);
        doctor = latestKw == "0" || latestKw.empty() ? "" : "(" + latestKw + ")";
        // The doctors' list just built names the doctor of that code.
        for (int i = 1; i < ComboBox1->count() && !doctor.empty(); ++i) {
          const std::string entry = FromQt(ComboBox1->itemText(i));
          if (entry.size() > doctor.size() &&
              entry.compare(entry.size() - doctor.size(), doctor.size(), doctor) == 0) {
            doctor = entry;
            break;
          }
        }
        if (doctor.empty()) doctor = FromQt(QStringLiteral("Врач не указан"));
      }
    }
    connection.SetConnected(false);
  } catch (...) {
    // No registry answer: the journal may still know.
  }

  if (when.empty() && journal_) {
    try {
      const std::string day = today.toString(QStringLiteral("yyyy-MM-dd")).toStdString();
      if (auto accept = journal_->AcceptOfDay(day, patientCode)) {
        when = accept->decidedAt.size() >= 16 ? accept->decidedAt.substr(11, 5) : "";
        doctor = accept->values.doctorText;
      }
    } catch (...) {
    }
  }
  if (when.empty()) return;
  Label39->setText(QStringLiteral("Вызов на сегодня уже записан: ") + ToQt(when) +
                   QStringLiteral(", ") + ToQt(doctor));
  Label39->show();
  Label39->raise();
}

}  // namespace ravelto::app
