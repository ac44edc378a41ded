#include "tools/request-service/raw_query.h"

namespace ravelto::reqsvc {

std::optional<std::string> RawTarget::Get(std::string_view key) const {
  for (const auto& [k, v] : params) {
    if (k == key) return v;
  }
  return std::nullopt;
}

RawTarget ParseTarget(std::string_view target) {
  // Absolute form: drop "scheme://authority", keep from the next '/' on.
  const auto scheme_end = target.find("://");
  if (scheme_end != std::string_view::npos && target.substr(0, scheme_end).find_first_of("/?") ==
                                                  std::string_view::npos) {
    const auto slash = target.find('/', scheme_end + 3);
    const auto question = target.find('?', scheme_end + 3);
    if (slash == std::string_view::npos || (question != std::string_view::npos && question < slash)) {
      target = question == std::string_view::npos ? std::string_view("/") : target.substr(question);
    } else {
      target = target.substr(slash);
    }
  }
  RawTarget out;
  const auto q = target.find('?');
  if (q == std::string_view::npos) {
    out.path = std::string(target);
    return out;
  }
  out.path = std::string(target.substr(0, q));
  if (out.path.empty()) out.path.push_back('/');
  out.query = std::string(target.substr(q + 1));
  std::string_view rest = out.query;
  while (!rest.empty()) {
    const auto amp = rest.find('&');
    const std::string_view piece = rest.substr(0, amp);
    if (!piece.empty()) {
      const auto eq = piece.find('=');
      if (eq == std::string_view::npos) {
        out.params.emplace_back(std::string(piece), std::string());
      } else {
        out.params.emplace_back(std::string(piece.substr(0, eq)), std::string(piece.substr(eq + 1)));
      }
    }
    if (amp == std::string_view::npos) break;
    rest = rest.substr(amp + 1);
  }
  return out;
}

}  // namespace ravelto::reqsvc
