#pragma once
// Keys of a collation tag for tests: a weight table invented here (it copies
// no real collation) and the key layouts the learned collation reads, plus a
// writer rule it cannot read. Tests use it to make (value, key) pairs and
// .cdx fixtures whose keys look like a collation tag's.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "registry/index/cdx_collation.h"

namespace ravelto::registry::testing {

// How the invented writer lays out a key.
struct TestCollationStyle {
  CdxCollationReading reading;
  uint8_t pad = 0x00;     // fills every key byte after the weighted ones
  bool ligature = false;  // '№' (0xB9) weighs as the two characters "No", shifting the rest
};

// Two bytes per character, every byte weighted (trailing blanks too).
TestCollationStyle InterleavedTestStyle();
// Primaries, then secondaries right after them; trailing blanks trimmed, tail padded with 0x00.
TestCollationStyle SplitTestStyle();

// The invented (primary, secondary) weights of a Windows-1251 byte: upper
// and lower case of a letter share the primary and differ in the secondary;
// Ё/ё sort right after Е/е. nullopt for a byte the table does not weigh.
std::optional<std::pair<uint8_t, uint8_t>> TestCollationWeights(uint8_t byte);

// Every byte the table weighs, in byte order.
std::string TestCollationAlphabet();

// The key of a value (its full width, blanks included) in the given style:
// 2 * value.size() bytes. Throws std::invalid_argument for a byte without weights.
std::string TestCollationKey(std::string_view value, const TestCollationStyle& style);

}  // namespace ravelto::registry::testing
