#include "registry/index/cdx_record.h"

#include <cctype>
#include <fstream>
#include <iterator>

#include "registry/index/cdx_format.h"

namespace ravelto::registry {

const CdxField* CdxLayout::Find(std::string_view name) const {
  for (const CdxField& f : fields) {
    if (f.name.size() != name.size()) continue;
    bool same = true;
    for (std::size_t i = 0; i < name.size() && same; ++i) {
      same = std::toupper(static_cast<unsigned char>(f.name[i])) == std::toupper(static_cast<unsigned char>(name[i]));
    }
    if (same) return &f;
  }
  return nullptr;
}

bool CdxLayout::IsNull(const CdxField& field, std::span<const uint8_t> record) const {
  if (field.null_bit < 0 || null_flags_offset < 0) return false;
  std::size_t byte = static_cast<std::size_t>(null_flags_offset) + static_cast<std::size_t>(field.null_bit) / 8;
  if (byte >= record.size()) return false;
  return (record[byte] >> (field.null_bit % 8)) & 1;
}

std::span<const uint8_t> DbfImage::Record(uint32_t recno) const {
  std::size_t start = header_length + std::size_t{recno - 1} * layout.record_length;
  return std::span<const uint8_t>(bytes).subspan(start, layout.record_length);
}

CdxLayout ParseDbfLayout(std::span<const uint8_t> h, uint32_t* header_length, uint32_t* record_count) {
  if (h.size() < 33) throw CdxError("table header is too short");
  CdxLayout layout;
  uint32_t hl = cdx::GetLe16(h.data() + 8);
  layout.record_length = cdx::GetLe16(h.data() + 10);
  if (header_length) *header_length = hl;
  if (record_count) *record_count = cdx::GetLe32(h.data() + 4);
  int next_bit = 0;
  for (std::size_t p = 32; p + 32 <= h.size() && p + 32 <= hl && h[p] != 0x0D; p += 32) {
    CdxField f;
    for (std::size_t i = 0; i < 11 && h[p + i] != 0; ++i) {
      f.name.push_back(static_cast<char>(std::toupper(h[p + i])));
    }
    f.type = static_cast<char>(h[p + 11]);
    f.offset = cdx::GetLe32(h.data() + p + 12);
    f.length = h[p + 16];
    f.decimals = h[p + 17];
    uint8_t flags = h[p + 18];
    if (f.offset + f.length > layout.record_length || f.offset == 0) {
      throw CdxError("field " + f.name + " lies outside the record");
    }
    if (f.type == '0') {
      layout.null_flags_offset = static_cast<int>(f.offset);
      layout.null_flags_length = f.length;
      continue;
    }
    if (f.type == 'V' || f.type == 'Q') ++next_bit;  // varlength bit comes first
    if (flags & 0x02) f.null_bit = next_bit++;
    layout.fields.push_back(std::move(f));
  }
  if (layout.null_flags_offset < 0) {
    for (CdxField& f : layout.fields) f.null_bit = -1;
  }
  return layout;
}

DbfImage ReadDbfImage(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw CdxError("Cannot open table file " + path.string());
  DbfImage image;
  image.bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  image.layout = ParseDbfLayout(image.bytes, &image.header_length, &image.record_count);
  if (image.bytes.size() < 29) throw CdxError("table file " + path.string() + " is too short");
  image.table_flags = image.bytes[28];
  if (image.layout.record_length == 0) throw CdxError("table file " + path.string() + " has record length 0");
  uint64_t fit = image.bytes.size() > image.header_length
                     ? (image.bytes.size() - image.header_length) / image.layout.record_length
                     : 0;
  if (fit < image.record_count) image.record_count = static_cast<uint32_t>(fit);
  return image;
}

std::optional<int64_t> JulianDay(int year, int month, int day) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1) return std::nullopt;
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  int limit = kDays[month - 1] + (month == 2 && leap ? 1 : 0);
  if (day > limit) return std::nullopt;
  int64_t a = (14 - month) / 12;
  int64_t y = year + 4800 - a;
  int64_t m = month + 12 * a - 3;
  return day + (153 * m + 2) / 5 + 365 * y + y / 4 - y / 100 + y / 400 - 32045;
}

void CivilFromJulian(int64_t jdn, int& year, int& month, int& day) {
  int64_t a = jdn + 32044;
  int64_t b = (4 * a + 3) / 146097;
  int64_t c = a - 146097 * b / 4;
  int64_t d = (4 * c + 3) / 1461;
  int64_t e = c - 1461 * d / 4;
  int64_t m = (5 * e + 2) / 153;
  day = static_cast<int>(e - (153 * m + 2) / 5 + 1);
  month = static_cast<int>(m + 3 - 12 * (m / 10));
  year = static_cast<int>(100 * b + d - 4800 + m / 10);
}

}  // namespace ravelto::registry
