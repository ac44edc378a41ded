// URL splitting and the request head, without a socket.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "service/request_head.h"

namespace ravelto::service {
namespace {

TEST(SplitUrl, Parts) {
  struct Case {
    std::string url, host, portText, target;
    int port;
  };
  const std::vector<Case> cases = {
      {"http://h/p?q", "h", "80", "/p?q", 80},
      {"http://h", "h", "80", "/", 80},
      {"http://h:8081", "h", "8081", "/", 8081},
      {"http://u:p@h:81/x", "h", "81", "/x", 81},
      {"http://a@b@h/x", "h", "80", "/x", 80},
      {"http:\\\\h\\a\\b?c=\\d", "h", "80", "/a/b?c=/d", 80},
      {"http://h/a#b?c", "h", "80", "/a#b?c", 80},  // "#" before the query stays
      {"http://h/a?b#c?d", "h", "80", "/a?b", 80},
      {"http://h/?a= b&c=\xF4", "h", "80", "/?a= b&c=\xF4", 80},
      {"http://h:/x", "h", "80", "/x", 80},
      {"http://h:x1/", "h", "x1", "/", -1},
  };
  for (const Case& c : cases) {
    const UrlParts parts = SplitUrl(c.url);
    EXPECT_EQ(parts.host, c.host) << c.url;
    EXPECT_EQ(parts.portText, c.portText) << c.url;
    EXPECT_EQ(parts.port, c.port) << c.url;
    EXPECT_EQ(parts.target, c.target) << c.url;
  }
}

TEST(Base64, Rfc4648Vectors) {
  const std::vector<std::pair<std::string, std::string>> vectors = {
      {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},       {"foo", "Zm9v"},
      {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}, {":", "Og=="},
      {"\xFF\xFE", "//4="}};
  for (const auto& [in, out] : vectors) EXPECT_EQ(Base64(in), out) << in;
}

TEST(RequestHead, HostPortOnlyWhenNotEighty) {
  const ProxySettings direct;
  for (const auto& [url, host] : std::vector<std::pair<std::string, std::string>>{
           {"http://h/", "h"}, {"http://h:80/", "h"}, {"http://h:8081/", "h:8081"}, {"http://h:080/", "h:080"}}) {
    EXPECT_EQ(BuildRequestHead(SplitUrl(url), direct),
              "GET / HTTP/1.1\r\nHost: " + host +
                  "\r\nAccept: text/html, */*\r\nUser-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n\r\n");
  }
}

}  // namespace
}  // namespace ravelto::service
