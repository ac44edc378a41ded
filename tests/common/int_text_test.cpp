#include "common/int_text.h"

#include <gtest/gtest.h>

namespace ravelto {
namespace {

TEST(ParseInt, AcceptsLeadingBlanksAndSign) {
  EXPECT_EQ(ParseInt("21"), 21);
  EXPECT_EQ(ParseInt("   22"), 22);
  EXPECT_EQ(ParseInt("-7"), -7);
  EXPECT_EQ(ParseInt("+8080"), 8080);
  EXPECT_EQ(ParseInt("2147483647"), 2147483647);
  EXPECT_EQ(ParseInt("-2147483648"), -2147483647 - 1);
}

TEST(ParseInt, RejectsAnythingAfterTheDigitsAndOutOfRange) {
  for (const char* bad : {"", " ", "-", "80a", "22\r\n", "22 ", "\t5", "1.0", "0x10", "2147483648",
                          "-2147483649", "99999999999999999999"}) {
    EXPECT_FALSE(ParseInt(bad).has_value()) << bad;
  }
}

TEST(StrToInt, RaisesTheConversionMessage) {
  try {
    StrToInt("80a");
    FAIL();
  } catch (const ConversionError& e) {
    EXPECT_STREQ(e.what(), "'80a' is not a valid integer value");
  }
}

}  // namespace
}  // namespace ravelto
