// The proxy fields applied to the client, including the partial take-over
// when the port text is not a number.

#include <gtest/gtest.h>

#include "common/int_text.h"
#include "service/proxy_fields.h"

namespace ravelto::service {
namespace {

TEST(ProxyFields, HostSwitchesProxyOnAndEmptyHostOff) {
  ProxySettings proxy;
  ApplyProxyFields(proxy, " proxy.local", "u", "", "");
  EXPECT_EQ(proxy.server, " proxy.local");
  EXPECT_EQ(proxy.user, "u");
  EXPECT_EQ(proxy.port, 8080);  // empty port text: unchanged
  EXPECT_TRUE(proxy.basicAuth);

  ApplyProxyFields(proxy, "p", "u", "new", "3128");
  EXPECT_EQ(proxy.password, "new");
  EXPECT_EQ(proxy.port, 3128);

  ApplyProxyFields(proxy, "", "ignored", "ignored", "99");
  EXPECT_EQ(proxy.server, "");
  EXPECT_EQ(proxy.user, "");
  EXPECT_EQ(proxy.password, "");
  EXPECT_FALSE(proxy.basicAuth);
  EXPECT_EQ(proxy.port, 3128);  // the port keeps its last value
}

TEST(ProxyFields, BadPortTakesOverTextsButNotPortOrSwitch) {
  ProxySettings proxy;
  proxy.port = 3128;
  try {
    ApplyProxyFields(proxy, "p2", "u2", "w2", "80a");
    FAIL() << "no failure";
  } catch (const ConversionError& e) {
    EXPECT_STREQ(e.what(), "'80a' is not a valid integer value");
  }
  EXPECT_EQ(proxy.server, "p2");
  EXPECT_EQ(proxy.user, "u2");
  EXPECT_EQ(proxy.password, "w2");
  EXPECT_EQ(proxy.port, 3128);
  EXPECT_FALSE(proxy.basicAuth);
}

}  // namespace
}  // namespace ravelto::service
