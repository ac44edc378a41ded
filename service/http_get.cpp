#include "service/http_get.h"

#include <exception>
#include <new>

namespace ravelto::service {

HttpGetResult HttpGet(Client& client, const std::string& url) noexcept {
  HttpGetResult result;
  result.outcome = "ok";
  try {
    std::string partial;
    try {
      result.body = client.Get(url, &partial);
    } catch (const std::exception& failure) {
      result.outcome = failure.what();
      result.body = std::move(partial);
    }
  } catch (...) {
    // Only copying a message can fail here (out of memory): report that.
    result.body.clear();
    result.outcome = "Out of memory";
  }
  return result;
}

}  // namespace ravelto::service
