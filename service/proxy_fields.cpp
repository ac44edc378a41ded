#include "service/proxy_fields.h"

#include "common/int_text.h"

namespace ravelto::service {

void ApplyProxyFields(ProxySettings& proxy, const std::string& host, const std::string& user,
                      const std::string& password, const std::string& portText) {
  if (host.empty()) {
    proxy.server.clear();
    proxy.user.clear();
    proxy.password.clear();
    proxy.basicAuth = false;
    return;
  }
  proxy.server = host;
  proxy.user = user;
  proxy.password = password;
  if (!portText.empty()) proxy.port = StrToInt(portText);
  proxy.basicAuth = true;
}

}  // namespace ravelto::service
