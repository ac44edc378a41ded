// Accepting and rejecting a request: Button1Click and Button2Click. Both
// report to the request service, and both end with an immediate poll; accept
// also writes the home-visit row (app/desk/registry_steps.h).

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>

#include "app/desk/card_text.h"
#include "app/desk/registry_steps.h"
#include "app/form1.h"
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
  const std::string answer = HttpGet(
      service::RejectUrl(FromQt(Edit2->text()), FromQt(Edit3->text()), CurrentRequestId, reason));
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
  // The service's answer is not examined: the acceptance counts as reported.
  HttpGet(service::AcceptUrl(FromQt(Edit2->text()), FromQt(Edit3->text()), CurrentRequestId, vzap,
                             doc));
  Panel3->show();

  desk::AcceptValues values;
  values.patientCode = FromQt(Label24->text());
  values.memo = MemoText(Memo1);
  values.phone = FromQt(Label15->text());
  values.address = KeptAddress;
  values.doctorText = FromQt(ComboBox1->currentText());
  // No catch: a failure goes to the error box, the connection staying open
  // until the next registry operation closes it, and the poll is skipped.
  desk::WriteAcceptedRow(ADO, SQL, values, FromQt(Label32->text()));
  Timer1Timer();
}

}  // namespace ravelto::app
