#include "registry/index/cdx_order.h"

#include <set>

namespace ravelto::registry {
namespace {

std::string EntryText(const CdxEntry& e) { return CdxKeyText(e.key) + " (record " + std::to_string(e.recno) + ")"; }

std::string NodeText(const CdxNode& node) {
  return std::string(node.IsLeaf() ? "the leaf" : "the interior node") + " at offset " + std::to_string(node.offset);
}

class OrderWalk {
 public:
  OrderWalk(const CdxIndex& index, std::size_t key_length, uint8_t pad, std::size_t max)
      : index_(index), key_length_(key_length), pad_(pad), max_(max) {}

  void Add(std::optional<std::string> fault) {
    if (fault && faults.size() < max_) faults.push_back(std::move(*fault));
  }
  bool Full() const { return faults.size() >= max_; }

  // Visits the node at offset; false ends the walk (damage that leaves
  // nothing more to compare).
  bool Visit(uint32_t offset, std::size_t depth, const CdxNode* parent, std::size_t index) {
    if (Full()) return false;
    if (depth > 32 || !seen_.insert(offset).second) {
      Add("the tree reaches the page at offset " + std::to_string(offset) + " twice or lies deeper than any real index");
      return false;
    }
    CdxNode node;
    try {
      node = index_.ReadNode(offset, key_length_, pad_);
    } catch (const CdxError& e) {
      Add(std::string(e.what()));
      return false;
    }
    Add(NodeOrderFault(node));
    if (parent != nullptr) {
      Add(ChildEntryFault(node, parent->offset, parent->entries[index], index > 0 ? &parent->entries[index - 1] : nullptr));
    }
    if (levels_.size() <= depth) levels_.resize(depth + 1);
    if (levels_[depth]) Add(NeighbourOrderFault(*levels_[depth], node));
    if (node.IsLeaf()) {
      levels_[depth] = std::move(node);
      return true;
    }
    for (std::size_t i = 0; i < node.entries.size(); ++i) {
      if (!Visit(node.entries[i].child, depth + 1, &node, i)) return false;
    }
    levels_[depth] = std::move(node);
    return true;
  }

  std::vector<std::string> faults;

 private:
  const CdxIndex& index_;
  std::size_t key_length_;
  uint8_t pad_;
  std::size_t max_;
  std::set<uint32_t> seen_;
  std::vector<std::optional<CdxNode>> levels_;  // the node last visited on each level
};

}  // namespace

std::string CdxKeyText(const std::string& key) {
  static const char* d = "0123456789ABCDEF";
  bool printable = true;
  for (char c : key) printable = printable && static_cast<uint8_t>(c) >= 0x20;
  if (printable) return "'" + key + "'";
  std::string out = "0x";
  for (char c : key) {
    out.push_back(d[static_cast<uint8_t>(c) >> 4]);
    out.push_back(d[static_cast<uint8_t>(c) & 15]);
  }
  return out;
}

std::string DescribeOutOfOrder(const std::string& where, const CdxEntry& first, const CdxEntry& second) {
  return "entries out of order " + where + ": " + EntryText(first) + " before " + EntryText(second);
}

std::optional<std::string> NodeOrderFault(const CdxNode& node) {
  for (std::size_t i = 1; i < node.entries.size(); ++i) {
    if (!CdxInOrder(node.entries[i - 1], node.entries[i])) {
      return DescribeOutOfOrder("in " + NodeText(node), node.entries[i - 1], node.entries[i]);
    }
  }
  return std::nullopt;
}

std::optional<std::string> NeighbourOrderFault(const CdxNode& left, const CdxNode& right) {
  if (left.entries.empty() || right.entries.empty() || CdxInOrder(left.entries.back(), right.entries.front())) {
    return std::nullopt;
  }
  return DescribeOutOfOrder("across the neighbouring nodes at offsets " + std::to_string(left.offset) + " and " +
                                std::to_string(right.offset),
                            left.entries.back(), right.entries.front());
}

std::optional<std::string> ChildEntryFault(const CdxNode& child, uint32_t parent_offset, const CdxEntry& entry,
                                           const CdxEntry* previous) {
  if (child.entries.empty()) return std::nullopt;
  const CdxEntry& last = child.entries.back();
  if (last.key != entry.key || last.recno != entry.recno) {
    return "the entry of the interior node at offset " + std::to_string(parent_offset) + " for " + NodeText(child) +
           " is " + EntryText(entry) + ", not the child's last entry " + EntryText(last);
  }
  if (previous != nullptr && !CdxInOrder(*previous, child.entries.front())) {
    return DescribeOutOfOrder("between the interior node at offset " + std::to_string(parent_offset) + " and " +
                                  NodeText(child),
                              *previous, child.entries.front());
  }
  return std::nullopt;
}

std::vector<std::string> TreeOrderFaults(const CdxIndex& index, uint32_t root, std::size_t key_length, uint8_t pad,
                                         std::size_t max) {
  OrderWalk walk(index, key_length, pad, max);
  walk.Visit(root, 0, nullptr, 0);
  return walk.faults;
}

}  // namespace ravelto::registry
