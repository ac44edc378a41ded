#include "registry/index/cdx_collation.h"

#include <algorithm>
#include <iterator>

namespace ravelto::registry {

namespace {

// Where one reading puts a value's bytes in a key of 2 * width bytes when n
// characters are weighted: primary i at p_base + p_step * i, secondary i at
// s_base + s_step * i, and the pad in [gap1_begin, gap1_end) and
// [gap2_begin, gap2_end).
struct Plan {
  std::size_t p_base, p_step, s_base, s_step;
  std::size_t gap1_begin, gap1_end, gap2_begin, gap2_end;
};

Plan MakePlan(const CdxCollationReading& r, std::size_t width, std::size_t n) {
  const std::size_t end = 2 * width;
  if (r.layout == CdxCollationLayout::Interleaved) return {0, 2, 1, 2, 2 * n, end, end, end};
  if (r.trims_blanks && r.secondary_at_width) return {0, 1, width, 1, n, width, width + n, end};
  return {0, 1, n, 1, 2 * n, end, end, end};
}

// The candidates, in the order their names appear in messages.
constexpr CdxCollationReading kReadings[] = {
    {CdxCollationLayout::Interleaved, false, false},
    {CdxCollationLayout::Interleaved, true, false},
    {CdxCollationLayout::Split, false, false},
    {CdxCollationLayout::Split, true, false},
    {CdxCollationLayout::Split, true, true},
};

std::size_t WeightedLength(const CdxCollationReading& r, std::string_view value) {
  std::size_t n = value.size();
  if (r.trims_blanks) {
    while (n > 0 && value[n - 1] == ' ') --n;
  }
  return n;
}

std::string Hex(uint8_t b) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  return {'0', 'x', kDigits[b >> 4], kDigits[b & 15]};
}

// Bytes of Windows-1251 that show as a character of their own.
bool Printable(uint8_t b) { return b >= 0x20 && b != 0x7F && b != 0x98 && b != 0xA0 && b != 0xAD; }

// A character for a message: the byte itself between quotes, or 0xNN.
std::string CharText(uint8_t b) { return Printable(b) ? std::string{'\'', static_cast<char>(b), '\''} : Hex(b); }

// A value for a message, between quotes, other bytes as \xNN.
std::string Quoted(std::string_view value) {
  std::string out = "'";
  for (char c : value) {
    const auto b = static_cast<uint8_t>(c);
    out += Printable(b) ? std::string(1, c) : "\\x" + Hex(b).substr(2);
  }
  return out + "'";
}

std::string HexBytes(std::string_view bytes) {
  std::string out;
  for (char c : bytes) {
    if (!out.empty()) out += ' ';
    out += Hex(static_cast<uint8_t>(c)).substr(2);
  }
  return out;
}

}  // namespace

std::string CdxCollationReading::LayoutName() const {
  return layout == CdxCollationLayout::Interleaved ? "two bytes per character" : "primary bytes, then secondary bytes";
}

std::string CdxCollationReading::Name() const {
  std::string name = LayoutName();
  if (layout == CdxCollationLayout::Split && trims_blanks) {
    name += secondary_at_width ? " from the middle of the key" : " right after them";
  }
  return name + (trims_blanks ? ", trailing blanks trimmed" : ", trailing blanks weighted");
}

CdxLearnedCollation CdxLearnedCollation::Learn(const std::string& tag, const std::string& collation,
                                               std::size_t key_length, const std::vector<CdxCollationSample>& samples) {
  CdxCollationLearner learner(tag, collation, key_length);
  for (const CdxCollationSample& s : samples) learner.Add(s.value, s.key);
  return learner.Finish();
}

CdxLearnedCollation CdxLearnedCollation::FromWeights(std::string tag, std::string collation, std::size_t width,
                                                     std::size_t verified, std::vector<CdxCollationWeights> weights) {
  CdxLearnedCollation out;
  out.tag_ = std::move(tag);
  out.collation_ = std::move(collation);
  out.width_ = width;
  out.verified_ = verified;
  out.learned_ = std::move(weights);
  return out;
}

CdxCollationLearner::CdxCollationLearner(std::string tag, std::string collation, std::size_t key_length) {
  out_.tag_ = std::move(tag);
  out_.collation_ = std::move(collation);
  out_.width_ = key_length / 2;
  if (key_length == 0 || key_length % 2 != 0) {
    throw CdxError(out_.Who() + " has keys of " + std::to_string(key_length) +
                   " bytes, which cannot hold two bytes per character");
  }
  trials_.resize(std::size(kReadings));
  for (std::size_t i = 0; i < trials_.size(); ++i) trials_[i].learned.reading = kReadings[i];
  alive_ = trials_.size();
}

void CdxCollationLearner::Add(std::string_view value, std::string_view stored) {
  const std::size_t width = out_.width_;
  ++count_;
  if (value.size() != width || stored.size() != 2 * width) {
    throw CdxError(out_.Who() + ": stored key " + std::to_string(count_) + " pairs a value of " +
                   std::to_string(value.size()) + " bytes with a key of " + std::to_string(stored.size()) +
                   " bytes, but the tag's keys are " + std::to_string(2 * width) + " bytes for values of " +
                   std::to_string(width) + " characters");
  }
  if (alive_ == 0) return;
  const auto* v = reinterpret_cast<const uint8_t*>(value.data());
  const auto* key = reinterpret_cast<const uint8_t*>(stored.data());
  for (Trial& t : trials_) {
    if (!t.alive) continue;
    CdxLearnedCollation::Learned& l = t.learned;
    const std::size_t n = WeightedLength(l.reading, value);
    const Plan plan = MakePlan(l.reading, width, n);
    std::string why;
    for (std::size_t i = 0; i < n && why.empty(); ++i) {
      const uint8_t b = v[i];
      const uint8_t p = key[plan.p_base + plan.p_step * i];
      const uint8_t sec = key[plan.s_base + plan.s_step * i];
      if (!l.known[b]) {
        l.known.set(b);
        l.primary[b] = p;
        l.secondary[b] = sec;
      } else if (l.primary[b] != p || l.secondary[b] != sec) {
        why = "the character " + CharText(b) + " weighs " + Hex(p) + " " + Hex(sec) + " at position " +
              std::to_string(i + 1) + " but " + Hex(l.primary[b]) + " " + Hex(l.secondary[b]) + " elsewhere";
      }
    }
    const std::pair<std::size_t, std::size_t> gaps[] = {{plan.gap1_begin, plan.gap1_end},
                                                        {plan.gap2_begin, plan.gap2_end}};
    for (const auto& [begin, end] : gaps) {
      for (std::size_t i = begin; i < end && why.empty(); ++i) {
        if (!l.pad) {
          l.pad = key[i];
        } else if (*l.pad != key[i]) {
          why = "the key's tail holds " + Hex(key[i]) + " at byte " + std::to_string(i + 1) +
                " where other tails hold " + Hex(*l.pad);
        }
      }
    }
    if (!why.empty()) {
      t.alive = false;
      t.broke_at = count_;
      t.why = std::move(why);
      t.value.assign(value);
      t.key.assign(stored);
      --alive_;
    }
  }
}

CdxLearnedCollation CdxCollationLearner::Finish() {
  if (count_ < kCdxCollationMinKeys) {
    const std::string count = count_ == 0 ? " holds no keys" : " holds only " + std::to_string(count_) + " keys";
    throw CdxError(out_.Who() + count + ", too few to learn how it encodes text (at least " +
                   std::to_string(kCdxCollationMinKeys) + " are needed); make this change in the registry program");
  }
  if (alive_ == 0) {
    const Trial* last = &trials_.front();
    for (const Trial& t : trials_) {
      if (t.broke_at > last->broke_at) last = &t;
    }
    throw CdxError("the keys of tag " + out_.tag_ + " (collation " + out_.collation_ +
                   ") follow no encoding this program can reproduce (the last reading to hold, " +
                   last->learned.reading.Name() + ", broke at stored key " + std::to_string(last->broke_at) +
                   ": the value " + Quoted(last->value) + " is stored as " + HexBytes(last->key) + ", and " +
                   last->why + ")");
  }
  CdxLearnedCollation out = out_;
  for (Trial& t : trials_) {
    if (t.alive) out.learned_.push_back(t.learned);
  }
  out.verified_ = count_;
  return out;
}

CdxLearnedCollation::Attempt CdxLearnedCollation::EncodeWith(const Learned& l, std::string_view value) const {
  const std::size_t n = WeightedLength(l.reading, value);
  const Plan plan = MakePlan(l.reading, width_, n);
  Attempt a;
  std::string key(2 * width_, static_cast<char>(l.pad.value_or(0)));
  for (std::size_t i = 0; i < n; ++i) {
    const auto b = static_cast<uint8_t>(value[i]);
    if (!l.known[b]) {
      a.unknown = b;
      return a;
    }
    key[plan.p_base + plan.p_step * i] = static_cast<char>(l.primary[b]);
    key[plan.s_base + plan.s_step * i] = static_cast<char>(l.secondary[b]);
  }
  if (!l.pad && (plan.gap1_begin < plan.gap1_end || plan.gap2_begin < plan.gap2_end)) {
    a.needs_pad = true;
    return a;
  }
  a.key = std::move(key);
  return a;
}

std::string CdxLearnedCollation::Encode(std::string_view value) const {
  if (value.size() != width_) {
    throw CdxError("a value of " + std::to_string(value.size()) + " bytes does not fit " + Who() +
                   ", whose keys hold " + std::to_string(width_) + " characters");
  }
  std::vector<Attempt> attempts;
  attempts.reserve(learned_.size());
  for (const Learned& l : learned_) attempts.push_back(EncodeWith(l, value));

  if (std::all_of(attempts.begin(), attempts.end(), [](const Attempt& a) { return a.unknown.has_value(); })) {
    throw CdxUnknownCharacter(Who() + " has never stored the character " + CharText(*attempts.front().unknown) +
                   "; reindex in the registry program or enter this row there");
  }
  if (std::any_of(attempts.begin(), attempts.end(), [](const Attempt& a) { return a.needs_pad; })) {
    throw CdxError(Who() + " has never stored a value shorter than its " + std::to_string(width_) +
                   " characters, so its keys never showed the byte that fills the tail of a shorter one; "
                   "enter this row in the registry program");
  }
  const std::string& first = attempts.front().key;
  const bool agree = std::all_of(attempts.begin(), attempts.end(),
                                 [&](const Attempt& a) { return !a.unknown && a.key == first; });
  if (!agree) {
    std::string names;
    for (const Learned& l : learned_) names += (names.empty() ? "" : "; or ") + l.reading.Name();
    const std::string why = "the stored keys of tag " + tag_ + " (collation " + collation_ +
                            ") do not tell which encoding it uses (" + names + "), and the value " + Quoted(value) +
                            " would not get the same key under all of them; reindex in the registry program or "
                            "enter this row there";
    // Some reading lacks a character: more keys may still tell.
    if (std::any_of(attempts.begin(), attempts.end(), [](const Attempt& a) { return a.unknown.has_value(); })) {
      throw CdxUnknownCharacter(why);
    }
    throw CdxError(why);
  }
  return attempts.front().key;
}

std::vector<CdxCollationReading> CdxLearnedCollation::Readings() const {
  std::vector<CdxCollationReading> out;
  for (const Learned& l : learned_) out.push_back(l.reading);
  return out;
}

std::string CdxLearnedCollation::LayoutName() const {
  std::vector<std::string> names;
  for (const Learned& l : learned_) {
    std::string name = l.reading.LayoutName();
    if (std::find(names.begin(), names.end(), name) == names.end()) names.push_back(std::move(name));
  }
  std::string out;
  for (const std::string& name : names) out += (out.empty() ? "" : " or ") + name;
  return out;
}

std::size_t CdxLearnedCollation::KnownBytes() const {
  std::bitset<256> known;
  known.set();
  for (const Learned& l : learned_) known &= l.known;
  return known.count();
}

std::optional<uint8_t> CdxLearnedCollation::Pad() const {
  std::optional<uint8_t> pad;
  bool first = true;
  for (const Learned& l : learned_) {
    if (!l.reading.trims_blanks) continue;
    if (first) {
      pad = l.pad;
      first = false;
    } else if (pad != l.pad) {
      return std::nullopt;
    }
  }
  return pad;
}

std::string CdxLearnedCollation::Who() const { return "the tag " + tag_ + " (collation " + collation_ + ")"; }

}  // namespace ravelto::registry
