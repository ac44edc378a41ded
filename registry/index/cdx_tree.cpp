#include "registry/index/cdx_tree.h"

#include <algorithm>
#include <array>

#include "registry/index/cdx_order.h"

namespace ravelto::registry {
namespace {

using namespace cdx;

bool Valid(uint32_t offset) { return IsPageOffset(offset); }

}  // namespace

void CdxTree::Damaged(const Tag& tag, const std::string& what) const {
  throw CdxTreeDamage(store_.Name() + ": the index is damaged: " + (tag.name.empty() ? "" : "tag " + tag.name + ": ") +
                      what);
}

CdxTree::CdxTree(CdxStore& store) : store_(store) {
  std::array<uint8_t, 16> head{};
  store_.Read(0, head);
  free_head_ = GetLe32(head.data() + kHdrFreeList);
  original_size_ = store_.Size();
  end_ = (original_size_ + kPageSize - 1) / kPageSize * kPageSize;
}

uint32_t CdxTree::Root(const Tag& tag) {
  auto it = roots_.find(tag.header_offset);
  if (it != roots_.end()) return it->second;
  std::array<uint8_t, 4> b{};
  store_.Read(tag.header_offset, b);
  uint32_t root = GetLe32(b.data());
  roots_[tag.header_offset] = root;
  return root;
}

void CdxTree::SetRoot(const Tag& tag, uint32_t root) {
  roots_[tag.header_offset] = root;
  root_dirty_.insert(tag.header_offset);
  changed_ = true;
}

CdxTree::Slot& CdxTree::Get(uint32_t offset, const Tag& tag) {
  auto it = slots_.find(offset);
  if (it != slots_.end()) return it->second;
  if (!Valid(offset) || uint64_t{offset} + kPageSize > end_) {
    Damaged(tag, "node offset " + std::to_string(offset) + " lies outside the file");
  }
  std::vector<uint8_t> page(kPageSize);
  store_.Read(offset, page);
  Slot slot{DecodeNode(page, offset, tag.key_length, tag.pad), tag.key_length, tag.pad, std::move(page)};
  if (auto fault = NodeOrderFault(slot.node)) Damaged(tag, *fault);
  slot.tag = tag.header_offset;
  return slots_.emplace(offset, std::move(slot)).first->second;
}

uint32_t CdxTree::Descend(const Tag& tag, const std::string& key, uint32_t recno, Path& path) {
  uint32_t offset = Root(tag);
  for (int depth = 0;; ++depth) {
    if (depth > 32) Damaged(tag, "the tree is deeper than any real index");
    Slot& s = Get(offset, tag);
    if (!path.empty()) {
      // The child must lie between its parent's entries: its last entry is
      // the parent's entry, its first follows the entry before.
      const auto& [parent, index] = path.back();
      const std::vector<CdxEntry>& up = slots_.at(parent).node.entries;
      if (auto fault = ChildEntryFault(s.node, parent, up[index], index > 0 ? &up[index - 1] : nullptr)) {
        Damaged(tag, *fault);
      }
    }
    if (s.node.IsLeaf()) return offset;
    auto& entries = s.node.entries;
    if (entries.empty()) Damaged(tag, "interior node at offset " + std::to_string(offset) + " is empty");
    std::size_t i = 0;
    while (i + 1 < entries.size() && CompareEntry(entries[i].key, entries[i].recno, key, recno) < 0) ++i;
    path.emplace_back(offset, i);
    offset = entries[i].child;
  }
}

void CdxTree::VisitNodes(const Tag& tag, const std::function<void(const CdxNode&)>& visit) const {
  for (const auto& [offset, slot] : slots_) {
    if (slot.tag == tag.header_offset) visit(slot.node);
  }
}

bool CdxTree::Fits(const Slot& slot) const {
  if (!slot.node.IsLeaf()) return slot.node.entries.size() <= InteriorCapacity(slot.key_length);
  std::array<uint8_t, kPageSize> page{};
  return EncodeNode(slot.node, slot.key_length, slot.pad, page);
}

uint32_t CdxTree::Allocate(const Tag& tag, uint16_t attr) {
  uint32_t offset = 0;
  if (Valid(free_head_) && uint64_t{free_head_} + kPageSize <= end_ && !slots_.count(free_head_)) {
    offset = free_head_;
    auto mine = std::find_if(freed_.begin(), freed_.end(), [&](const auto& f) { return f.first == offset; });
    if (mine != freed_.end()) {
      free_head_ = mine->second;
      freed_.erase(mine);
    } else {
      std::array<uint8_t, 4> b{};
      store_.Read(offset, b);
      free_head_ = GetLe32(b.data());
    }
  } else {
    if (end_ + kPageSize > 0xFFFFFE00u) throw CdxError(store_.Name() + ": the index file cannot grow further");
    offset = static_cast<uint32_t>(end_);
    end_ += kPageSize;
  }
  header_dirty_ = true;
  Slot slot{CdxNode{}, tag.key_length, tag.pad, {}, true};
  slot.tag = tag.header_offset;
  slot.node.offset = offset;
  slot.node.attr = attr;
  return slots_.emplace(offset, std::move(slot)).first->first;
}

void CdxTree::Free(uint32_t offset) {
  freed_.emplace_back(offset, free_head_);
  free_head_ = offset;
  header_dirty_ = true;
  slots_.erase(offset);
}

void CdxTree::LinkRight(const Tag& tag, Slot& left, uint32_t right_offset) {
  Slot& right = Get(right_offset, tag);
  right.node.left = left.node.offset;
  right.node.right = left.node.right;
  if (Valid(left.node.right)) {
    Slot& after = Get(left.node.right, tag);
    if (auto fault = NeighbourOrderFault(right.node, after.node)) Damaged(tag, *fault);
    after.node.left = right_offset;
    after.links = true;
  }
  left.node.right = right_offset;
  left.links = right.links = true;
}

// Takes a node that is about to be freed out of its sibling chain.
void CdxTree::Unlink(const Tag& tag, const Slot& gone) {
  if (Valid(gone.node.left) && Valid(gone.node.right)) {
    // The two neighbours become adjacent: they must already be in order.
    if (auto fault = NeighbourOrderFault(Get(gone.node.left, tag).node, Get(gone.node.right, tag).node)) {
      Damaged(tag, *fault);
    }
  }
  if (Valid(gone.node.left)) {
    Slot& l = Get(gone.node.left, tag);
    l.node.right = gone.node.right;
    l.links = true;
  }
  if (Valid(gone.node.right)) {
    Slot& r = Get(gone.node.right, tag);
    r.node.left = gone.node.left;
    r.links = true;
  }
}

// Moves the upper part of an overfull node into a new right sibling, cutting
// where both halves fit (the middle first); returns the new node's offset.
uint32_t CdxTree::Split(const Tag& tag, uint32_t node_offset) {
  const uint32_t right_offset = Allocate(tag, static_cast<uint16_t>(Get(node_offset, tag).node.attr & ~kAttrRoot));
  Slot& s = Get(node_offset, tag);
  Slot& r = Get(right_offset, tag);
  const std::vector<CdxEntry> whole = std::move(s.node.entries);
  const std::size_t n = whole.size();
  bool done = false;
  for (std::size_t i = 0; !done && i < 2 * n; ++i) {
    const std::size_t cut = i % 2 == 0 ? n / 2 + i / 2 : n / 2 - std::min(n / 2, (i + 1) / 2);
    if (cut == 0 || cut >= n) continue;
    s.node.entries.assign(whole.begin(), whole.begin() + static_cast<std::ptrdiff_t>(cut));
    r.node.entries.assign(whole.begin() + static_cast<std::ptrdiff_t>(cut), whole.end());
    done = Fits(s) && Fits(r);
  }
  if (!done) throw CdxError(store_.Name() + ": a node cannot be split so that both halves fit");
  s.node.attr = static_cast<uint16_t>(s.node.attr & ~kAttrRoot);
  LinkRight(tag, s, right_offset);
  return right_offset;
}

// Brings the tree back into shape after the entries of one node changed:
// splits what does not fit, frees what became empty, and carries each
// node's new last entry up to its parent for as long as a parent changes.
void CdxTree::Rebalance(const Tag& tag, uint32_t node_offset, Path path) {
  changed_ = true;
  for (;;) {
    Get(node_offset, tag).content = true;
    const uint32_t right_offset = Fits(Get(node_offset, tag)) ? 0 : Split(tag, node_offset);
    Slot& s = Get(node_offset, tag);
    if (path.empty()) {  // s is the root
      if (right_offset != 0) {
        uint32_t root = Allocate(tag, kAttrRoot);
        Slot& right = Get(right_offset, tag);
        Slot& top = Get(root, tag);
        top.node.entries.push_back({s.node.entries.back().key, s.node.entries.back().recno, node_offset});
        top.node.entries.push_back({right.node.entries.back().key, right.node.entries.back().recno, right_offset});
        SetRoot(tag, root);
      } else if (!s.node.IsLeaf() && s.node.entries.empty()) {
        s.node.attr = kAttrRoot | kAttrLeaf;
      }
      return;
    }
    auto [parent_offset, index] = path.back();
    path.pop_back();
    Slot& p = Get(parent_offset, tag);
    if (s.node.entries.empty()) {
      Unlink(tag, s);
      Free(node_offset);
      p.node.entries.erase(p.node.entries.begin() + static_cast<std::ptrdiff_t>(index));
    } else {
      CdxEntry& up = p.node.entries[index];
      const CdxEntry& last = s.node.entries.back();
      const bool same = up.key == last.key && up.recno == last.recno;
      up.key = last.key;
      up.recno = last.recno;
      if (right_offset != 0) {
        Slot& r = Get(right_offset, tag);
        p.node.entries.insert(p.node.entries.begin() + static_cast<std::ptrdiff_t>(index) + 1,
                              {r.node.entries.back().key, r.node.entries.back().recno, right_offset});
      } else if (same) {
        return;  // the parent, and everything above it, stays as it is
      }
    }
    node_offset = parent_offset;
  }
}

void CdxTree::Insert(const Tag& tag, const std::string& key, uint32_t recno) {
  if (key.size() != tag.key_length) throw CdxError("a key of the wrong length cannot be stored");
  Path path;
  uint32_t leaf = Descend(tag, key, recno, path);
  Slot& s = Get(leaf, tag);
  auto& e = s.node.entries;
  auto pos = std::find_if(e.begin(), e.end(), [&](const CdxEntry& x) { return CompareEntry(x.key, x.recno, key, recno) >= 0; });
  if (pos != e.end() && pos->key == key && pos->recno == recno) return;
  e.insert(pos, CdxEntry{key, recno, 0});
  Rebalance(tag, leaf, std::move(path));
}

bool CdxTree::Erase(const Tag& tag, const std::string& key, uint32_t recno) {
  Path path;
  uint32_t leaf = Descend(tag, key, recno, path);
  Slot& s = Get(leaf, tag);
  auto& e = s.node.entries;
  auto pos = std::find_if(e.begin(), e.end(), [&](const CdxEntry& x) { return x.key == key && x.recno == recno; });
  if (pos == e.end()) return false;
  e.erase(pos);
  Rebalance(tag, leaf, std::move(path));
  return true;
}

bool CdxTree::Contains(const Tag& tag, const std::string& key, uint32_t recno) {
  Path path;
  uint32_t leaf = Descend(tag, key, recno, path);
  const auto& e = Get(leaf, tag).node.entries;
  return std::any_of(e.begin(), e.end(), [&](const CdxEntry& x) { return x.recno == recno && x.key == key; });
}

std::vector<uint32_t> CdxTree::Find(const Tag& tag, const std::string& key) {
  Path path;
  uint32_t offset = Descend(tag, key, 0, path);
  std::vector<uint32_t> out;
  std::set<uint32_t> seen;
  while (Valid(offset) && seen.insert(offset).second) {
    Slot& s = Get(offset, tag);
    for (const CdxEntry& e : s.node.entries) {
      int c = e.key.compare(key);
      if (c > 0) return out;
      if (c == 0) out.push_back(e.recno);
    }
    offset = s.node.right;
    if (Valid(offset)) {
      const CdxNode& next = Get(offset, tag).node;
      if (auto fault = NeighbourOrderFault(s.node, next)) Damaged(tag, *fault);
    }
  }
  return out;
}

CdxTree::Plan CdxTree::PlanCommit() {
  Plan plan;
  plan.original_size = original_size_;
  if (!changed_ && !header_dirty_) return plan;
  std::vector<PageImage>& writes = plan.writes;
  std::array<uint8_t, kPageSize> page{};
  for (int pass = 0; pass < 2; ++pass) {  // leaves first, then interior nodes
    for (auto& [offset, slot] : slots_) {
      if (!(slot.content || slot.links) || slot.node.IsLeaf() != (pass == 0)) continue;
      slot.node.offset = offset;
      if (!slot.content) {
        // Only a sibling link moved: the page keeps every other byte.
        std::vector<uint8_t> bytes = slot.page;
        PutLe32(bytes.data() + kNodeLeft, slot.node.left);
        PutLe32(bytes.data() + kNodeRight, slot.node.right);
        writes.push_back({offset, std::move(bytes)});
        continue;
      }
      if (!EncodeNode(slot.node, slot.key_length, slot.pad, page)) {
        throw CdxError(store_.Name() + ": the changed node at offset " + std::to_string(offset) +
                       " does not fit its page");
      }
      writes.push_back({offset, std::vector<uint8_t>(page.begin(), page.end())});
    }
  }
  for (const auto& [offset, next] : freed_) {
    std::vector<uint8_t> bytes(kPageSize, 0);
    PutLe32(bytes.data(), next);
    writes.push_back({offset, std::move(bytes)});
  }
  for (uint32_t header : root_dirty_) {
    std::vector<uint8_t> bytes(4);
    PutLe32(bytes.data(), roots_[header]);
    writes.push_back({header, std::move(bytes)});
  }
  std::array<uint8_t, 12> head{};
  store_.Read(0, head);
  plan.counter_before = GetBe32(head.data() + kHdrCounter);
  std::vector<uint8_t> tail(8);
  PutLe32(tail.data(), free_head_);
  PutBe32(tail.data() + 4, plan.counter_before + 1);
  writes.push_back({kHdrFreeList, std::move(tail)});
  for (const PageImage& w : writes) {
    if (w.offset >= original_size_) continue;
    std::vector<uint8_t> old(std::min<uint64_t>(w.bytes.size(), original_size_ - w.offset));
    store_.Read(w.offset, old);
    plan.before.push_back({w.offset, std::move(old)});
  }
  return plan;
}

void CdxTree::Write(const Plan& plan) {
  if (plan.Empty()) return;
  // The file header (free list and change counter) goes last, after the
  // pages are durable: a raised counter means the whole commit is on disk.
  const std::vector<PageImage>& writes = plan.writes;
  for (std::size_t i = 0; i + 1 < writes.size(); ++i) store_.Write(writes[i].offset, writes[i].bytes);
  store_.Sync();
  store_.Write(writes.back().offset, writes.back().bytes);
  store_.Sync();
  for (const PageImage& w : writes) {
    auto it = slots_.find(static_cast<uint32_t>(w.offset));
    if (it != slots_.end() && w.bytes.size() == kPageSize) it->second.page = w.bytes;
  }
  for (auto& [offset, slot] : slots_) slot.content = slot.links = false;
  freed_.clear();
  root_dirty_.clear();
  changed_ = header_dirty_ = false;
}

}  // namespace ravelto::registry
