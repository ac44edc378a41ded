#include "service/request_head.h"

#include <algorithm>

#include "common/int_text.h"

namespace ravelto::service {

UrlParts SplitUrl(std::string_view text) {
  std::string url(text);
  std::replace(url.begin(), url.end(), '\\', '/');

  UrlParts parts;
  std::size_t authorityStart = 0;
  const std::size_t schemeEnd = url.find("://");
  if (schemeEnd != std::string::npos) {
    parts.scheme = url.substr(0, schemeEnd);
    authorityStart = schemeEnd + 3;
  }
  const std::size_t pathStart = url.find('/', authorityStart);
  std::string authority = url.substr(authorityStart, pathStart == std::string::npos
                                                         ? std::string::npos
                                                         : pathStart - authorityStart);
  std::string rest = pathStart == std::string::npos ? std::string() : url.substr(pathStart + 1);

  const std::size_t at = authority.rfind('@');
  if (at != std::string::npos) authority.erase(0, at + 1);
  const std::size_t colon = authority.find(':');
  if (colon != std::string::npos) {
    parts.host = authority.substr(0, colon);
    parts.portText = authority.substr(colon + 1);
  } else {
    parts.host = authority;
  }
  if (parts.portText.empty()) parts.portText = "80";
  parts.port = ParseInt(parts.portText).value_or(-1);

  // A "#" inside the query ends the target.
  const std::size_t query = rest.find('?');
  if (query != std::string::npos) {
    const std::size_t hash = rest.find('#', query);
    if (hash != std::string::npos) rest.erase(hash);
  }
  parts.target = "/" + rest;
  return parts;
}

std::string Base64(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    const unsigned v = static_cast<unsigned char>(bytes[i]) << 16 |
                       static_cast<unsigned char>(bytes[i + 1]) << 8 |
                       static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[v >> 18 & 63];
    out += kAlphabet[v >> 12 & 63];
    out += kAlphabet[v >> 6 & 63];
    out += kAlphabet[v & 63];
  }
  const std::size_t left = bytes.size() - i;
  if (left > 0) {
    unsigned v = static_cast<unsigned char>(bytes[i]) << 16;
    if (left == 2) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    out += kAlphabet[v >> 18 & 63];
    out += kAlphabet[v >> 12 & 63];
    out += left == 2 ? kAlphabet[v >> 6 & 63] : '=';
    out += '=';
  }
  return out;
}

std::string BuildRequestHead(const UrlParts& url, const ProxySettings& proxy) {
  std::string head = "GET ";
  if (!proxy.server.empty()) {
    head += url.scheme + "://" + url.host + ":" + url.portText;
  }
  head += url.target;
  head += " HTTP/1.1\r\nHost: ";
  head += url.host;
  if (url.portText != "80") head += ":" + url.portText;
  head += "\r\nAccept: text/html, */*\r\nUser-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n";
  if (proxy.basicAuth) {
    head += "Proxy-Authorization: Basic " + Base64(proxy.user + ":" + proxy.password) + "\r\n";
  }
  head += "\r\n";
  return head;
}

}  // namespace ravelto::service
