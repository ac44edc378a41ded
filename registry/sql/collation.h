#pragma once
// The Russian collating sequence used by ORDER BY on character columns
// (Windows-1251 bytes). The rule is written out in docs/registry-collation.md.

#include <string_view>

namespace ravelto::registry {

// <0, 0, >0. Letters compare by alphabet with letter case ignored (Cyrillic
// А..Я with Ё right after Е; Latin A..Z); other bytes by their code; the
// primary order puts digits and signs before Latin letters and Latin before
// Cyrillic. Trailing blanks are ignored. Values equal under these rules
// compare by their bytes, so the order is total.
int CompareRussian(std::string_view a, std::string_view b);

// Primary weight of one byte (exposed for tests).
int RussianWeight(unsigned char c);

}  // namespace ravelto::registry
