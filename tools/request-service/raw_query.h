// Reading a request target exactly as it came off the wire. The desk sends its
// query values raw: Windows-1251 bytes, no percent-encoding, so '%' and '+' are
// ordinary characters here and nothing is decoded.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ravelto::reqsvc {

struct RawTarget {
  std::string path;   // up to the first '?', as sent
  std::string query;  // after the first '?' (empty when there is none)
  // The query's pieces between '&', each split at its first '='; a piece
  // without '=' is a key with an empty value. Order of arrival is kept.
  std::vector<std::pair<std::string, std::string>> params;

  // The value of the first piece named `key` (compared byte for byte), or
  // nullopt when no piece has that name.
  std::optional<std::string> Get(std::string_view key) const;
};

// Splits an origin-form target ("/path?query"). An absolute-form target
// ("http://host:port/path?query", as a client sends through a proxy) is
// reduced to its path and query first.
RawTarget ParseTarget(std::string_view target);

}  // namespace ravelto::reqsvc
