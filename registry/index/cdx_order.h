#pragma once
// The order every tag keeps on disk, and the description of its faults.
//
// Entries ascend by key bytes (unsigned), then by record number, inside a
// node and from one node to the next; no (key, record) pair is stored twice;
// an interior entry is its child's last entry. DESCENDING tags keep that same
// ascending order in their pages (the flag only reverses navigation: the
// registry's own descending tags store their keys so), so one rule serves
// every tag. A change written into a tree that breaks it would land where a
// seek in the tag's order misses it, so writers refuse instead.
//
// The helpers compare entries the caller has already decoded: a pass of
// adjacent comparisons over one node, nothing read again.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "registry/index/cdx_index.h"
#include "registry/index/cdx_node.h"

namespace ravelto::registry {

// A key for people: in quotes when every byte is printable, else in hex.
std::string CdxKeyText(const std::string& key);

// Whether b may follow a in a tag (strictly after it).
inline bool CdxInOrder(const CdxEntry& a, const CdxEntry& b) {
  return CompareEntry(a.key, a.recno, b.key, b.recno) < 0;
}

// "entries out of order <where>: K1 (record r1) before K2 (record r2)".
std::string DescribeOutOfOrder(const std::string& where, const CdxEntry& first, const CdxEntry& second);

// The first adjacent pair of the node's entries out of order, described
// with the node's kind and offset; nullopt when the node is in order.
std::optional<std::string> NodeOrderFault(const CdxNode& node);

// The last entry of left against the first entry of right, its neighbour
// on the same level; nullopt when either is empty or they are in order.
std::optional<std::string> NeighbourOrderFault(const CdxNode& left, const CdxNode& right);

// A parent's entry against the child it points to: the entry must be the
// child's last entry, and the child's first entry must follow the parent's
// previous entry (previous may be nullptr). nullopt when both hold.
std::optional<std::string> ChildEntryFault(const CdxNode& child, uint32_t parent_offset, const CdxEntry& entry,
                                           const CdxEntry* previous);

// Walks a tag's whole tree, leaves decoded with pad, and lists up to max
// faults of its order in walk order (a page that cannot be read, a cycle or
// a tree deeper than any real one ends the walk as one more fault).
std::vector<std::string> TreeOrderFaults(const CdxIndex& index, uint32_t root, std::size_t key_length, uint8_t pad,
                                         std::size_t max);

}  // namespace ravelto::registry
