#include "registry/index/cdx_tag_collation.h"

#include <atomic>
#include <unordered_set>
#include <vector>

#include "platform/files.h"
#include "registry/index/cdx_collation_store.h"
#include "registry/index/cdx_expr.h"
#include "registry/index/cdx_order.h"

namespace ravelto::registry {
namespace {

using namespace cdx;

constexpr uint8_t kPads[] = {0x20, 0x00};  // the bytes writers pad keys with

std::string Who(const CdxTagHeader& tag) {
  return "the tag " + tag.name + " (collation " + tag.CollationName() + ")";
}

// Visits every leaf of the tag once, with the key its parent's entry holds
// for it (the leaf's last key, whole), or nullptr for a root leaf.
void VisitLeaves(const CdxIndex& index, const CdxTagHeader& tag,
                 const std::function<void(std::span<const uint8_t> page, uint32_t offset, const std::string* last)>& visit) {
  std::unordered_set<uint32_t> seen;
  std::vector<std::pair<uint32_t, std::string>> todo{{tag.root, std::string()}};
  std::vector<uint8_t> page(kPageSize);
  bool root = true;
  while (!todo.empty()) {
    auto [offset, last] = std::move(todo.back());
    todo.pop_back();
    if (!IsPageOffset(offset) || uint64_t{offset} + kPageSize > index.Store().Size() || !seen.insert(offset).second) {
      throw CdxError(index.Store().Name() + ": the tree of tag " + tag.name + " reaches offset " +
                     std::to_string(offset) + " twice or outside the file");
    }
    index.Store().Read(offset, page);
    if ((GetLe16(page.data() + kNodeAttr) & kAttrLeaf) != 0) {
      visit(page, offset, root ? nullptr : &last);
    } else {
      CdxNode node = DecodeNode(page, offset, tag.key_length, 0x20);
      if (auto fault = NodeOrderFault(node)) throw CdxError(Who(tag) + ": the index is damaged: " + *fault);
      for (auto e = node.entries.rbegin(); e != node.entries.rend(); ++e) todo.emplace_back(e->child, e->key);
    }
    root = false;
  }
}

struct PadEvidence {
  bool possible[2] = {true, true};  // indexed like kPads
  bool stripped = false;            // some stored key lost bytes to the stripping
};

PadEvidence GatherPadEvidence(const CdxIndex& index, const CdxTagHeader& tag) {
  PadEvidence ev;
  VisitLeaves(index, tag, [&](std::span<const uint8_t> page, uint32_t offset, const std::string* last) {
    const CdxNode a = DecodeNode(page, offset, tag.key_length, kPads[0]);
    const CdxNode b = DecodeNode(page, offset, tag.key_length, kPads[1]);
    for (std::size_t i = 0; i < a.entries.size(); ++i) {
      const std::string& key = a.entries[i].key;
      if (key != b.entries[i].key) {
        ev.stripped = true;
      } else {
        // Every byte of this key is stored: its writer did not strip the last one.
        for (int p = 0; p < 2; ++p) ev.possible[p] &= static_cast<uint8_t>(key.back()) != kPads[p];
      }
    }
    if (last != nullptr && !a.entries.empty()) {
      ev.possible[0] &= a.entries.back().key == *last;
      ev.possible[1] &= b.entries.back().key == *last;
    }
  });
  return ev;
}

// What is structurally wrong with the tag, as the full check would name it,
// for a refusal whose first symptom (no pad fits, no reading reproduces the
// keys) would hide it: the first fault of the tree read with the pad that
// leaves the fewest, or nullopt when some pad leaves none.
std::optional<std::string> StructuralFault(const CdxIndex& index, const CdxTagHeader& tag) {
  std::optional<std::vector<std::string>> best;
  for (uint8_t pad : kPads) {
    std::vector<std::string> faults = TreeOrderFaults(index, tag.root, tag.key_length, pad, 64);
    if (faults.empty()) return std::nullopt;
    if (!best || faults.size() < best->size()) best = std::move(faults);
  }
  return Who(tag) + ": the index is damaged: " + best->front();
}

}  // namespace

std::string CdxTagCollation::Encode(std::string_view value) const {
  std::string key = keys.Encode(value);
  if (!leaf_pad_known && (key.back() == '\0' || key.back() == ' ')) {
    throw CdxError("the key of this value ends in a byte that the tag's stored keys do not tell whether its "
                   "pages strip; enter this row in the registry program");
  }
  return key;
}

std::string CdxTagCollation::Describe() const {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  return "learned from the tag's keys: " + keys.LayoutName() + ", verified against " +
         std::to_string(keys.VerifiedKeys()) + " keys, " + std::to_string(keys.KnownBytes()) +
         " byte values known, pages strip " +
         (leaf_pad_known ? std::string("0x") + kDigits[leaf_pad >> 4] + kDigits[leaf_pad & 15] : "no byte seen");
}

bool IsCollatedTextTag(const CdxTagHeader& tag, const CdxLayout& layout) {
  if (tag.MachineCollation()) return false;
  try {
    return CdxExpression::Compile(tag.key_expr, layout).Type() == CdxType::Char;
  } catch (const CdxError&) {
    return false;
  }
}

std::optional<uint8_t> CollatedLeafPad(const CdxIndex& index, const CdxTagHeader& tag) {
  try {
    const PadEvidence ev = GatherPadEvidence(index, tag);
    if (ev.possible[0] != ev.possible[1]) return ev.possible[0] ? kPads[0] : kPads[1];
  } catch (const CdxError&) {
  }
  return std::nullopt;
}

namespace {
std::atomic<uint64_t> learned_in_full{0};
}  // namespace

uint64_t TagsLearnedInFull() { return learned_in_full.load(); }

CdxTagCollation LearnTagCollation(const CdxIndex& index, const CdxTagHeader& tag, const CdxLayout& layout,
                                  const CdxRecordSource& records) {
  ++learned_in_full;
  const CdxExpression expr = CdxExpression::Compile(tag.key_expr, layout);
  if (expr.Type() != CdxType::Char || expr.Width() <= 0) {
    throw CdxError(Who(tag) + " does not hold text of a fixed width");
  }
  if (expr.SingleField() != nullptr && expr.SingleField()->null_bit >= 0) {
    throw CdxError(Who(tag) + " is on a field that may be NULL, whose keys are not reproduced");
  }
  const std::size_t width = static_cast<std::size_t>(expr.Width());
  if (tag.key_length != 2 * width) {
    throw CdxError(Who(tag) + " has keys of " + std::to_string(tag.key_length) + " bytes for text of " +
                   std::to_string(width) + " characters, not two bytes per character");
  }
  const PadEvidence ev = GatherPadEvidence(index, tag);
  // One learner per pad still possible; with nothing stripped the pads
  // decode every key alike and one learner does.
  std::vector<uint8_t> pads;
  for (int p = 0; p < 2; ++p) {
    if (ev.possible[p]) pads.push_back(kPads[p]);
  }
  if (pads.empty()) {
    if (auto fault = StructuralFault(index, tag)) throw CdxError(*fault);
    throw CdxError(Who(tag) + ": its pages strip neither blanks nor zero bytes from their keys in a way this "
                   "program can reproduce");
  }
  const bool pad_known = pads.size() == 1 || ev.stripped;
  if (!ev.stripped) pads.resize(1);
  std::vector<CdxCollationLearner> learners;
  for (std::size_t i = 0; i < pads.size(); ++i) learners.emplace_back(tag.name, tag.CollationName(), tag.key_length);
  // Each pad's reading of the leaves, left to right, must keep the tag's
  // order: its first fault, and the node read last.
  std::vector<std::optional<std::string>> disorder(pads.size());
  std::vector<CdxNode> previous(pads.size());
  VisitLeaves(index, tag, [&](std::span<const uint8_t> page, uint32_t offset, const std::string*) {
    for (std::size_t p = 0; p < pads.size(); ++p) {
      CdxNode leaf = DecodeNode(page, offset, tag.key_length, pads[p]);
      if (!disorder[p]) disorder[p] = NodeOrderFault(leaf);
      if (!disorder[p]) disorder[p] = NeighbourOrderFault(previous[p], leaf);
      for (const CdxEntry& e : leaf.entries) {
        if (e.recno < 1 || e.recno > records.count) {
          throw CdxError(Who(tag) + " lists record " + std::to_string(e.recno) + ", which the table does not have");
        }
        std::string text;
        try {
          text = expr.Evaluate(records.record(e.recno)).text;
        } catch (const CdxError& err) {
          throw CdxError(Who(tag) + ": the value of record " + std::to_string(e.recno) +
                         " cannot be computed exactly: " + err.what());
        }
        text.resize(width, ' ');
        learners[p].Add(text, e.key);
      }
      previous[p] = std::move(leaf);
    }
  });
  std::vector<CdxTagCollation> learned;
  std::string failure;
  for (std::size_t p = 0; p < pads.size(); ++p) {
    if (disorder[p]) {
      // Keys out of order would take a new key where a seek misses it.
      failure = Who(tag) + ": the index is damaged: " + *disorder[p];
      continue;
    }
    try {
      learned.push_back({pads[p], pad_known, learners[p].Finish()});
    } catch (const CdxError& e) {
      failure = e.what();
    }
  }
  if (learned.empty()) {
    if (auto fault = StructuralFault(index, tag)) throw CdxError(*fault);
    throw CdxError(failure);
  }
  if (learned.size() > 1) {
    throw CdxError(Who(tag) + ": its stored keys read alike with blanks or zero bytes stripped from their ends, "
                   "so they do not tell which its pages strip");
  }
  return std::move(learned.front());
}

std::shared_ptr<const CdxTagCollation> CachedTagCollation(const std::string& cache_key, const CdxTagHeader& tag,
                                                          uint32_t counter,
                                                          const std::function<CdxTagCollation()>& learn) {
  const CdxKnowledgePlace place = PlaceOfIndex(cache_key);
  if (std::optional<CdxKnownTag> known = KnownTag(place, cache_key, tag, counter); known && known->full) {
    return known->collation;
  }
  return RememberTag(place, cache_key, tag, counter, learn());
}

std::string CollationCacheKey(const std::filesystem::path& cdx_path) {
  std::error_code ec;
  const std::filesystem::path canonical = std::filesystem::weakly_canonical(cdx_path, ec);
  return platform::PathText(ec ? cdx_path : canonical);
}

void KeepTagCollations(const std::string& cache_key, uint32_t from, uint32_t to) {
  KeepTagCounters(cache_key, from, to);
}

}  // namespace ravelto::registry
