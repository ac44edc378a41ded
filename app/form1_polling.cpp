// The request list poll: both lists emptied and refilled from the service's
// list answer, new requests in ListBox1, all others in ListBox2, in the
// answer's order. The card and CurrentRequestId are left alone. Afterwards
// the operator's aids take the lists (AfterPoll, form1_aids.cpp).

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>

#include "app/form1.h"
#include "app/text_codec.h"
#include "service/protocol.h"

namespace ravelto::app {

void TForm1::Timer1Timer() {
  ListBox1->clear();
  ListBox2->clear();
  const std::string body =
      HttpGet(service::ListUrl(FromQt(Edit2->text()), FromQt(Edit3->text())));
  // HttpGet leaves "ok" in panel 3 exactly when the service answered.
  const bool answered = StatusPanel(3)->text() == QStringLiteral("ok");
  const service::ListAnswer answer = service::ReadListAnswer(body);
  for (const std::string& id : answer.newIds) ListBox1->addItem(ToQt(id));
  for (const std::string& id : answer.processedIds) ListBox2->addItem(ToQt(id));
  AfterPoll(answered);
}

}  // namespace ravelto::app
