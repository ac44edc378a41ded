#include "registry/index/cdx_node.h"

#include <algorithm>
#include <cstring>

namespace ravelto::registry {
namespace {

using namespace cdx;

std::string At(uint32_t offset) { return "node at offset " + std::to_string(offset); }

uint64_t Mask(unsigned bits) { return bits >= 64 ? ~uint64_t{0} : (uint64_t{1} << bits) - 1; }

}  // namespace

std::size_t TrailCount(const std::string& key, uint8_t pad) {
  std::size_t n = 0;
  while (n < key.size() && static_cast<uint8_t>(key[key.size() - 1 - n]) == pad) ++n;
  return n;
}

unsigned BitWidth(uint64_t v) {
  unsigned n = 0;
  while (v != 0) {
    ++n;
    v >>= 1;
  }
  return n;
}

std::size_t InteriorCapacity(std::size_t key_length) { return kInteriorSpace / (key_length + 8); }

int CompareEntry(const std::string& a_key, uint32_t a_recno, const std::string& b_key, uint32_t b_recno) {
  int c = std::memcmp(a_key.data(), b_key.data(), std::min(a_key.size(), b_key.size()));
  if (c != 0) return c < 0 ? -1 : 1;
  if (a_key.size() != b_key.size()) return a_key.size() < b_key.size() ? -1 : 1;
  if (a_recno != b_recno) return a_recno < b_recno ? -1 : 1;
  return 0;
}

CdxNode DecodeNode(std::span<const uint8_t> page, uint32_t offset, std::size_t key_length, uint8_t pad) {
  if (page.size() != kPageSize) throw CdxError(At(offset) + " is not a whole page");
  if (key_length == 0 || key_length > kMaxKeyLength) throw CdxError("key length " + std::to_string(key_length) + " is invalid");
  const uint8_t* p = page.data();
  CdxNode node;
  node.offset = offset;
  node.attr = GetLe16(p + kNodeAttr);
  std::size_t count = GetLe16(p + kNodeCount);
  node.left = GetLe32(p + kNodeLeft);
  node.right = GetLe32(p + kNodeRight);
  if (node.attr > 3) throw CdxError(At(offset) + " has the unknown attribute " + std::to_string(node.attr));
  node.entries.reserve(std::min<std::size_t>(count, kLeafSpace));
  if (!node.IsLeaf()) {
    if (count > InteriorCapacity(key_length)) {
      throw CdxError(At(offset) + " holds " + std::to_string(count) + " entries, more than fit");
    }
    const uint8_t* e = p + kInteriorData;
    for (std::size_t i = 0; i < count; ++i, e += key_length + 8) {
      CdxEntry entry;
      entry.key.assign(reinterpret_cast<const char*>(e), key_length);
      entry.recno = GetBe32(e + key_length);
      entry.child = GetBe32(e + key_length + 4);
      node.entries.push_back(std::move(entry));
    }
    return node;
  }
  node.stored_free = GetLe16(p + kLeafFree);
  uint64_t rec_mask = GetLe32(p + kLeafRecMask);
  uint64_t dup_mask = p[kLeafDupMask];
  uint64_t trail_mask = p[kLeafTrailMask];
  unsigned rec_bits = p[kLeafRecBits];
  unsigned dup_bits = p[kLeafDupBits];
  unsigned trail_bits = p[kLeafTrailBits];
  std::size_t entry_bytes = p[kLeafEntryBytes];
  if (count > 0) {
    if (entry_bytes == 0 || entry_bytes > 8 || rec_bits + dup_bits + trail_bits > entry_bytes * 8 || rec_bits > 32 ||
        dup_bits > 8 || trail_bits > 8) {
      throw CdxError(At(offset) + " has inconsistent bit widths");
    }
    if (count * entry_bytes > kLeafSpace) {
      throw CdxError(At(offset) + " holds " + std::to_string(count) + " entries, more than fit");
    }
  }
  std::size_t key_end = kPageSize;  // key bytes are consumed downwards from here
  const std::size_t entries_end = kLeafData + count * entry_bytes;
  std::string previous(key_length, static_cast<char>(pad));
  std::size_t used = 0;
  for (std::size_t i = 0; i < count; ++i) {
    uint64_t packed = 0;
    for (std::size_t b = 0; b < entry_bytes; ++b) {
      packed |= static_cast<uint64_t>(p[kLeafData + i * entry_bytes + b]) << (8 * b);
    }
    uint32_t recno = static_cast<uint32_t>(packed & Mask(rec_bits) & rec_mask);
    std::size_t dup = static_cast<std::size_t>((packed >> rec_bits) & Mask(dup_bits) & dup_mask);
    std::size_t trail = static_cast<std::size_t>((packed >> (rec_bits + dup_bits)) & Mask(trail_bits) & trail_mask);
    if (i == 0) dup = 0;
    if (dup + trail > key_length) throw CdxError(At(offset) + " entry " + std::to_string(i + 1) + " has bad counts");
    std::size_t fresh = key_length - dup - trail;
    if (key_end < entries_end + fresh) {
      throw CdxError(At(offset) + " entry " + std::to_string(i + 1) + " has key bytes overlapping the entries");
    }
    key_end -= fresh;
    CdxEntry entry;
    entry.key.reserve(key_length);
    entry.key.assign(previous, 0, dup);
    entry.key.append(reinterpret_cast<const char*>(p + key_end), fresh);
    entry.key.append(trail, static_cast<char>(pad));
    entry.recno = recno;
    previous = entry.key;
    used += fresh;
    node.entries.push_back(std::move(entry));
  }
  node.actual_free = static_cast<int>(kLeafSpace - count * entry_bytes - used);
  return node;
}

std::size_t DuplicateCount(const std::string& key, const std::string& previous, std::size_t trail) {
  // The count may reach into the previous key's trailing pad bytes: readers
  // restore that key whole (pads included) before taking its first bytes.
  // Only dup + trail must stay within the key.
  const std::size_t limit = key.size() - trail;
  std::size_t dup = 0;
  while (dup < limit && key[dup] == previous[dup]) ++dup;
  return dup;
}

CdxLeafWidths StandardLeafWidths(std::size_t key_length, uint32_t max_recno) {
  // Duplicate and trailing counts hold any value up to the key length; the
  // record number takes the rest of the smallest entry (3 bytes or more)
  // that holds the largest record number.
  const unsigned count_bits = BitWidth(key_length);
  std::size_t entry_bytes = 3;
  while (entry_bytes * 8 < 2 * count_bits + std::max(1u, BitWidth(max_recno))) ++entry_bytes;
  return {count_bits, count_bits, entry_bytes};
}

bool EncodeLeaf(const CdxNode& node, std::size_t key_length, uint8_t pad, const CdxLeafWidths& widths,
                std::span<uint8_t> page) {
  if (page.size() != kPageSize || key_length == 0 || key_length > kMaxKeyLength || !node.IsLeaf()) return false;
  const std::size_t count = node.entries.size();
  const std::size_t entry_bytes = widths.entry_bytes;
  if (count > 0xFFFF || entry_bytes == 0 || entry_bytes > 8 || widths.dup_bits > 8 || widths.trail_bits > 8 ||
      widths.dup_bits + widths.trail_bits >= entry_bytes * 8) {
    return false;
  }
  const unsigned rec_bits = static_cast<unsigned>(
      std::min<std::size_t>(32, entry_bytes * 8 - widths.dup_bits - widths.trail_bits));
  if (count * entry_bytes > kLeafSpace) return false;
  uint8_t buf[kPageSize] = {};
  PutLe16(buf + kNodeAttr, node.attr);
  PutLe16(buf + kNodeCount, static_cast<uint16_t>(count));
  PutLe32(buf + kNodeLeft, node.left);
  PutLe32(buf + kNodeRight, node.right);
  PutLe32(buf + kLeafRecMask, static_cast<uint32_t>(Mask(rec_bits)));
  buf[kLeafDupMask] = static_cast<uint8_t>(Mask(widths.dup_bits));
  buf[kLeafTrailMask] = static_cast<uint8_t>(Mask(widths.trail_bits));
  buf[kLeafRecBits] = static_cast<uint8_t>(rec_bits);
  buf[kLeafDupBits] = static_cast<uint8_t>(widths.dup_bits);
  buf[kLeafTrailBits] = static_cast<uint8_t>(widths.trail_bits);
  buf[kLeafEntryBytes] = static_cast<uint8_t>(entry_bytes);
  std::size_t key_end = kPageSize;
  const std::size_t entries_end = kLeafData + count * entry_bytes;
  const std::string* previous = nullptr;
  for (std::size_t i = 0; i < count; ++i) {
    const std::string& key = node.entries[i].key;
    if (key.size() != key_length) return false;
    const std::size_t trail = TrailCount(key, pad);
    const std::size_t dup = previous != nullptr ? DuplicateCount(key, *previous, trail) : 0;
    const uint32_t recno = node.entries[i].recno;
    if (dup > Mask(widths.dup_bits) || trail > Mask(widths.trail_bits) || recno > Mask(rec_bits)) return false;
    const std::size_t fresh = key_length - dup - trail;
    if (key_end < entries_end + fresh) return false;
    key_end -= fresh;
    std::memcpy(buf + key_end, key.data() + dup, fresh);
    const uint64_t packed = recno | (static_cast<uint64_t>(dup) << rec_bits) |
                            (static_cast<uint64_t>(trail) << (rec_bits + widths.dup_bits));
    for (std::size_t b = 0; b < entry_bytes; ++b) {
      buf[kLeafData + i * entry_bytes + b] = static_cast<uint8_t>(packed >> (8 * b));
    }
    previous = &key;
  }
  PutLe16(buf + kLeafFree, static_cast<uint16_t>(key_end - entries_end));
  std::memcpy(page.data(), buf, kPageSize);
  return true;
}

bool EncodeNode(const CdxNode& node, std::size_t key_length, uint8_t pad, std::span<uint8_t> page) {
  if (page.size() != kPageSize || key_length == 0 || key_length > kMaxKeyLength) return false;
  if (node.IsLeaf()) {
    uint32_t max_recno = 0;
    for (const CdxEntry& entry : node.entries) max_recno = std::max(max_recno, entry.recno);
    return EncodeLeaf(node, key_length, pad, StandardLeafWidths(key_length, max_recno), page);
  }
  const std::size_t count = node.entries.size();
  if (count > InteriorCapacity(key_length)) return false;
  uint8_t buf[kPageSize] = {};
  PutLe16(buf + kNodeAttr, node.attr);
  PutLe16(buf + kNodeCount, static_cast<uint16_t>(count));
  PutLe32(buf + kNodeLeft, node.left);
  PutLe32(buf + kNodeRight, node.right);
  uint8_t* e = buf + kInteriorData;
  for (const CdxEntry& entry : node.entries) {
    if (entry.key.size() != key_length) return false;
    std::memcpy(e, entry.key.data(), key_length);
    PutBe32(e + key_length, entry.recno);
    PutBe32(e + key_length + 4, entry.child);
    e += key_length + 8;
  }
  std::memcpy(page.data(), buf, kPageSize);
  return true;
}

}  // namespace ravelto::registry
