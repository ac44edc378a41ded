// The byte/QString edge: every Windows-1251 byte must come back unchanged.

#include <gtest/gtest.h>

#include <string>

#include "app/text_codec.h"

namespace ravelto::app {
namespace {

TEST(TextCodec, EveryByteRoundTrips) {
  for (int b = 1; b < 256; ++b) {
    const std::string bytes(1, static_cast<char>(b));
    const QString text = ToQt(bytes);
    EXPECT_EQ(text.size(), 1) << "byte " << b;
    EXPECT_EQ(FromQt(text), bytes) << "byte " << b;
  }
}

TEST(TextCodec, CyrillicMapsToTheRightLetters) {
  EXPECT_EQ(ToQt("\xC0\xDF\xE0\xFF\xA8\xB8\xB9"), QStringLiteral("АЯаяЁё№"));
  EXPECT_EQ(FromQt(QStringLiteral("Вызов врача")), "\xC2\xFB\xE7\xEE\xE2 \xE2\xF0\xE0\xF7\xE0");
  EXPECT_EQ(FromQt(QStringLiteral("漢")), "?");  // no Windows-1251 byte
}

}  // namespace
}  // namespace ravelto::app
