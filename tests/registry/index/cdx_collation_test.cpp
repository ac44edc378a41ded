// Learning a collation tag's encoding from its stored keys: each layout is
// learned and no other, new values get the writer's keys, and whatever the
// stored keys leave open is refused.

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <set>

#include "registry/index/cdx_collation.h"
#include "tests/registry/index/collation_test_keys.h"

namespace ravelto::registry {
namespace {

constexpr std::size_t kWidth = 10;

// Cyrillic of both cases with Ё/ё, digits, punctuation and blanks; no Щ/щ,
// so that those stay unseen.
const std::string& Bytes() {
  static const std::string bytes = [] {
    std::string b = " 0123456789.,-()/\xB9\xA8\xB8";
    for (int c = 0xC0; c <= 0xFF; ++c) {
      if (c != 0xD9 && c != 0xF9) b += static_cast<char>(c);
    }
    return b;
  }();
  return bytes;
}

// kWidth bytes: `length` characters from Bytes() (random length when
// negative), then blanks.
std::string RandomValue(std::mt19937& rng, int length = -1) {
  const std::size_t n = length < 0 ? rng() % (kWidth + 1) : static_cast<std::size_t>(length);
  std::string v;
  for (std::size_t i = 0; i < n; ++i) v += Bytes()[rng() % Bytes().size()];
  v.resize(kWidth, ' ');
  return v;
}

std::vector<CdxCollationSample> Samples(const testing::TestCollationStyle& style, std::size_t count,
                                        std::mt19937& rng, int length = -1) {
  std::vector<CdxCollationSample> out;
  for (std::size_t i = 0; i < count; ++i) {
    std::string value = RandomValue(rng, length);
    std::string key = testing::TestCollationKey(value, style);
    out.push_back({std::move(value), std::move(key)});
  }
  return out;
}

CdxLearnedCollation Learn(const std::vector<CdxCollationSample>& samples, std::size_t key_length = 2 * kWidth) {
  return CdxLearnedCollation::Learn("FIO", "RUSSIAN", key_length, samples);
}

std::string Failure(const std::function<void()>& run) {
  try {
    run();
  } catch (const CdxError& e) {
    return e.what();
  }
  return "(no error)";
}

TEST(CdxCollation, EachLayoutIsLearnedAndNoOther) {
  using L = CdxCollationLayout;
  const testing::TestCollationStyle styles[] = {
      testing::InterleavedTestStyle(),
      testing::SplitTestStyle(),
      {{L::Interleaved, true, false}, 0x20, false},
      {{L::Split, false, false}, 0x00, false},
      {{L::Split, true, true}, 0x7F, false},
  };
  std::mt19937 rng(7);
  for (const auto& style : styles) {
    SCOPED_TRACE(style.reading.Name());
    const auto samples = Samples(style, 300, rng);
    const CdxLearnedCollation learned = Learn(samples);
    ASSERT_EQ(learned.Readings(), std::vector<CdxCollationReading>{style.reading});
    EXPECT_EQ(learned.LayoutName(), style.reading.LayoutName());
    EXPECT_EQ(learned.VerifiedKeys(), 300u);
    std::set<char> weighted;
    for (const auto& s : samples) {
      const std::string_view v = s.value;
      weighted.insert(v.begin(), style.reading.trims_blanks ? v.begin() + v.find_last_not_of(' ') + 1 : v.end());
    }
    EXPECT_EQ(learned.KnownBytes(), weighted.size());
    EXPECT_EQ(learned.Pad(), style.reading.trims_blanks ? std::optional<uint8_t>(style.pad) : std::nullopt);
    for (int i = 0; i < 200; ++i) {
      const std::string value = RandomValue(rng);
      ASSERT_EQ(learned.Encode(value), testing::TestCollationKey(value, style)) << value;
    }
  }
}

TEST(CdxCollation, WriterRulesNoReadingReproducesAreRefused) {
  std::mt19937 rng(11);
  for (auto style : {testing::InterleavedTestStyle(), testing::SplitTestStyle()}) {
    style.ligature = true;  // '№' expands to two characters' weights
    const auto samples = Samples(style, 300, rng);
    const std::string why = Failure([&] { Learn(samples); });
    EXPECT_NE(why.find("the keys of tag FIO (collation RUSSIAN) follow no encoding this program can reproduce"),
              std::string::npos) << why;
    EXPECT_NE(why.find("broke at stored key"), std::string::npos) << why;
  }
}

TEST(CdxCollation, TooFewOrMisshapenKeysAreRefused) {
  std::mt19937 rng(3);
  auto samples = Samples(testing::InterleavedTestStyle(), 7, rng);
  EXPECT_EQ(Failure([&] { Learn(samples); }),
            "the tag FIO (collation RUSSIAN) holds only 7 keys, too few to learn how it encodes text (at least 8 "
            "are needed); make this change in the registry program");
  samples = Samples(testing::InterleavedTestStyle(), 20, rng);
  EXPECT_NE(Failure([&] { Learn(samples, 21); }).find("keys of 21 bytes, which cannot hold two bytes"),
            std::string::npos);
  samples[2].key.pop_back();
  EXPECT_NE(Failure([&] { Learn(samples); }).find("stored key 3 pairs a value of 10 bytes with a key of 19 bytes"),
            std::string::npos);
}

TEST(CdxCollation, WhatTheStoredKeysLeaveOpenIsRefused) {
  std::mt19937 rng(5);
  const CdxLearnedCollation learned = Learn(Samples(testing::InterleavedTestStyle(), 300, rng));
  EXPECT_EQ(Failure([&] { learned.Encode("\xC1\xEE\xF0\xF9      "); }),  // Борщ
            "the tag FIO (collation RUSSIAN) has never stored the character '\xF9'; reindex in the registry program "
            "or enter this row there");
  EXPECT_NE(Failure([&] { learned.Encode("\xC0\x01        "); }).find("the character 0x01;"), std::string::npos);

  // One-character values do not tell the layouts apart; a longer value would.
  const testing::TestCollationStyle split = testing::SplitTestStyle();
  std::vector<CdxCollationSample> samples;
  for (char c : std::string_view("\xC0\xE1\xC2\xE3\xC4\xE5\xA8\xB8\xC6\xE7")) {
    const std::string value = c + std::string(kWidth - 1, ' ');
    samples.push_back({value, testing::TestCollationKey(value, split)});
  }
  const CdxLearnedCollation short_values = Learn(samples);
  EXPECT_GT(short_values.Readings().size(), 1u);
  EXPECT_EQ(short_values.LayoutName(), "two bytes per character or primary bytes, then secondary bytes");
  EXPECT_EQ(short_values.Encode(samples[3].value), samples[3].key);
  EXPECT_NE(Failure([&] { short_values.Encode("\xC0\xE1        "); })
                .find("the stored keys of tag FIO (collation RUSSIAN) do not tell which encoding it uses"),
            std::string::npos);

  // Values that always fill the width never show the pad a shorter one needs.
  samples.clear();
  for (int i = 0; i < 100; ++i) {
    std::string value = RandomValue(rng, kWidth);
    value.back() = '\xC0';
    samples.push_back({value, testing::TestCollationKey(value, split)});
  }
  const CdxLearnedCollation full = Learn(samples);
  EXPECT_EQ(full.Pad(), std::nullopt);
  EXPECT_NE(Failure([&] { full.Encode(samples[0].value.substr(0, 3) + std::string(kWidth - 3, ' ')); })
                .find("has never stored a value shorter than its 10"),
            std::string::npos);
}

}  // namespace
}  // namespace ravelto::registry
