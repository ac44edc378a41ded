#pragma once
// What the index code needs to know about a table's rows: each field's name,
// type letter, place in the record and null bit. The table engine's field
// descriptors map onto this; tests and tools can also read it straight from
// a .dbf header (ReadDbfLayout).

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ravelto::registry {

struct CdxField {
  std::string name;        // upper case
  char type = 'C';         // type letter of the table format
  uint32_t offset = 0;     // displacement inside the record (deletion flag at 0)
  uint32_t length = 0;
  uint32_t decimals = 0;
  int null_bit = -1;       // bit in _NullFlags; -1 when the field is not nullable
};

struct CdxLayout {
  std::vector<CdxField> fields;  // the hidden _NullFlags field not included
  uint32_t record_length = 0;
  int null_flags_offset = -1;    // displacement of _NullFlags, -1 when absent
  uint32_t null_flags_length = 0;

  const CdxField* Find(std::string_view name) const;  // case-insensitive
  // Whether the field's null bit is set in the record.
  bool IsNull(const CdxField& field, std::span<const uint8_t> record) const;
};

// A table file read whole: its layout and the raw records (deletion flag
// included). Used by the index tools, tests and benchmarks; the live engine
// hands records to the index code itself.
struct DbfImage {
  CdxLayout layout;
  uint32_t header_length = 0;
  uint32_t record_count = 0;
  uint8_t table_flags = 0;
  std::vector<uint8_t> bytes;

  std::span<const uint8_t> Record(uint32_t recno) const;  // 1-based
};

// Parses the header and field descriptors of a table file. Throws CdxError
// when the header is damaged.
CdxLayout ParseDbfLayout(std::span<const uint8_t> header, uint32_t* header_length = nullptr,
                         uint32_t* record_count = nullptr);
DbfImage ReadDbfImage(const std::filesystem::path& path);

// Julian day number of a civil date (proleptic Gregorian); nullopt for an
// impossible date.
std::optional<int64_t> JulianDay(int year, int month, int day);
// Civil date of a Julian day number.
void CivilFromJulian(int64_t jdn, int& year, int& month, int& day);

}  // namespace ravelto::registry
