#pragma once
// Changes to the B-trees of one .cdx, made as one transaction: the caller
// holds the index lock; every page is read fresh from the store the first
// time the transaction needs it; PlanCommit() works out every byte to write
// (so a change the index cannot take is refused before anything is written)
// and Write() writes them: the changed pages (leaves, then interior nodes,
// then freed pages and tag headers), the file header with its change counter
// last, each step flushed.

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "registry/index/cdx_index.h"

namespace ravelto::registry {

// Damage met in the pages a change reads: a node outside the file, a tree
// deeper than any real one, or entries out of the order the tag keeps
// (cdx_order.h: inside a node, across neighbours, a parent entry that is not
// its child's last). The change is refused; nothing has been written.
class CdxTreeDamage : public CdxError {
 public:
  using CdxError::CdxError;
};

class CdxTree {
 public:
  explicit CdxTree(CdxStore& store);

  // A tag to work on: its header offset, key length, pad byte and name (for
  // messages).
  struct Tag {
    uint32_t header_offset = 0;
    std::size_t key_length = 0;
    uint8_t pad = 0x20;
    std::string name;
  };

  // Every node these read on the way down, every node they change and the
  // neighbours they relink is checked against the tag's order when first
  // read; a fault throws CdxTreeDamage naming the tag, the page and the two
  // entries.
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

  // Every node of the tag this transaction has read or made, with its
  // entries as they are now (the caller checks the keys it relies on).
  void VisitNodes(const Tag& tag, const std::function<void(const CdxNode&)>& visit) const;

  // One write of a commit, or what the bytes there were before it.
  struct PageImage {
    uint64_t offset;
    std::vector<uint8_t> bytes;
  };
  // Everything a commit writes, worked out before its first byte is
  // written: the changed pages (leaves, then interior nodes), freed pages,
  // tag roots and, last, the file header's free list and raised change
  // counter; the present bytes of every range it overwrites inside the file
  // as it was when the transaction began, that original size and the change
  // counter before the commit.
  struct Plan {
    std::vector<PageImage> writes;
    std::vector<PageImage> before;
    uint64_t original_size = 0;
    uint32_t counter_before = 0;
    bool Empty() const { return writes.empty(); }
  };
  // Encodes every page whose entries changed (Insert and Erase split any
  // that would not fit); a page whose only change is a sibling link keeps
  // its bytes with just the link patched, however densely another program
  // packed it. Writes nothing. Throws CdxError when a page cannot be encoded.
  Plan PlanCommit();
  // Writes a plan from PlanCommit() of this transaction: the pages, a
  // flush, then the file header (the raised counter marks the commit as
  // whole on disk), a flush.
  void Write(const Plan& plan);
  void Commit() { Write(PlanCommit()); }

 private:
  struct Slot {
    CdxNode node;
    std::size_t key_length;
    uint8_t pad;
    std::vector<uint8_t> page;  // the page as read; empty for a page allocated here
    bool content = false;       // entries or attribute changed: the page is encoded anew
    bool links = false;         // a sibling link changed
    uint32_t tag = 0;           // header offset of the tag the node belongs to
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
  uint32_t Split(const Tag& tag, uint32_t node_offset);
  void LinkRight(const Tag& tag, Slot& left, uint32_t right_offset);
  void Unlink(const Tag& tag, const Slot& gone);
  [[noreturn]] void Damaged(const Tag& tag, const std::string& what) const;

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
