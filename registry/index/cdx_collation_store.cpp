#include "registry/index/cdx_collation_store.h"

#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <vector>

#include "platform/files.h"

namespace ravelto::registry {
namespace {

// The weights of one collation under one reading, and which of them this
// process verified (the rest came from the knowledge file).
struct Merged {
  CdxCollationWeights w;
  std::bitset<256> verified;
  bool pad_verified = false;
};

struct TagEntry {
  CdxTagHeader tag;
  std::vector<CdxCollationReading> readings;
  uint8_t leaf_pad = 0x20;
  bool leaf_pad_known = true;
  std::size_t verified_keys = 0;
  std::optional<uint32_t> full_counter;
  // Weights that disagree with their collation's: this tag's own, kept in
  // this process only.
  std::shared_ptr<const CdxTagCollation> own;
};

struct Folder {
  std::string file;
  std::map<std::string, std::vector<Merged>> collations;
  std::map<std::pair<std::string, uint32_t>, TagEntry> tags;  // (index, tag header offset)
  std::set<std::string> folder_learned;                       // collations
};

std::mutex& Lock() {
  static std::mutex m;
  return m;
}
std::map<std::string, Folder>& Folders() {
  static std::map<std::string, Folder> folders;
  return folders;
}

bool SameTag(const CdxTagHeader& a, const CdxTagHeader& b) {
  return a.header_offset == b.header_offset && a.name == b.name && a.key_expr == b.key_expr &&
         a.for_expr == b.for_expr && a.key_length == b.key_length && a.options == b.options &&
         a.collation == b.collation && a.descending == b.descending;
}

Merged* Find(std::vector<Merged>& list, const CdxCollationReading& r) {
  for (Merged& m : list) {
    if (m.w.reading == r) return &m;
  }
  return nullptr;
}

// --- the knowledge file -------------------------------------------------

constexpr char kMagic[8] = {'R', 'V', 'C', 'O', 'L', 'K', 'N', '1'};

uint64_t Fnv(const std::string& bytes, std::size_t n) {
  uint64_t h = 1469598103934665603ull;
  for (std::size_t i = 0; i < n; ++i) {
    h ^= static_cast<uint8_t>(bytes[i]);
    h *= 1099511628211ull;
  }
  return h;
}

class Writer {
 public:
  void U8(uint8_t v) { out += static_cast<char>(v); }
  void U32(uint32_t v) {
    for (int i = 0; i < 4; ++i) U8(static_cast<uint8_t>(v >> (8 * i)));
  }
  void Str(const std::string& s) {
    U32(static_cast<uint32_t>(s.size()));
    out += s;
  }
  void Bytes(const uint8_t* p, std::size_t n) { out.append(reinterpret_cast<const char*>(p), n); }
  void Reading(const CdxCollationReading& r) {
    U8(r.layout == CdxCollationLayout::Split ? 1 : 0);
    U8(r.trims_blanks ? 1 : 0);
    U8(r.secondary_at_width ? 1 : 0);
  }
  std::string out;
};

class Reader {
 public:
  explicit Reader(const std::string& in) : in_(in) {}
  bool U8(uint8_t& v) {
    if (at_ >= in_.size()) return false;
    v = static_cast<uint8_t>(in_[at_++]);
    return true;
  }
  bool U32(uint32_t& v) {
    v = 0;
    for (int i = 0; i < 4; ++i) {
      uint8_t b;
      if (!U8(b)) return false;
      v |= uint32_t{b} << (8 * i);
    }
    return true;
  }
  bool Str(std::string& s) {
    uint32_t n;
    if (!U32(n) || in_.size() - at_ < n) return false;
    s.assign(in_, at_, n);
    at_ += n;
    return true;
  }
  bool Bytes(uint8_t* p, std::size_t n) {
    if (in_.size() - at_ < n) return false;
    std::memcpy(p, in_.data() + at_, n);
    at_ += n;
    return true;
  }
  bool Reading(CdxCollationReading& r) {
    uint8_t a, b, c;
    if (!U8(a) || !U8(b) || !U8(c) || a > 1 || b > 1 || c > 1) return false;
    r = {a ? CdxCollationLayout::Split : CdxCollationLayout::Interleaved, b != 0, c != 0};
    return true;
  }

 private:
  const std::string& in_;
  std::size_t at_ = 0;
};

std::string Encode(const std::string& folder_key, const Folder& f) {
  Writer w;
  w.Bytes(reinterpret_cast<const uint8_t*>(kMagic), 8);
  w.Str(folder_key);
  w.U32(static_cast<uint32_t>(f.collations.size()));
  for (const auto& [name, list] : f.collations) {
    w.Str(name);
    w.U32(static_cast<uint32_t>(list.size()));
    for (const Merged& m : list) {
      w.Reading(m.w.reading);
      w.U8(m.w.pad ? 1 : 0);
      w.U8(m.w.pad.value_or(0));
      for (int b = 0; b < 256; ++b) w.U8(m.w.known[b] ? 1 : 0);
      w.Bytes(m.w.primary.data(), 256);
      w.Bytes(m.w.secondary.data(), 256);
    }
  }
  uint32_t n = 0;
  for (const auto& [key, t] : f.tags) n += t.own ? 0 : 1;
  w.U32(n);
  for (const auto& [key, t] : f.tags) {
    if (t.own) continue;
    w.Str(key.first);
    w.U32(t.tag.header_offset);
    w.Str(t.tag.name);
    w.Str(t.tag.key_expr);
    w.Str(t.tag.for_expr);
    w.Str(t.tag.collation);
    w.U32(t.tag.key_length);
    w.U8(t.tag.options);
    w.U8(t.tag.descending ? 1 : 0);
    w.U8(t.leaf_pad);
    w.U8(t.leaf_pad_known ? 1 : 0);
    w.U32(static_cast<uint32_t>(t.verified_keys));
    w.U32(static_cast<uint32_t>(t.readings.size()));
    for (const CdxCollationReading& r : t.readings) w.Reading(r);
  }
  const uint64_t sum = Fnv(w.out, w.out.size());
  for (int i = 0; i < 8; ++i) w.U8(static_cast<uint8_t>(sum >> (8 * i)));
  return w.out;
}

// Fills f from the file's bytes; false (f untouched) for a damaged file,
// another format or another folder.
bool Decode(const std::string& bytes, const std::string& folder_key, Folder& f) {
  if (bytes.size() < 16) return false;
  uint64_t sum = 0;
  for (int i = 0; i < 8; ++i) sum |= uint64_t{static_cast<uint8_t>(bytes[bytes.size() - 8 + i])} << (8 * i);
  if (sum != Fnv(bytes, bytes.size() - 8)) return false;
  const std::string body = bytes.substr(0, bytes.size() - 8);
  Reader r(body);
  uint8_t magic[8];
  std::string folder;
  if (!r.Bytes(magic, 8) || std::memcmp(magic, kMagic, 8) != 0 || !r.Str(folder) || folder != folder_key) return false;
  Folder out;
  uint32_t ncoll = 0;
  if (!r.U32(ncoll) || ncoll > 64) return false;
  for (uint32_t c = 0; c < ncoll; ++c) {
    std::string name;
    uint32_t nread = 0;
    if (!r.Str(name) || !r.U32(nread) || nread > 8) return false;
    auto& list = out.collations[name];
    for (uint32_t i = 0; i < nread; ++i) {
      Merged m;
      uint8_t has_pad, pad;
      if (!r.Reading(m.w.reading) || !r.U8(has_pad) || !r.U8(pad) || has_pad > 1) return false;
      if (has_pad) m.w.pad = pad;
      for (int b = 0; b < 256; ++b) {
        uint8_t k;
        if (!r.U8(k) || k > 1) return false;
        m.w.known[b] = k != 0;
      }
      if (!r.Bytes(m.w.primary.data(), 256) || !r.Bytes(m.w.secondary.data(), 256) || Find(list, m.w.reading)) {
        return false;
      }
      list.push_back(m);
    }
  }
  uint32_t ntags = 0;
  if (!r.U32(ntags)) return false;
  for (uint32_t i = 0; i < ntags; ++i) {
    std::string index;
    TagEntry t;
    uint32_t key_length = 0, verified = 0, nread = 0;
    uint8_t descending, pad_known;
    if (!r.Str(index) || !r.U32(t.tag.header_offset) || !r.Str(t.tag.name) || !r.Str(t.tag.key_expr) ||
        !r.Str(t.tag.for_expr) || !r.Str(t.tag.collation) || !r.U32(key_length) || key_length > 240 ||
        !r.U8(t.tag.options) || !r.U8(descending) || !r.U8(t.leaf_pad) || !r.U8(pad_known) || !r.U32(verified) ||
        !r.U32(nread) || nread == 0 || nread > 8) {
      return false;
    }
    t.tag.key_length = static_cast<uint16_t>(key_length);
    t.tag.descending = descending != 0;
    t.leaf_pad_known = pad_known != 0;
    t.verified_keys = verified;
    for (uint32_t k = 0; k < nread; ++k) {
      CdxCollationReading reading;
      if (!r.Reading(reading)) return false;
      auto list = out.collations.find(t.tag.CollationName());
      if (list == out.collations.end() || !Find(list->second, reading)) return false;
      t.readings.push_back(reading);
    }
    out.tags[{index, t.tag.header_offset}] = std::move(t);
  }
  f.collations = std::move(out.collations);
  f.tags = std::move(out.tags);
  return true;
}

std::string ReadWhole(const std::string& path) {
  std::string bytes;
  const platform::File file = platform::Open(path, platform::OpenMode::kRead);
  if (file < 0) return bytes;
  uint64_t size = 0;
  if (platform::SizeOf(file, &size) && size < (64u << 20)) {
    bytes.resize(static_cast<std::size_t>(size));
    const int64_t got = platform::ReadAt(file, bytes.data(), bytes.size(), 0);
    bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  }
  platform::Close(file);
  return bytes;
}

// Writes the file whole under a temporary name and renames it over the old
// one. The knowledge is a cache: a failure leaves the old file (or none).
void Save(const std::string& folder_key, const Folder& f) {
  if (f.file.empty()) return;
  const std::string bytes = Encode(folder_key, f);
  // A name of this writer's own: two processes saving at once never write
  // into one temporary file.
  static const std::string suffix = std::to_string(std::random_device{}());
  const std::string temp = f.file + "." + suffix + ".tmp";
  std::error_code ignored;
  std::filesystem::create_directories(platform::NativePath(f.file).parent_path(), ignored);
  const platform::File file = platform::Open(temp, platform::OpenMode::kCreateOrEmpty);
  if (file < 0) return;
  const bool ok = platform::WriteAt(file, bytes.data(), bytes.size(), 0) && platform::Flush(file);
  platform::Close(file);
  if (!ok || !platform::ReplaceFile(temp, f.file)) platform::RemoveFile(temp);
}

// The folder's knowledge, loaded from its file on first use with one.
Folder& FolderOf(const CdxKnowledgePlace& place) {
  Folder& f = Folders()[place.folder];
  if (f.file.empty() && !place.file.empty()) {
    f.file = place.file;
    Folder loaded;
    if (!f.collations.empty() || !f.tags.empty()) {
      // This process met the folder before without a file: what it verified
      // goes to the file now.
      Save(place.folder, f);
    } else if (Decode(ReadWhole(f.file), place.folder, loaded)) {
      f.collations = std::move(loaded.collations);
      f.tags = std::move(loaded.tags);
    }
  }
  return f;
}

std::shared_ptr<const CdxTagCollation> Build(Folder& f, const TagEntry& t) {
  if (t.own) return t.own;
  std::vector<CdxCollationWeights> weights;
  auto& list = f.collations[t.tag.CollationName()];
  for (const CdxCollationReading& r : t.readings) {
    const Merged* m = Find(list, r);
    if (m == nullptr) return nullptr;
    weights.push_back(m->w);
  }
  return std::make_shared<const CdxTagCollation>(
      CdxTagCollation{t.leaf_pad, t.leaf_pad_known,
                      CdxLearnedCollation::FromWeights(t.tag.name, t.tag.CollationName(), t.tag.key_length / 2u,
                                                       t.verified_keys, std::move(weights))});
}

// Whether w may join m: false when they disagree on a verified weight;
// `drop` tells that they disagree only on weights loaded from the file.
bool Agrees(const Merged& m, const CdxCollationWeights& w, bool& drop) {
  for (int b = 0; b < 256; ++b) {
    if (!w.known[b] || !m.w.known[b]) continue;
    if (w.primary[b] != m.w.primary[b] || w.secondary[b] != m.w.secondary[b]) {
      if (m.verified[b]) return false;
      drop = true;
    }
  }
  if (w.pad && m.w.pad && *w.pad != *m.w.pad) {
    if (m.pad_verified) return false;
    drop = true;
  }
  return true;
}

void Join(Merged& m, const CdxCollationWeights& w, bool drop) {
  if (drop) {  // the file disagreed with the tag's own keys: keep only what this process verified
    m.w.known &= m.verified;
    if (!m.pad_verified) m.w.pad.reset();
  }
  for (int b = 0; b < 256; ++b) {
    if (!w.known[b]) continue;
    m.w.known.set(b);
    m.w.primary[b] = w.primary[b];
    m.w.secondary[b] = w.secondary[b];
    m.verified.set(b);
  }
  if (w.pad) {
    m.w.pad = w.pad;
    m.pad_verified = true;
  }
}

}  // namespace

CdxKnowledgePlace PlaceOfIndex(const std::string& index_key, const std::string& file) {
  return {platform::PathText(platform::NativePath(index_key).parent_path()), file};
}

std::optional<CdxKnownTag> KnownTag(const CdxKnowledgePlace& place, const std::string& index_key,
                                    const CdxTagHeader& tag, uint32_t counter) {
  std::lock_guard<std::mutex> hold(Lock());
  Folder& f = FolderOf(place);
  auto it = f.tags.find({index_key, tag.header_offset});
  if (it == f.tags.end() || !SameTag(it->second.tag, tag)) return std::nullopt;
  auto built = Build(f, it->second);
  if (!built) return std::nullopt;
  return CdxKnownTag{built, it->second.full_counter == counter};
}

std::shared_ptr<const CdxTagCollation> RememberTag(const CdxKnowledgePlace& place, const std::string& index_key,
                                                   const CdxTagHeader& tag, uint32_t counter,
                                                   const CdxTagCollation& learned) {
  std::lock_guard<std::mutex> hold(Lock());
  Folder& f = FolderOf(place);
  TagEntry t;
  t.tag = tag;
  t.readings = learned.keys.Readings();
  t.leaf_pad = learned.leaf_pad;
  t.leaf_pad_known = learned.leaf_pad_known;
  t.verified_keys = learned.keys.VerifiedKeys();
  t.full_counter = counter;
  auto& list = f.collations[tag.CollationName()];
  list.reserve(list.size() + learned.keys.Weights().size());  // the pointers below stay valid
  std::vector<std::pair<Merged*, bool>> joins;  // nullptr: a reading new to the collation
  bool agrees = true;
  for (const CdxCollationWeights& w : learned.keys.Weights()) {
    Merged* m = Find(list, w.reading);
    bool drop = false;
    if (m != nullptr && !Agrees(*m, w, drop)) agrees = false;
    joins.emplace_back(m, drop);
  }
  if (agrees) {
    for (std::size_t i = 0; i < joins.size(); ++i) {
      Merged* m = joins[i].first;
      if (m == nullptr) {
        list.push_back(Merged{});
        m = &list.back();
        m->w.reading = learned.keys.Weights()[i].reading;
      }
      Join(*m, learned.keys.Weights()[i], joins[i].second);
    }
  } else {
    t.own = std::make_shared<const CdxTagCollation>(learned);
  }
  auto& slot = f.tags[{index_key, tag.header_offset}];
  slot = std::move(t);
  auto built = Build(f, slot);
  if (agrees) Save(place.folder, f);
  return built;
}

void KeepTagCounters(const std::string& index_key, uint32_t from, uint32_t to) {
  std::lock_guard<std::mutex> hold(Lock());
  for (auto& [folder, f] : Folders()) {
    for (auto& [key, t] : f.tags) {
      if (key.first == index_key && t.full_counter == from) t.full_counter = to;
    }
  }
}

bool FolderTagsLearned(const CdxKnowledgePlace& place, const std::string& collation) {
  std::lock_guard<std::mutex> hold(Lock());
  return FolderOf(place).folder_learned.count(collation) != 0;
}

void MarkFolderTagsLearned(const CdxKnowledgePlace& place, const std::string& collation) {
  std::lock_guard<std::mutex> hold(Lock());
  FolderOf(place).folder_learned.insert(collation);
}

void ForgetCollationKnowledge() {
  std::lock_guard<std::mutex> hold(Lock());
  Folders().clear();
}

}  // namespace ravelto::registry
