#include "tests/registry/index/collation_test_keys.h"

#include <array>
#include <stdexcept>
#include <vector>

namespace ravelto::registry::testing {

namespace {

constexpr uint8_t kUncased = 0x01;
constexpr uint8_t kLower = 0x02;
constexpr uint8_t kUpper = 0x03;
constexpr uint8_t kLigature = 0xB9;  // '№'

// Primaries by group, lowest first: blank, punctuation, digits, Latin, Cyrillic.
const std::array<std::optional<std::pair<uint8_t, uint8_t>>, 256>& Table() {
  static const auto table = [] {
    std::array<std::optional<std::pair<uint8_t, uint8_t>>, 256> t{};
    t[' '] = {{0x10, kUncased}};
    const std::string_view punctuation = ".,-()/\"':;!?\xB9";
    for (std::size_t i = 0; i < punctuation.size(); ++i) {
      t[static_cast<uint8_t>(punctuation[i])] = {{static_cast<uint8_t>(0x11 + i), kUncased}};
    }
    for (int d = 0; d < 10; ++d) t['0' + d] = {{static_cast<uint8_t>(0x30 + d), kUncased}};
    for (int i = 0; i < 26; ++i) {
      t['A' + i] = {{static_cast<uint8_t>(0x40 + i), kUpper}};
      t['a' + i] = {{static_cast<uint8_t>(0x40 + i), kLower}};
    }
    // А..Я are 0xC0..0xDF, а..я 0xE0..0xFF; Ё (0xA8) / ё (0xB8) take the
    // slot after Е / е and move Ж..Я one up.
    for (int i = 0; i < 32; ++i) {
      const auto primary = static_cast<uint8_t>(0x60 + i + (i > 5 ? 1 : 0));
      t[0xC0 + i] = {{primary, kUpper}};
      t[0xE0 + i] = {{primary, kLower}};
    }
    t[0xA8] = {{0x66, kUpper}};
    t[0xB8] = {{0x66, kLower}};
    return t;
  }();
  return table;
}

std::pair<uint8_t, uint8_t> Weigh(char c) {
  const auto& w = Table()[static_cast<uint8_t>(c)];
  if (!w) {
    throw std::invalid_argument("the test collation has no weights for byte " +
                                std::to_string(static_cast<uint8_t>(c)));
  }
  return *w;
}

}  // namespace

TestCollationStyle InterleavedTestStyle() { return {{CdxCollationLayout::Interleaved, false, false}, 0x00, false}; }

TestCollationStyle SplitTestStyle() { return {{CdxCollationLayout::Split, true, false}, 0x00, false}; }

std::optional<std::pair<uint8_t, uint8_t>> TestCollationWeights(uint8_t byte) { return Table()[byte]; }

std::string TestCollationAlphabet() {
  std::string out;
  for (int b = 0; b < 256; ++b) {
    if (Table()[b]) out += static_cast<char>(b);
  }
  return out;
}

std::string TestCollationKey(std::string_view value, const TestCollationStyle& style) {
  const std::size_t width = value.size();
  std::string_view text = value;
  if (style.reading.trims_blanks) {
    while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  }
  std::vector<std::pair<uint8_t, uint8_t>> weights;
  for (char c : text) {
    if (style.ligature && static_cast<uint8_t>(c) == kLigature) {
      weights.push_back(Weigh('N'));
      weights.push_back(Weigh('o'));
    } else {
      weights.push_back(Weigh(c));
    }
  }
  if (weights.size() > width) weights.resize(width);  // an expansion pushes the last characters out

  const std::size_t n = weights.size();
  std::string key(2 * width, static_cast<char>(style.pad));
  const bool split = style.reading.layout == CdxCollationLayout::Split;
  const std::size_t secondaries = style.reading.trims_blanks && style.reading.secondary_at_width ? width : n;
  for (std::size_t i = 0; i < n; ++i) {
    key[split ? i : 2 * i] = static_cast<char>(weights[i].first);
    key[split ? secondaries + i : 2 * i + 1] = static_cast<char>(weights[i].second);
  }
  return key;
}

}  // namespace ravelto::registry::testing
