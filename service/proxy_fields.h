#pragma once
// Applying the proxy fields of the settings window to the client's proxy
// parameters. The window reads its fields and calls this; the texts are
// taken as they stand (untrimmed).

#include <string>

#include "service/http_client.h"

namespace ravelto::service {

// With a host: server, user and password are taken over; a non-empty port
// text becomes the port (decimal; otherwise ravelto::ConversionError is
// thrown, after server, user and password were taken over and before port
// and basic authentication change); basic authentication is switched on.
// Without a host: server, user and password become empty and basic
// authentication is switched off. The port keeps its value in both cases
// unless a port text was given.
void ApplyProxyFields(ProxySettings& proxy, const std::string& host, const std::string& user,
                      const std::string& password, const std::string& portText);

}  // namespace ravelto::service
