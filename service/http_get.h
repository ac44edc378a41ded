#pragma once
// HttpGet: the fetch behind the window's status panel 3. It never throws.

#include <string>

#include "service/http_client.h"

namespace ravelto::service {

struct HttpGetResult {
  // The whole body on success; on failure the part of a success answer's
  // body that arrived before it (empty in every other case).
  std::string body;
  // "ok", or the failure's message exactly as raised.
  std::string outcome;
};

HttpGetResult HttpGet(Client& client, const std::string& url) noexcept;

}  // namespace ravelto::service
