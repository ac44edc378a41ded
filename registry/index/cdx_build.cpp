#include "registry/index/cdx_build.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>

#include "registry/index/cdx_key.h"

namespace ravelto::registry {
namespace {

using namespace cdx;

class PageWriter {
 public:
  uint32_t Allocate(std::size_t pages = 1) {
    uint32_t at = static_cast<uint32_t>(bytes_.size());
    bytes_.resize(bytes_.size() + pages * kPageSize, 0);
    return at;
  }
  uint8_t* At(uint32_t offset) { return bytes_.data() + offset; }
  const std::vector<uint8_t>& Bytes() const { return bytes_; }

 private:
  std::vector<uint8_t> bytes_;
};

void WriteHeader(PageWriter& w, uint32_t at, uint32_t root, std::size_t key_length, uint8_t options, bool descending,
                 const std::string& key_expr, const std::string& for_expr, const std::string& collation = "") {
  uint8_t* h = w.At(at);
  std::memcpy(h + kHdrCollation, collation.data(), std::min(collation.size(), kHdrCollationSize));
  PutLe32(h + kHdrRoot, root);
  PutLe32(h + kHdrFreeList, 0);
  PutLe16(h + kHdrKeyLength, static_cast<uint16_t>(key_length));
  h[kHdrOptions] = options;
  h[kHdrOptions + 1] = 1;
  PutLe16(h + kHdrDescending, descending ? 1 : 0);
  if (key_expr.size() + for_expr.size() + 2 > kHeaderSize - kHdrPool) throw CdxError("the tag expressions are too long");
  PutLe16(h + kHdrKeyOffset, 0);
  PutLe16(h + kHdrKeyExprLength, static_cast<uint16_t>(key_expr.size() + 1));
  PutLe16(h + kHdrForOffset, static_cast<uint16_t>(key_expr.size() + 1));
  PutLe16(h + kHdrForLength, static_cast<uint16_t>(for_expr.size() + 1));
  std::memcpy(h + kHdrPool, key_expr.data(), key_expr.size());
  std::memcpy(h + kHdrPool + key_expr.size() + 1, for_expr.data(), for_expr.size());
}

// Packs sorted entries into leaves and interior levels; returns the root.
uint32_t BuildTree(PageWriter& w, const std::vector<CdxEntry>& entries, std::size_t key_length, uint8_t pad,
                   CdxNodePacker pack) {
  std::vector<CdxNode> level;
  {
    CdxNode leaf;
    leaf.attr = kAttrLeaf;
    uint8_t page[kPageSize];
    for (const CdxEntry& e : entries) {
      leaf.entries.push_back(e);
      if (!pack(leaf, key_length, pad, std::span<uint8_t>(page, kPageSize))) {
        leaf.entries.pop_back();
        level.push_back(std::move(leaf));
        leaf = CdxNode{};
        leaf.attr = kAttrLeaf;
        leaf.entries.push_back(e);
      }
    }
    level.push_back(std::move(leaf));
  }
  for (;;) {
    for (CdxNode& n : level) n.offset = w.Allocate();
    for (std::size_t i = 0; i < level.size(); ++i) {
      level[i].left = i == 0 ? kNone : level[i - 1].offset;
      level[i].right = i + 1 == level.size() ? kNone : level[i + 1].offset;
    }
    if (level.size() == 1) level[0].attr |= kAttrRoot;
    for (const CdxNode& n : level) {
      if (!pack(n, key_length, pad, std::span<uint8_t>(w.At(n.offset), kPageSize))) {
        throw CdxError("internal error: a built node does not fit its page");
      }
    }
    if (level.size() == 1) return level[0].offset;
    std::vector<CdxNode> up;
    const std::size_t cap = InteriorCapacity(key_length);
    for (std::size_t i = 0; i < level.size(); i += cap) {
      CdxNode n;
      n.attr = 0;
      for (std::size_t j = i; j < std::min(level.size(), i + cap); ++j) {
        n.entries.push_back({level[j].entries.back().key, level[j].entries.back().recno, level[j].offset});
      }
      up.push_back(std::move(n));
    }
    level = std::move(up);
  }
}

}  // namespace

void BuildIndex(const std::filesystem::path& cdx_path, const CdxLayout& layout, const CdxRecordSource& records,
                const std::vector<CdxNewTag>& new_tags, CdxNodePacker pack) {
  PageWriter w;
  w.Allocate(2);  // file header
  uint32_t directory_root = w.Allocate();
  std::vector<CdxEntry> directory;
  for (const CdxNewTag& def : new_tags) {
    CdxExpression e = CdxExpression::Compile(def.key_expr, layout);
    std::size_t key_length = 8;
    if (e.Type() == CdxType::Char) {
      if (e.Width() <= 0) throw CdxError("tag " + def.name + ": the key width is not fixed");
      key_length = static_cast<std::size_t>(e.Width()) * (def.key ? 2 : 1);
    } else if (e.Type() == CdxType::Integer) {
      key_length = 4;
    }
    CdxTagHeader header;
    header.name = def.name;
    header.key_expr = def.key_expr;
    header.for_expr = def.for_expr;
    header.key_length = static_cast<uint16_t>(key_length);
    header.options = static_cast<uint8_t>(kOptCompact | kOptCompound | (def.unique ? kOptUnique : 0) |
                                          (def.for_expr.empty() ? 0 : kOptFor));
    header.descending = def.descending;
    std::optional<CdxTagKeys> keys;
    std::optional<CdxExpression> for_clause;
    if (def.key) {
      if (!def.for_expr.empty()) for_clause = CdxExpression::Compile(def.for_expr, layout);
    } else {
      keys.emplace(header, layout);
    }
    std::vector<CdxEntry> entries;
    entries.reserve(records.count);
    std::map<std::string, bool> seen;
    for (uint32_t r = 1; r <= records.count; ++r) {
      auto rec = records.record(r);
      if (def.key ? for_clause && !for_clause->Evaluate(rec).logical : !keys->Included(rec)) continue;
      std::string key = def.key ? def.key(rec) : keys->Key(rec);
      if (key.size() != key_length) throw CdxError("tag " + def.name + ": a key of the wrong length");
      if (def.unique && !seen.emplace(key, true).second) continue;
      entries.push_back({std::move(key), r, 0});
    }
    std::sort(entries.begin(), entries.end(),
              [](const CdxEntry& a, const CdxEntry& b) { return CompareEntry(a.key, a.recno, b.key, b.recno) < 0; });
    uint32_t at = w.Allocate(2);
    uint32_t root = BuildTree(w, entries, key_length, def.key ? def.pad : keys->Pad(), pack);
    WriteHeader(w, at, root, key_length, header.options, def.descending, def.key_expr, def.for_expr,
                def.key ? def.collation : "");
    std::string name;
    for (char c : def.name) name.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(c))));
    name.resize(kDirectoryKeyLength, ' ');
    directory.push_back({name, at, 0});
  }
  std::sort(directory.begin(), directory.end(),
            [](const CdxEntry& a, const CdxEntry& b) { return CompareEntry(a.key, a.recno, b.key, b.recno) < 0; });
  CdxNode dir;
  dir.offset = directory_root;
  dir.attr = kAttrRoot | kAttrLeaf;
  dir.entries = directory;
  if (!EncodeNode(dir, kDirectoryKeyLength, ' ', std::span<uint8_t>(w.At(directory_root), kPageSize))) {
    throw CdxError("too many tags for one directory page");
  }
  WriteHeader(w, 0, directory_root, kDirectoryKeyLength, kOptCompact | kOptCompound | kOptDirectory, false, "", "");
  std::ofstream out(cdx_path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(w.Bytes().data()), static_cast<std::streamsize>(w.Bytes().size()));
  if (!out) throw CdxError("Cannot write index file " + cdx_path.string());
}

}  // namespace ravelto::registry
