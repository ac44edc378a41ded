#include "registry/sql/collation.h"

#include <cstring>

namespace ravelto::registry {

int RussianWeight(unsigned char c) {
  if (c >= 'a' && c <= 'z') return c - 32;  // Latin: upper-case weight
  // Cyrillic in Windows-1251: А..Я 0xC0..0xDF, а..я 0xE0..0xFF, Ё 0xA8, ё 0xB8.
  // Weights 256.. in alphabetical order, Ё between Е (index 5) and Ж.
  auto cyr = [](int index) { return 256 + 2 * index; };
  if (c == 0xA8 || c == 0xB8) return cyr(5) + 1;
  if (c >= 0xC0 && c <= 0xDF) return cyr(c - 0xC0);
  if (c >= 0xE0) return cyr(c - 0xE0);
  return c;
}

int CompareRussian(std::string_view a, std::string_view b) {
  while (!a.empty() && a.back() == ' ') a.remove_suffix(1);
  while (!b.empty() && b.back() == ' ') b.remove_suffix(1);
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    const int wa = RussianWeight(static_cast<unsigned char>(a[i]));
    const int wb = RussianWeight(static_cast<unsigned char>(b[i]));
    if (wa != wb) return wa < wb ? -1 : 1;
  }
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  const int c = std::memcmp(a.data(), b.data(), n);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

}  // namespace ravelto::registry
