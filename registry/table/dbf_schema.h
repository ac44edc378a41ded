#pragma once
// The layout of a table: its header values and field descriptors, decoded.

#include <cstdint>
#include <string>
#include <vector>

namespace ravelto::registry {

// Field flags (descriptor byte 18).
inline constexpr std::uint8_t kFieldSystem = 0x01;
inline constexpr std::uint8_t kFieldNullable = 0x02;
inline constexpr std::uint8_t kFieldBinary = 0x04;
inline constexpr std::uint8_t kFieldAutoIncrement = 0x08;

// Table flags (header byte 28).
inline constexpr std::uint8_t kTableHasCdx = 0x01;
inline constexpr std::uint8_t kTableHasMemo = 0x02;

struct FieldDescriptor {
  std::string name;  // lower case
  char type = 'C';   // type letter, upper case ('0' for _NullFlags)
  std::uint32_t offset = 0;  // inside the record; the deletion byte is offset 0
  std::uint32_t length = 0;
  std::uint8_t decimals = 0;
  std::uint8_t flags = 0;
  int nullBit = -1;       // bit in _NullFlags that marks NULL, -1 if not nullable
  int varLengthBit = -1;  // V/Q: bit that says "length in the last byte"

  bool IsSystem() const { return (flags & kFieldSystem) != 0 || type == '0'; }
  bool IsBinary() const { return (flags & kFieldBinary) != 0; }
  bool IsMemo() const { return type == 'M' || type == 'G' || type == 'W' || type == 'P'; }
};

struct TableSchema {
  std::uint8_t version = 0x30;
  std::uint8_t tableFlags = 0;
  std::uint8_t codePage = 0xC9;
  std::uint32_t headerCount = 0;  // record count stored in the header
  std::uint32_t headerLength = 0;
  std::uint32_t recordLength = 0;
  std::vector<FieldDescriptor> fields;  // all descriptors, _NullFlags included
  int nullFlagsField = -1;              // index of _NullFlags in fields, -1 none

  // VFP tables keep binary memo pointers and the VFP types.
  bool IsVisualFoxPro() const { return version == 0x30 || version == 0x31 || version == 0x32; }
  bool HasStructuralIndex() const { return (tableFlags & kTableHasCdx) != 0; }
  const FieldDescriptor* Find(std::string_view lowerName) const {
    for (const auto& f : fields)
      if (!f.IsSystem() && f.name == lowerName) return &f;
    return nullptr;
  }
  bool HasMemoFields() const {
    for (const auto& f : fields)
      if (f.IsMemo()) return true;
    return false;
  }
};

}  // namespace ravelto::registry
