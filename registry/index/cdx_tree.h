#pragma once
// Changes to the B-trees of one .cdx, made as one transaction: the caller
// holds the index lock; every page is read fresh from the store the first
// time the transaction needs it; Commit() writes the changed pages (leaves,
// then interior nodes, then freed pages and tag headers, the file header with
// its change counter last) and flushes.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "registry/index/cdx_index.h"

namespace ravelto::registry {

class CdxTree {
 public:
  explicit CdxTree(CdxStore& store);

  // A tag to work on: its header offset, key length and pad byte.
  struct Tag {
    uint32_t header_offset = 0;
    std::size_t key_length = 0;
    uint8_t pad = 0x20;
  };

  // Inserts (key, recno) in key order; splits nodes as needed.
  void Insert(const Tag& tag, const std::string& key, uint32_t recno);
  // Removes (key, recno); false when the tag has no such entry.
  bool Erase(const Tag& tag, const std::string& key, uint32_t recno);
  // Whether the tag holds exactly (key, recno).
  bool Contains(const Tag& tag, const std::string& key, uint32_t recno);
  // Record numbers stored under exactly this key, ascending (reads the whole
  // group: meant for UNIQUE and CANDIDATE tags, whose groups are small).
  std::vector<uint32_t> Find(const Tag& tag, const std::string& key);

  bool Changed() const { return changed_; }

  // One write of Commit(), and what the bytes there were before it.
  struct PageImage {
    uint64_t offset;
    std::vector<uint8_t> bytes;
  };
  // Called by Commit() before the first byte is written, with the current
  // contents of every range it is about to overwrite (inside the file as it
  // was when the transaction began), that original size and the file
  // header's change counter before the commit (the commit raises it by one
  // in its last write).
  using Journal =
      std::function<void(const std::vector<PageImage>& before, uint64_t original_size, uint32_t counter_before)>;
  void Commit(const Journal& journal = {});

 private:
  struct Slot {
    CdxNode node;
    std::size_t key_length;
    uint8_t pad;
    bool dirty = false;
  };
  using Path = std::vector<std::pair<uint32_t, std::size_t>>;  // interior node, entry index

  uint32_t Root(const Tag& tag);
  void SetRoot(const Tag& tag, uint32_t root);
  Slot& Get(uint32_t offset, const Tag& tag);
  uint32_t Descend(const Tag& tag, const std::string& key, uint32_t recno, Path& path);
  bool Fits(const Slot& slot) const;
  uint32_t Allocate(const Tag& tag, uint16_t attr);
  void Free(uint32_t offset);
  void Rebalance(const Tag& tag, uint32_t node_offset, Path path);
  void LinkRight(const Tag& tag, Slot& left, uint32_t right_offset);

  CdxStore& store_;
  std::map<uint32_t, Slot> slots_;
  std::map<uint32_t, uint32_t> roots_;  // tag header offset -> root
  std::set<uint32_t> root_dirty_;
  std::vector<std::pair<uint32_t, uint32_t>> freed_;  // page, next free page
  uint32_t free_head_;
  uint64_t end_;
  uint64_t original_size_;
  bool header_dirty_ = false;
  bool changed_ = false;
};

}  // namespace ravelto::registry
