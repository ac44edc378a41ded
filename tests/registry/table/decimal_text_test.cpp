// Exact decimal text: the numbers a table holds as text, parsed and
// formatted to a field's width and decimals.

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "registry/table/decimal_text.h"

namespace ravelto::registry {
namespace {

TEST(DecimalText, FixedFormattingRoundsAndRefusesOverflow) {
  struct Case {
    const char* in;
    int width, decimals;
    std::optional<std::string> out;
  };
  const Case cases[] = {
      {"12", 10, 0, "        12"},     {"-12.5", 8, 2, "  -12.50"},  {"1.005", 6, 2, "  1.01"},
      {"99.995", 6, 2, "100.00"},       {"99.995", 5, 2, std::nullopt}, {"123456", 5, 0, std::nullopt},
      {"-0.5", 3, 1, "-.5"},            {"-0.001", 5, 2, " 0.00"},     {"12345678901234567890", 20, 0,
                                                                         "12345678901234567890"},
  };
  for (const Case& c : cases) {
    auto d = ParseDecimalText(c.in);
    ASSERT_TRUE(d) << c.in;
    EXPECT_EQ(FormatFixed(*d, c.width, c.decimals), c.out) << c.in;
  }
  EXPECT_FALSE(ParseDecimalText("   "));
  EXPECT_FALSE(ParseDecimalText("1e5"));
  EXPECT_FALSE(ParseDecimalText("**"));
  EXPECT_EQ(ScaledValue(*ParseDecimalText(" -1.23456"), 4), -12346);
}

}  // namespace
}  // namespace ravelto::registry
