#pragma once
// One 512-byte node of a tag's B-tree, decoded into full keys, and the codec
// between that form and the page bytes (interior nodes with plain keys and
// big-endian numbers, compact leaves with packed entries and keys stored from
// the page end downwards).

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "registry/index/cdx_format.h"

namespace ravelto::registry {

struct CdxEntry {
  std::string key;     // always exactly the tag's key length
  uint32_t recno = 0;  // record number (tag directory: tag header offset)
  uint32_t child = 0;  // interior nodes only: offset of the child node
};

struct CdxNode {
  uint32_t offset = 0;
  uint16_t attr = cdx::kAttrLeaf;
  uint32_t left = cdx::kNone;
  uint32_t right = cdx::kNone;
  std::vector<CdxEntry> entries;
  // Leaves as read from disk: the stored free-space field and the value the
  // entries really leave free (the structural check compares the two).
  int stored_free = 0;
  int actual_free = 0;

  bool IsLeaf() const { return (attr & cdx::kAttrLeaf) != 0; }
  bool IsRoot() const { return (attr & cdx::kAttrRoot) != 0; }
};

// Decodes a page. pad is the byte trailing compression removes (0x20 for
// character keys, 0x00 otherwise). Throws CdxError naming the node's offset
// when the page cannot be decoded (bad attribute, counts, bit widths, key
// data overlapping the entries).
CdxNode DecodeNode(std::span<const uint8_t> page, uint32_t offset, std::size_t key_length, uint8_t pad);

// Encodes a node into a 512-byte page. Returns false (page untouched) when
// the entries do not fit. Leaves use StandardLeafWidths().
bool EncodeNode(const CdxNode& node, std::size_t key_length, uint8_t pad, std::span<uint8_t> page);

// Bit widths of a leaf's packed entries; the record number takes the rest
// of the entry (at most 32 bits).
struct CdxLeafWidths {
  unsigned dup_bits = 0;
  unsigned trail_bits = 0;
  std::size_t entry_bytes = 3;
};
// The widths this program writes (docs/registry-indexes.md): duplicate and
// trailing counts in as many bits as the key length needs, the smallest
// entry of 3 bytes or more that holds max_recno.
CdxLeafWidths StandardLeafWidths(std::size_t key_length, uint32_t max_recno);
// Encodes a leaf with the given widths. Returns false (page untouched) when
// the entries do not fit, or a count or record number does not fit its bits.
bool EncodeLeaf(const CdxNode& node, std::size_t key_length, uint8_t pad, const CdxLeafWidths& widths,
                std::span<uint8_t> page);

// Leaf compression: the pad bytes that end a key (trailing count), and the
// bytes a key shares with the previous key of the leaf, counted from the
// start and limited to key length - trail (duplicate count).
std::size_t TrailCount(const std::string& key, uint8_t pad);
std::size_t DuplicateCount(const std::string& key, const std::string& previous, std::size_t trail);

// Bits needed to hold v.
unsigned BitWidth(uint64_t v);

// Entries an interior node of this key length holds.
std::size_t InteriorCapacity(std::size_t key_length);

// Compares (key, recno) pairs the way a tag orders them: key bytes unsigned,
// then record number.
int CompareEntry(const std::string& a_key, uint32_t a_recno, const std::string& b_key, uint32_t b_recno);

}  // namespace ravelto::registry
