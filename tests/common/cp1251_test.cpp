#include "common/cp1251.h"

#include <gtest/gtest.h>

#include <string>

namespace ravelto {
namespace {

TEST(Cp1251, EveryByteRoundTripsThroughUtf8) {
  std::string all;
  for (int b = 0; b < 256; ++b) all += static_cast<char>(b);
  EXPECT_EQ(Utf8ToCp1251(Cp1251ToUtf8(all)), all);
  for (int b = 0; b < 256; ++b) {
    const auto byte = static_cast<unsigned char>(b);
    EXPECT_EQ(Cp1251Byte(Cp1251CodePoint(byte)), byte) << b;
  }
}

TEST(Cp1251, LettersAndSigns) {
  EXPECT_EQ(Cp1251ToUtf8("\xC0\xFF\xA8\xB8\xB9\x88"), "\xD0\x90\xD1\x8F\xD0\x81\xD1\x91\xE2\x84\x96\xE2\x82\xAC");
  EXPECT_EQ(Cp1251CodePoint(0x98), U'\u0098');
}

TEST(Cp1251, UnmappedAndMalformedBecomeQuestionMarks) {
  EXPECT_FALSE(Cp1251Byte(U'\u00E9').has_value());
  EXPECT_EQ(Utf8ToCp1251("a\xC3\xA9" "b"), "a?b");            // e acute
  EXPECT_EQ(Utf8ToCp1251("\xF0\x9F\x98\x80"), "?");           // outside the BMP
  EXPECT_EQ(Utf8ToCp1251("\xD0"), "?");                       // truncated
  EXPECT_EQ(Utf8ToCp1251("\x80x"), "?x");                     // stray continuation
}

}  // namespace
}  // namespace ravelto
