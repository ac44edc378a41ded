#pragma once
// Byte layout of a structural compound index (.cdx) and the small codecs the
// index code shares. The format in prose is in docs/registry-indexes.md.

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>

namespace ravelto::registry {

// The failure raised by the index code: damaged files, keys that cannot be
// reproduced, refused writes. what() is the exact message text.
class CdxError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

namespace cdx {

inline constexpr std::size_t kPageSize = 512;
inline constexpr std::size_t kHeaderSize = 1024;  // tag header + expression pool
inline constexpr uint32_t kNone = 0xFFFFFFFFu;    // "no page" in sibling/free pointers

// Tag header (and file header) fields.
inline constexpr std::size_t kHdrRoot = 0;
inline constexpr std::size_t kHdrFreeList = 4;
inline constexpr std::size_t kHdrCounter = 8;  // big-endian change counter
inline constexpr std::size_t kHdrKeyLength = 12;
inline constexpr std::size_t kHdrOptions = 14;
inline constexpr std::size_t kHdrCollation = 494;
inline constexpr std::size_t kHdrCollationSize = 8;
inline constexpr std::size_t kHdrDescending = 502;
inline constexpr std::size_t kHdrForOffset = 504;
inline constexpr std::size_t kHdrForLength = 506;
inline constexpr std::size_t kHdrKeyOffset = 508;
inline constexpr std::size_t kHdrKeyExprLength = 510;
inline constexpr std::size_t kHdrPool = 512;

// Index option bits.
inline constexpr uint8_t kOptUnique = 0x01;
inline constexpr uint8_t kOptCandidate = 0x04;
inline constexpr uint8_t kOptFor = 0x08;
inline constexpr uint8_t kOptCompact = 0x20;
inline constexpr uint8_t kOptCompound = 0x40;
inline constexpr uint8_t kOptDirectory = 0x80;

// Node attributes and header.
inline constexpr uint16_t kAttrRoot = 1;
inline constexpr uint16_t kAttrLeaf = 2;
inline constexpr std::size_t kNodeAttr = 0;
inline constexpr std::size_t kNodeCount = 2;
inline constexpr std::size_t kNodeLeft = 4;
inline constexpr std::size_t kNodeRight = 8;
inline constexpr std::size_t kInteriorData = 12;  // entries: key, recno BE, child BE
inline constexpr std::size_t kInteriorSpace = kPageSize - kInteriorData;
inline constexpr std::size_t kLeafFree = 12;
inline constexpr std::size_t kLeafRecMask = 14;
inline constexpr std::size_t kLeafDupMask = 18;
inline constexpr std::size_t kLeafTrailMask = 19;
inline constexpr std::size_t kLeafRecBits = 20;
inline constexpr std::size_t kLeafDupBits = 21;
inline constexpr std::size_t kLeafTrailBits = 22;
inline constexpr std::size_t kLeafEntryBytes = 23;
inline constexpr std::size_t kLeafData = 24;
inline constexpr std::size_t kLeafSpace = kPageSize - kLeafData;  // 488

inline constexpr std::size_t kMaxKeyLength = 240;
inline constexpr std::size_t kDirectoryKeyLength = 10;

// Byte range the registry program locks in the .cdx while changing it.
inline constexpr uint64_t kLockOffset = 0x7FFFFFFEu;

inline uint16_t GetLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t GetLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint32_t GetBe32(const uint8_t* p) {
  return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
         (static_cast<uint32_t>(p[2]) << 8) | static_cast<uint32_t>(p[3]);
}
inline void PutLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
inline void PutBe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

// Page offsets are byte offsets that must be multiples of the page size.
inline bool IsPageOffset(uint32_t off) { return off != 0 && off != kNone && off % kPageSize == 0; }

}  // namespace cdx
}  // namespace ravelto::registry
