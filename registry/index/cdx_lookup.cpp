#include "registry/index/cdx_lookup.h"

#include "platform/files.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <set>

#include "registry/index/cdx_collation_store.h"
#include "registry/index/cdx_tag_collation.h"
#include "registry/table/dbf_schema.h"

namespace ravelto::registry {
namespace {

using namespace cdx;

std::string Trimmed(std::string_view s) {
  std::size_t b = s.find_first_not_of(' ');
  std::size_t e = s.find_last_not_of(' ');
  return b == std::string_view::npos ? std::string() : std::string(s.substr(b, e - b + 1));
}

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

}  // namespace

CdxLayout LayoutOfSchema(const TableSchema& schema) {
  CdxLayout layout;
  layout.record_length = schema.recordLength;
  for (const FieldDescriptor& f : schema.fields) {
    if (f.IsSystem()) {
      if (f.type == '0') {
        layout.null_flags_offset = static_cast<int>(f.offset);
        layout.null_flags_length = f.length;
      }
      continue;
    }
    CdxField c;
    for (char ch : f.name) c.name.push_back(static_cast<char>(std::toupper(static_cast<unsigned char>(ch))));
    c.type = f.type;
    c.offset = f.offset;
    c.length = f.length;
    c.decimals = f.decimals;
    c.null_bit = f.nullBit;
    layout.fields.push_back(std::move(c));
  }
  return layout;
}

std::unique_ptr<CdxColumnIndex> CdxColumnIndex::Open(const std::string& cdx_path, const CdxLayout& layout,
                                                     std::string_view column, const CdxRecordSource* records) {
  if (cdx_path.empty()) return nullptr;
  try {
    std::unique_ptr<CdxColumnIndex> out(new CdxColumnIndex());
    out->path_ = cdx_path;
    out->store_ = std::make_unique<FileCdxStore>(platform::NativePath(cdx_path), false);
    CdxIndex index(*out->store_);
    for (const CdxTagHeader& tag : index.Tags()) {
      if (!SameName(Trimmed(tag.key_expr), column) || !tag.for_expr.empty() || tag.Unique() || tag.Candidate()) continue;
      try {
        if (IsCollatedTextTag(tag, layout)) {
          // Only what the process already knows of the tag serves (learned
          // by a write, or loaded from the knowledge file); a lookup never
          // learns a tag itself. Unless it was verified against every key at
          // this counter, the entries used are checked against their records.
          const uint32_t counter = index.ChangeCounter();
          const std::string key = CollationCacheKey(platform::NativePath(cdx_path));
          std::optional<CdxKnownTag> known = KnownTag(PlaceOfIndex(key), key, tag, counter);
          if (!known || (!known->full && records == nullptr)) continue;
          out->keys_.emplace(tag, layout, known->collation);
          out->collation_ = std::move(known->collation);
          if (known->full) out->verified_counter_ = counter;
          if (records != nullptr) out->records_ = *records;
        } else {
          out->keys_.emplace(tag, layout);
        }
      } catch (const CdxError&) {
        continue;
      }
      out->tag_ = tag;
      return out;
    }
  } catch (const CdxError&) {
  }
  return nullptr;
}

uint32_t CdxColumnIndex::Counter() const {
  std::array<uint8_t, 12> head{};
  store_->Read(0, head);
  return GetBe32(head.data() + kHdrCounter);
}

bool CdxColumnIndex::Settled() const {
  return !platform::FileExists(path_ + ".pending");
}

bool CdxColumnIndex::ScanBack(const std::function<bool(const CdxEntry&)>& fn) {
  CdxIndex index(*store_);
  const CdxTagHeader* tag = index.FindTag(tag_.name);
  if (tag == nullptr || tag->header_offset != tag_.header_offset) return false;
  const uint8_t pad = keys_->Pad();
  std::set<uint32_t> seen;
  uint32_t offset = tag->root;
  CdxNode node = index.ReadNode(offset, tag_.key_length, pad);
  while (!node.IsLeaf()) {
    if (node.entries.empty() || !seen.insert(offset).second) return false;
    offset = node.entries.back().child;
    node = index.ReadNode(offset, tag_.key_length, pad);
  }
  for (;;) {
    for (std::size_t i = node.entries.size(); i-- > 0;) {
      if (!fn(node.entries[i])) return true;
    }
    if (!IsPageOffset(node.left) || !seen.insert(node.left).second) return true;
    node = index.ReadNode(node.left, tag_.key_length, pad);
    if (!node.IsLeaf()) return false;
  }
}

bool CdxColumnIndex::Scan(const std::string& from, const std::function<bool(const CdxEntry&)>& fn) {
  CdxIndex index(*store_);
  const CdxTagHeader* tag = index.FindTag(tag_.name);
  if (tag == nullptr || tag->header_offset != tag_.header_offset) return false;
  const uint8_t pad = keys_->Pad();
  std::set<uint32_t> seen;
  uint32_t offset = tag->root;
  CdxNode node = index.ReadNode(offset, tag_.key_length, pad);
  while (!node.IsLeaf()) {
    if (node.entries.empty() || !seen.insert(offset).second) return false;
    std::size_t i = 0;
    while (i + 1 < node.entries.size() && CompareEntry(node.entries[i].key, node.entries[i].recno, from, 0) < 0) ++i;
    offset = node.entries[i].child;
    node = index.ReadNode(offset, tag_.key_length, pad);
  }
  for (;;) {
    for (const CdxEntry& e : node.entries) {
      if (CompareEntry(e.key, e.recno, from, 0) < 0) continue;
      if (!fn(e)) return true;
    }
    if (!IsPageOffset(node.right) || !seen.insert(node.right).second) return true;
    node = index.ReadNode(node.right, tag_.key_length, pad);
    if (!node.IsLeaf()) return false;
  }
}

std::optional<std::vector<uint32_t>> CdxColumnIndex::Range(std::optional<double> lo, bool lo_inclusive,
                                                            std::optional<double> hi, bool hi_inclusive) {
  const CdxType type = keys_->Type();
  if (type != CdxType::Number && type != CdxType::Integer) return std::nullopt;
  auto encode = [&](double v) {
    CdxValue value;
    if (type == CdxType::Integer) {
      value.type = CdxType::Integer;
      value.integer = static_cast<int64_t>(std::clamp(v, -2147483648.0, 2147483647.0));
    } else {
      value.type = CdxType::Number;
      value.number = v;
    }
    return keys_->Encode(value);
  };
  if (type == CdxType::Integer) {  // integer keys: move fractional bounds inward
    if (lo && *lo != std::floor(*lo)) lo = std::ceil(*lo), lo_inclusive = true;
    if (hi && *hi != std::floor(*hi)) hi = std::floor(*hi), hi_inclusive = true;
  }
  const std::string lo_key = lo ? encode(*lo) : std::string();
  const std::string hi_key = hi ? encode(*hi) : std::string();
  std::vector<uint32_t> out;
  try {
    if (!Settled()) return std::nullopt;
    uint32_t before = Counter();
    bool ok = Scan(lo_key, [&](const CdxEntry& e) {
      if (lo && !lo_inclusive && e.key == lo_key) return true;
      if (hi) {
        int c = e.key.compare(hi_key);
        if (c > 0 || (c == 0 && !hi_inclusive)) return false;
      }
      out.push_back(e.recno);
      return true;
    });
    if (!ok || Counter() != before || !Settled()) return std::nullopt;
  } catch (const CdxError&) {
    return std::nullopt;
  }
  return out;
}

std::string CdxColumnIndex::CollatedPrefix(std::string_view text) const {
  const CdxLearnedCollation& keys = collation_->keys;
  const std::size_t n = std::min(text.size(), keys.Width());
  // Filled up with its own first character, the value has no trailing
  // blanks and no tail of pad bytes: the key's first characters are the
  // prefix's weights under every reading, whatever follows them.
  std::string value(text.substr(0, n));
  value.resize(keys.Width(), text[0]);
  std::string key = keys.Encode(value);
  // Two bytes per character: the prefix's pairs lead the key. Primaries
  // first: only its primaries do (the secondaries' place depends on the
  // value's length); a superset, as the caller tests every row.
  bool split = false;
  for (const CdxCollationReading& r : keys.Readings()) split |= r.layout == CdxCollationLayout::Split;
  key.resize(split ? n : 2 * n);
  return key;
}

std::optional<std::vector<uint32_t>> CdxColumnIndex::TextPrefix(std::string_view prefix) {
  if (keys_->Type() != CdxType::Char || prefix.empty()) return std::nullopt;
  std::string p;
  try {
    if (collation_) {
      p = CollatedPrefix(prefix);
    } else {
      // The key of a nullable column starts with a marker byte (an empty
      // text encodes as the marker, if any, and blanks).
      CdxValue value;
      value.type = CdxType::Char;
      const std::size_t marker = keys_->Encode(value)[0] == static_cast<char>(0x80) ? 1 : 0;
      value.text = std::string(prefix);
      p = keys_->Encode(value);
      p.resize(std::min<std::size_t>(p.size(), marker + prefix.size()));
    }
  } catch (const CdxError&) {
    return std::nullopt;  // a character without known weights
  }
  std::vector<uint32_t> out;
  try {
    if (!Settled()) return std::nullopt;
    uint32_t before = Counter();
    // A collated tag learned before another writer's change: each entry used
    // (the matches and the first entry after them) must hold its record's
    // key, derived again, in key order; otherwise the table is scanned.
    const bool confirm = collation_ && verified_counter_ != before;
    if (confirm && !records_) return std::nullopt;
    bool confirmed = true;
    const CdxEntry* last = nullptr;
    CdxEntry previous;
    auto holds = [&](const CdxEntry& e) {
      if (!confirm) return true;
      if (last != nullptr && CompareEntry(last->key, last->recno, e.key, e.recno) >= 0) return false;
      previous = e;
      last = &previous;
      if (e.recno < 1 || e.recno > records_->count) return false;
      try {
        return keys_->Key(records_->record(e.recno)) == e.key;
      } catch (const CdxError&) {
        return false;
      }
    };
    bool ok = Scan(p, [&](const CdxEntry& e) {
      if (!(confirmed = holds(e))) return false;
      if (e.key.compare(0, p.size(), p) != 0) return false;
      out.push_back(e.recno);
      return true;
    });
    if (!ok || !confirmed || Counter() != before || !Settled()) return std::nullopt;
  } catch (const CdxError&) {
    return std::nullopt;
  }
  return out;
}

bool CdxColumnIndex::Walk(const std::function<bool(uint32_t recno)>& fn, bool backwards) {
  try {
    if (!Settled()) return false;
    uint32_t before = Counter();
    bool ok = false;
    if (!backwards) {
      ok = Scan(std::string(), [&](const CdxEntry& e) { return fn(e.recno); });
    } else {
      // Entries come from the largest key and record number down; the
      // records of one key are gathered and handed on in ascending order.
      std::string key;
      std::vector<uint32_t> group;
      bool stopped = false;
      auto flush = [&]() {
        for (auto it = group.rbegin(); it != group.rend() && !stopped; ++it) stopped = !fn(*it);
        group.clear();
        return !stopped;
      };
      ok = ScanBack([&](const CdxEntry& e) {
        if (!group.empty() && e.key != key && !flush()) return false;
        key = e.key;
        group.push_back(e.recno);
        return true;
      });
      if (ok) flush();
    }
    return ok && Counter() == before && Settled();
  } catch (const CdxError&) {
    return false;
  }
}

}  // namespace ravelto::registry
