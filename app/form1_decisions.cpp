// Accepting and rejecting a request: Button1Click and Button2Click. Both
// report to the request service, and both end with an immediate poll; accept
// also writes the home-visit row (app/desk/registry_steps.h). Every decision
// is recorded in the decision journal before its save query goes out and
// completed with the answer and the registry outcome (form1_journal.cpp);
// the journal never changes what is sent or written.

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>

#include "app/desk/card_text.h"
#include "app/desk/registry_steps.h"
#include "app/form1.h"
#include "app/journal/journal.h"
#include "app/text_codec.h"
#include "service/protocol.h"

namespace ravelto::app {

namespace {

// The memo's text with its lines ended by CR LF, as the registry keeps it.
std::string MemoText(const QPlainTextEdit* memo) {
  QString text = memo->toPlainText();
  text.replace(QStringLiteral("\n"), QStringLiteral("\r\n"));
  return FromQt(text);
}

}  // namespace

void TForm1::Button2Click() {
  const std::string reason = desk::SpacesToUnderscores(FromQt(ComboBox3->currentText()));
  journal::Entry entry;
  entry.decidedAt = JournalNow();
  entry.requestId = CurrentRequestId;
  entry.patientCode = FromQt(Label24->text());
  entry.patientName = FromQt(Label4->text());
  entry.decision = journal::Decision::kReject;
  entry.reason = reason;
  const std::int64_t id = JournalRecord(entry);

  const std::string answer = HttpGet(
      service::RejectUrl(FromQt(Edit2->text()), FromQt(Edit3->text()), CurrentRequestId, reason));
  JournalStep([&](journal::Journal& j) { j.SetAnswer(id, answer); });
  if (answer == "ok") {
    Panel3->show();
  } else {
    ShowMessage(ToQt(answer));
  }
  Timer1Timer();
}

void TForm1::Button1Click() {
  const std::string vzap = desk::SpacesToUnderscores(FromQt(ComboBox2->currentText()));
  const std::string doc = desk::SpacesToUnderscores(FromQt(ComboBox1->currentText()));

  // The card's values as the registry write will use them; nothing changes
  // them during the save query.
  desk::AcceptValues values;
  values.patientCode = FromQt(Label24->text());
  values.memo = MemoText(Memo1);
  values.phone = FromQt(Label15->text());
  values.address = KeptAddress;
  values.doctorText = FromQt(ComboBox1->currentText());
  const std::string fragment = FromQt(Label32->text());

  journal::Entry entry;
  entry.decidedAt = JournalNow();
  entry.requestId = CurrentRequestId;
  entry.patientCode = values.patientCode;
  entry.patientName = FromQt(Label4->text());
  entry.decision = journal::Decision::kAccept;
  entry.doctor = doc;
  entry.partOfDay = vzap;
  entry.values = values;
  entry.fragment = fragment;
  const std::int64_t id = JournalRecord(entry);

  // The service's answer is not examined: the acceptance counts as reported.
  const std::string answer = HttpGet(service::AcceptUrl(FromQt(Edit2->text()),
                                                        FromQt(Edit3->text()), CurrentRequestId,
                                                        vzap, doc));
  JournalStep([&](journal::Journal& j) { j.SetAnswer(id, answer); });
  if (AfterSaveQuery) AfterSaveQuery();
  Panel3->show();

  JournalStep([&](journal::Journal& j) { j.BeginRegistryWrite(id, JournalNow()); });
  // No catch: a failure goes to the error box, the connection staying open
  // until the next registry operation closes it, and the poll is skipped.
  // The journal only notes the failure on its way.
  try {
    desk::WriteAcceptedRow(ADO, SQL, values, fragment);
  } catch (const std::exception& e) {
    const std::string message = e.what();
    bool kept = false;
    JournalStep([&](journal::Journal& j) {
      j.SetRegistryOutcome(id, false, message, JournalNow());
      kept = id != 0;
    });
    // The box then tells the operator that "Повторить запись" can finish it.
    if (kept) failureSetting_ = desk::FailureSetting::kAcceptJournal;
    throw;
  } catch (...) {
    JournalStep([&](journal::Journal& j) {
      j.SetRegistryOutcome(id, false, "Unknown failure", JournalNow());
    });
    throw;
  }
  JournalStep([&](journal::Journal& j) { j.SetRegistryOutcome(id, true, "", JournalNow()); });
  Timer1Timer();
}

}  // namespace ravelto::app
