#pragma once
// Byte codecs of the table files: little- and big-endian integers and the
// calendar conversions (civil date, Julian day number, days since
// 1899-12-30).

#include <cstdint>
#include <cstring>

namespace ravelto::registry {

inline std::uint16_t GetLe16(const unsigned char* p) {
  return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}
inline std::uint32_t GetLe32(const unsigned char* p) {
  return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
         (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}
inline std::uint64_t GetLe64(const unsigned char* p) {
  return static_cast<std::uint64_t>(GetLe32(p)) | (static_cast<std::uint64_t>(GetLe32(p + 4)) << 32);
}
inline std::uint32_t GetBe32(const unsigned char* p) {
  return (static_cast<std::uint32_t>(p[0]) << 24) | (static_cast<std::uint32_t>(p[1]) << 16) |
         (static_cast<std::uint32_t>(p[2]) << 8) | static_cast<std::uint32_t>(p[3]);
}
inline std::uint16_t GetBe16(const unsigned char* p) {
  return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
inline void PutLe16(unsigned char* p, std::uint16_t v) {
  p[0] = static_cast<unsigned char>(v);
  p[1] = static_cast<unsigned char>(v >> 8);
}
inline void PutLe32(unsigned char* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
inline void PutLe64(unsigned char* p, std::uint64_t v) {
  for (int i = 0; i < 8; ++i) p[i] = static_cast<unsigned char>(v >> (8 * i));
}
inline void PutBe32(unsigned char* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<unsigned char>(v >> (24 - 8 * i));
}
inline void PutBe16(unsigned char* p, std::uint16_t v) {
  p[0] = static_cast<unsigned char>(v >> 8);
  p[1] = static_cast<unsigned char>(v);
}
inline double GetLeDouble(const unsigned char* p) {
  const std::uint64_t bits = GetLe64(p);
  double d;
  std::memcpy(&d, &bits, sizeof d);
  return d;
}
inline void PutLeDouble(unsigned char* p, double d) {
  std::uint64_t bits;
  std::memcpy(&bits, &d, sizeof d);
  PutLe64(p, bits);
}

// Days since 1970-01-01 of a proleptic Gregorian date (any year).
constexpr std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

struct CivilDate {
  std::int64_t year;
  unsigned month;
  unsigned day;
};

constexpr CivilDate CivilFromDays(std::int64_t z) {
  z += 719468;
  const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const unsigned doe = static_cast<unsigned>(z - era * 146097);
  const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t y = static_cast<std::int64_t>(yoe) + era * 400;
  const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const unsigned mp = (5 * doy + 2) / 153;
  const unsigned d = doy - (153 * mp + 2) / 5 + 1;
  const unsigned m = mp < 10 ? mp + 3 : mp - 9;
  return {y + (m <= 2), m, d};
}

// 1899-12-30, the zero of date-time values, in days since 1970-01-01.
inline constexpr std::int64_t kEpoch1899 = DaysFromCivil(1899, 12, 30);
// Julian day number of 1970-01-01.
inline constexpr std::int64_t kJdn1970 = 2440588;
inline constexpr std::int64_t kMsPerDay = 86400000;

constexpr bool ValidCivil(std::int64_t y, unsigned m, unsigned d) {
  if (y < 1 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
  constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
  return d <= kDays[m - 1] + ((m == 2 && leap) ? 1u : 0u);
}

}  // namespace ravelto::registry
