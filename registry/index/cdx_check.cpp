#include "registry/index/cdx_check.h"

#include <algorithm>
#include <array>
#include <map>
#include <optional>
#include <set>

#include "registry/index/cdx_key.h"
#include "registry/index/cdx_order.h"
#include "registry/index/cdx_tag_collation.h"

namespace ravelto::registry {
namespace {

using namespace cdx;

class Checker {
 public:
  Checker(const CdxStore& store, std::size_t max) : store_(store), max_(max) {}

  void Problem(const std::string& tag, const std::string& what) {
    if (report.problems.size() < max_) report.problems.push_back("tag " + tag + ": " + what);
    else if (report.problems.size() == max_) report.problems.push_back("(further problems not listed)");
  }

  // Walks one tree; returns its leaf entries in order when the tree is sound
  // enough to read.
  std::optional<std::vector<CdxEntry>> Tree(const std::string& tag, uint32_t root, std::size_t key_length, uint8_t pad,
                                            const CdxIndex& index) {
    std::size_t before = report.problems.size();
    std::vector<std::vector<CdxNode>> levels;
    std::vector<CdxEntry> leaves;
    Walk(tag, root, key_length, pad, index, 0, true, {}, levels, leaves);
    for (std::size_t depth = 0; depth < levels.size(); ++depth) {
      const auto& level = levels[depth];
      for (std::size_t i = 0; i < level.size(); ++i) {
        uint32_t want_left = i == 0 ? kNone : level[i - 1].offset;
        uint32_t want_right = i + 1 == level.size() ? kNone : level[i + 1].offset;
        if (level[i].left != want_left) {
          Problem(tag, "node at offset " + std::to_string(level[i].offset) + " has left sibling " +
                           std::to_string(level[i].left) + ", expected " + std::to_string(want_left));
        }
        if (level[i].right != want_right) {
          Problem(tag, "node at offset " + std::to_string(level[i].offset) + " has right sibling " +
                           std::to_string(level[i].right) + ", expected " + std::to_string(want_right));
        }
      }
    }
    if (report.problems.size() != before) return std::nullopt;
    return leaves;
  }

  // The entry that leads to a node: its parent's offset, the entry and the
  // one before it (nullptr for the first); entry is nullptr for the root.
  struct Parent {
    uint32_t offset = 0;
    const CdxEntry* entry = nullptr;
    const CdxEntry* previous = nullptr;
  };

  void Walk(const std::string& tag, uint32_t offset, std::size_t key_length, uint8_t pad, const CdxIndex& index,
            std::size_t depth, bool is_root, const Parent& parent, std::vector<std::vector<CdxNode>>& levels,
            std::vector<CdxEntry>& leaves) {
    if (depth > 32) {
      Problem(tag, "the tree is deeper than 32 levels");
      return;
    }
    if (!used_.insert(offset).second) {
      Problem(tag, "page at offset " + std::to_string(offset) + " is reached twice");
      return;
    }
    CdxNode node;
    try {
      node = index.ReadNode(offset, key_length, pad);
    } catch (const CdxError& e) {
      Problem(tag, e.what());
      return;
    }
    if (node.IsRoot() != is_root) {
      Problem(tag, "node at offset " + std::to_string(offset) + (is_root ? " is the root but lacks the root mark" : " has the root mark but is not the root"));
    }
    if (node.entries.empty() && !is_root) Problem(tag, "node at offset " + std::to_string(offset) + " is empty");
    if (node.IsLeaf() && node.stored_free != node.actual_free) {
      Problem(tag, "leaf at offset " + std::to_string(offset) + " records " + std::to_string(node.stored_free) +
                       " free bytes, its entries leave " + std::to_string(node.actual_free));
    }
    // The order: inside the node, against its parent's entries, and after
    // the node before it on its level.
    if (auto fault = NodeOrderFault(node)) Problem(tag, *fault);
    if (parent.entry != nullptr) {
      if (auto fault = ChildEntryFault(node, parent.offset, *parent.entry, parent.previous)) Problem(tag, *fault);
    }
    if (levels.size() <= depth) levels.resize(depth + 1);
    if (!levels[depth].empty()) {
      if (auto fault = NeighbourOrderFault(levels[depth].back(), node)) Problem(tag, *fault);
    }
    if (node.IsLeaf()) {
      if (leaf_depth_ < 0) leaf_depth_ = static_cast<int>(depth);
      if (leaf_depth_ != static_cast<int>(depth)) Problem(tag, "leaves lie at different depths");
      for (const CdxEntry& e : node.entries) leaves.push_back(e);
      levels[depth].push_back(std::move(node));
      return;
    }
    std::vector<CdxEntry> entries = node.entries;
    levels[depth].push_back(std::move(node));
    for (std::size_t i = 0; i < entries.size(); ++i) {
      const Parent up{offset, &entries[i], i > 0 ? &entries[i - 1] : nullptr};
      Walk(tag, entries[i].child, key_length, pad, index, depth + 1, false, up, levels, leaves);
    }
  }

  void FreeList(const CdxIndex& index) {
    uint32_t offset = index.FreeListHead();
    std::set<uint32_t> seen;
    while (IsPageOffset(offset)) {
      if (uint64_t{offset} + kPageSize > store_.Size() || !seen.insert(offset).second || used_.count(offset)) {
        Problem("(free list)", "free page at offset " + std::to_string(offset) + " is outside the file, repeated or in use");
        return;
      }
      std::array<uint8_t, 4> b{};
      store_.Read(offset, b);
      offset = GetLe32(b.data());
    }
  }

  void ResetTree() { leaf_depth_ = -1; }
  void Use(uint32_t offset, std::size_t pages) {
    for (std::size_t i = 0; i < pages; ++i) used_.insert(offset + static_cast<uint32_t>(i * kPageSize));
  }

  CdxCheckReport report;

 private:
  const CdxStore& store_;
  std::size_t max_;
  std::set<uint32_t> used_;
  int leaf_depth_ = -1;
};

void CheckContent(Checker& c, const CdxTagHeader& tag, const CdxLayout& layout, const CdxRecordSource& records,
                  const std::vector<CdxEntry>& actual, std::shared_ptr<const CdxTagCollation> collation) {
  std::optional<CdxTagKeys> keys;
  try {
    keys.emplace(tag, layout, std::move(collation));
  } catch (const CdxError& e) {
    c.report.notes.push_back("tag " + tag.name + ": keys not verified: " + e.what());
    return;
  }
  std::vector<CdxEntry> expected;
  std::map<std::string, uint32_t> first;
  for (uint32_t r = 1; r <= records.count; ++r) {
    auto rec = records.record(r);
    try {
      if (!keys->Included(rec)) continue;
      std::string key = keys->Key(rec);
      if (tag.Unique() || tag.Candidate()) {
        if (first.emplace(key, r).second) expected.push_back({key, r, 0});
        else if (tag.Candidate()) c.Problem(tag.name, "records " + std::to_string(first[key]) + " and " + std::to_string(r) + " share the candidate key " + CdxKeyText(key));
      } else {
        expected.push_back({key, r, 0});
      }
    } catch (const CdxError& e) {
      c.report.notes.push_back("tag " + tag.name + ": record " + std::to_string(r) + " not verified: " + e.what());
      return;
    }
  }
  // Compare by record number: both lists sorted, then merged.
  auto by_recno = [](const CdxEntry& a, const CdxEntry& b) { return a.recno != b.recno ? a.recno < b.recno : a.key < b.key; };
  std::vector<CdxEntry> have = actual;
  std::sort(expected.begin(), expected.end(), by_recno);
  std::sort(have.begin(), have.end(), by_recno);
  for (std::size_t i = 1; i < have.size(); ++i) {
    if (have[i].recno == have[i - 1].recno) c.Problem(tag.name, "record " + std::to_string(have[i].recno) + " is indexed twice");
  }
  std::size_t i = 0, j = 0;
  while (i < expected.size() || j < have.size()) {
    if (j < have.size() && j > 0 && have[j].recno == have[j - 1].recno) {
      ++j;
      continue;
    }
    if (j == have.size() || (i < expected.size() && expected[i].recno < have[j].recno)) {
      c.Problem(tag.name, "record " + std::to_string(expected[i].recno) + " is missing (key " + CdxKeyText(expected[i].key) + ")");
      ++i;
    } else if (i == expected.size() || have[j].recno < expected[i].recno) {
      c.Problem(tag.name, "entry for record " + std::to_string(have[j].recno) + " (key " + CdxKeyText(have[j].key) +
                              ") should not be there" + (have[j].recno > records.count ? ": the table has no such record" : ""));
      ++j;
    } else {
      if (have[j].key != expected[i].key) {
        c.Problem(tag.name, "record " + std::to_string(have[j].recno) + " has key " + CdxKeyText(have[j].key) + ", expected " + CdxKeyText(expected[i].key));
      }
      ++i;
      ++j;
    }
  }
}

CdxCheckReport Run(const CdxStore& store, const CdxLayout* layout, const CdxRecordSource* records, std::size_t max) {
  Checker c(store, max);
  std::optional<CdxIndex> index;
  try {
    index.emplace(store);
  } catch (const CdxError& e) {
    c.Problem("(directory)", e.what());
    return c.report;
  }
  c.Use(0, 2);
  try {
    CdxTagHeader dir = index->ReadTagHeader(0);
    c.ResetTree();
    c.Tree("(directory)", dir.root, dir.key_length, ' ', *index);
  } catch (const CdxError& e) {
    c.Problem("(directory)", e.what());
  }
  for (const CdxTagHeader& tag : index->Tags()) {
    c.Use(tag.header_offset, 2);
  }
  for (const CdxTagHeader& tag : index->Tags()) {
    uint8_t pad = ReadPad(tag, layout);
    // A character tag in another collation: its pad and keys as its own
    // entries teach them (the check of its content is then the check of
    // every record against what was learned).
    std::shared_ptr<const CdxTagCollation> collation;
    bool content = layout != nullptr && records != nullptr;
    if (content && IsCollatedTextTag(tag, *layout)) {
      try {
        collation = std::make_shared<const CdxTagCollation>(LearnTagCollation(*index, tag, *layout, *records));
        pad = collation->leaf_pad;
      } catch (const CdxError& e) {
        c.report.notes.push_back("tag " + tag.name + ": keys not verified: " + e.what());
        content = false;
      }
    }
    if (!collation && layout != nullptr && IsCollatedTextTag(tag, *layout)) {
      pad = CollatedLeafPad(*index, tag).value_or(pad);
    }
    c.ResetTree();
    auto entries = c.Tree(tag.name, tag.root, tag.key_length, pad, *index);
    if (entries && content) {
      CheckContent(c, tag, *layout, *records, *entries, std::move(collation));
    }
  }
  c.FreeList(*index);
  return c.report;
}

}  // namespace

CdxCheckReport CheckIndex(const CdxStore& store, const CdxLayout& layout, const CdxRecordSource& records,
                          std::size_t max_problems) {
  return Run(store, &layout, &records, max_problems);
}

CdxCheckReport CheckIndexStructure(const CdxStore& store, std::size_t max_problems) {
  return Run(store, nullptr, nullptr, max_problems);
}

}  // namespace ravelto::registry
