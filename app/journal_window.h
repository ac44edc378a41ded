#pragma once
// JournalWindow: the decision journal's window. Lists the decisions of one
// day (today at first), newest first, optionally only one patient's; an
// accept whose registry write is pending or failed is marked "не записано в
// регистр" and has a "Повторить запись" button.

#include <QDate>
#include <QDialog>

#include <cstdint>
#include <functional>

class QDateEdit;
class QLineEdit;
class QTableWidget;

namespace ravelto::journal {
class Journal;
}

namespace ravelto::app {

class JournalWindow : public QDialog {
  Q_OBJECT

 public:
  // `retry` runs one entry's registry write again; the list is reloaded
  // after it. `journal` must outlive the window. `guard` runs what the
  // window's own signals do (a reload, a retry), so that a failure there is
  // shown like any handler's instead of crossing the event loop (without
  // one they run as they are).
  using Guard = std::function<void(const std::function<void()>&)>;
  JournalWindow(journal::Journal* journal, QDate today,
                std::function<void(std::int64_t entryId)> retry, QWidget* parent = nullptr, Guard guard = {});

  // Reads the chosen day's entries again.
  void Reload();

  QDateEdit* DayEdit = nullptr;
  QLineEdit* PatientFilter = nullptr;
  QTableWidget* Entries = nullptr;

 private:
  journal::Journal* journal_;
  std::function<void(std::int64_t)> retry_;
  Guard guard_;
};

// The registry column's text for an entry.
QString RegistryOutcomeText(int registryState, const QString& message);

}  // namespace ravelto::app
