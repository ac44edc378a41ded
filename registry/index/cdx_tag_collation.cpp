#include "registry/index/cdx_tag_collation.h"

#include <map>
#include <mutex>
#include <unordered_set>
#include <vector>

#include "platform/files.h"
#include "registry/index/cdx_expr.h"

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

CdxTagCollation LearnTagCollation(const CdxIndex& index, const CdxTagHeader& tag, const CdxLayout& layout,
                                  const CdxRecordSource& records) {
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
    throw CdxError(Who(tag) + ": its pages strip neither blanks nor zero bytes from their keys in a way this "
                   "program can reproduce");
  }
  const bool pad_known = pads.size() == 1 || ev.stripped;
  if (!ev.stripped) pads.resize(1);
  std::vector<CdxCollationLearner> learners;
  for (std::size_t i = 0; i < pads.size(); ++i) learners.emplace_back(tag.name, tag.CollationName(), tag.key_length);
  VisitLeaves(index, tag, [&](std::span<const uint8_t> page, uint32_t offset, const std::string*) {
    for (std::size_t p = 0; p < pads.size(); ++p) {
      for (const CdxEntry& e : DecodeNode(page, offset, tag.key_length, pads[p]).entries) {
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
    }
  });
  std::vector<CdxTagCollation> learned;
  std::string failure;
  for (std::size_t p = 0; p < pads.size(); ++p) {
    try {
      learned.push_back({pads[p], pad_known, learners[p].Finish()});
    } catch (const CdxError& e) {
      failure = e.what();
    }
  }
  if (learned.empty()) throw CdxError(failure);
  if (learned.size() > 1) {
    throw CdxError(Who(tag) + ": its stored keys read alike with blanks or zero bytes stripped from their ends, "
                   "so they do not tell which its pages strip");
  }
  return std::move(learned.front());
}

namespace {

struct CacheEntry {
  CdxTagHeader tag;
  uint32_t counter = 0;
  std::shared_ptr<const CdxTagCollation> learned;
};

bool SameTag(const CdxTagHeader& a, const CdxTagHeader& b) {
  return a.header_offset == b.header_offset && a.key_expr == b.key_expr && a.for_expr == b.for_expr &&
         a.key_length == b.key_length && a.options == b.options && a.collation == b.collation;
}

std::mutex& CacheLock() {
  static std::mutex m;
  return m;
}
std::map<std::pair<std::string, uint32_t>, CacheEntry>& Cache() {
  static std::map<std::pair<std::string, uint32_t>, CacheEntry> cache;
  return cache;
}

}  // namespace

std::shared_ptr<const CdxTagCollation> CachedTagCollation(const std::string& cache_key, const CdxTagHeader& tag,
                                                          uint32_t counter,
                                                          const std::function<CdxTagCollation()>& learn) {
  const auto key = std::make_pair(cache_key, tag.header_offset);
  {
    std::lock_guard<std::mutex> hold(CacheLock());
    auto it = Cache().find(key);
    if (it != Cache().end() && it->second.counter == counter && SameTag(it->second.tag, tag)) {
      return it->second.learned;
    }
  }
  auto learned = std::make_shared<const CdxTagCollation>(learn());
  std::lock_guard<std::mutex> hold(CacheLock());
  Cache()[key] = CacheEntry{tag, counter, learned};
  return learned;
}

std::shared_ptr<const CdxTagCollation> LearnedTagCollation(const std::string& cache_key, const CdxTagHeader& tag,
                                                           uint32_t counter, bool* current) {
  std::lock_guard<std::mutex> hold(CacheLock());
  auto it = Cache().find(std::make_pair(cache_key, tag.header_offset));
  if (it == Cache().end() || !SameTag(it->second.tag, tag)) return nullptr;
  *current = it->second.counter == counter;
  return it->second.learned;
}

std::string CollationCacheKey(const std::filesystem::path& cdx_path) {
  std::error_code ec;
  const std::filesystem::path canonical = std::filesystem::weakly_canonical(cdx_path, ec);
  return platform::PathText(ec ? cdx_path : canonical);
}

void KeepTagCollations(const std::string& cache_key, uint32_t from, uint32_t to) {
  std::lock_guard<std::mutex> hold(CacheLock());
  for (auto& [key, entry] : Cache()) {
    if (key.first == cache_key && entry.counter == from) entry.counter = to;
  }
}

}  // namespace ravelto::registry
