// The window's two doors to the HTTP client: HttpGet (outcome into status
// panel 3, never throws) and SetProxy (proxy fields into the client).

#include <QLabel>
#include <QLineEdit>

#include "app/form1.h"
#include "app/text_codec.h"
#include "common/int_text.h"

namespace ravelto::app {

std::string TForm1::HttpGet(const std::string& url) {
  std::string outcome = "ok";
  std::string body;
  std::string partial;
  try {
    body = Client.Get(url, &partial);
  } catch (const std::exception& e) {
    outcome = e.what();
    body = partial;
  } catch (...) {
    outcome = "Unknown failure";
    body = partial;
  }
  SetStatusText(3, ToQt(outcome));
  return body;
}

void TForm1::SetProxy() {
  service::ProxySettings& proxy = Client.Proxy();
  if (!Edit12->text().isEmpty()) {
    proxy.server = FromQt(Edit12->text());
    proxy.user = FromQt(Edit13->text());
    proxy.password = FromQt(Edit14->text());
    // A port that is not a whole number fails here, after the server and the
    // credentials were taken over; port and authentication stay as they were.
    if (!Edit15->text().isEmpty()) proxy.port = ravelto::StrToInt(FromQt(Edit15->text()));
    proxy.basicAuth = true;
  } else {
    proxy.server.clear();
    proxy.user.clear();
    proxy.password.clear();
    proxy.basicAuth = false;
  }
}

}  // namespace ravelto::app
