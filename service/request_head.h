#pragma once
// Splitting a URL and writing the GET request head. The URL's bytes go onto
// the wire unchanged: nothing is percent-encoded or escaped.

#include <string>
#include <string_view>

#include "service/http_client.h"

namespace ravelto::service {

struct UrlParts {
  std::string scheme;    // text before "://", as written
  std::string host;      // authority without user information and port
  std::string portText;  // as written; "80" when the URL names none
  int port = 80;         // portText as a number; -1 when it is not one
  std::string target;    // "/" + path + query, the query cut at a "#"
};

// Every backslash becomes a slash; the scheme is the text before the first
// "://"; the authority runs to the next "/"; text up to an "@" in it is user
// information and is dropped.
UrlParts SplitUrl(std::string_view url);

// RFC 4648 Base64 with "=" padding and no line breaks.
std::string Base64(std::string_view bytes);

// The whole request head, ending with the empty line. With a proxy (server
// not empty) the target is the absolute URL with the port always written.
std::string BuildRequestHead(const UrlParts& url, const ProxySettings& proxy);

}  // namespace ravelto::service
