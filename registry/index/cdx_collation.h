#pragma once
// Character keys of a tag in a collation other than MACHINE. Each character
// of such a key takes two bytes, a primary weight and a secondary weight, and
// we have no weight table of our own. The tag's existing keys teach us the
// encoding instead: every stored key pairs a record's value with the bytes
// the registry program wrote for it. Learning tries each way of laying those
// bytes out that this program can reproduce, keeps the readings that give
// every stored key exactly, and encodes new values with them, refusing
// whenever the stored keys leave the answer open.

#include <array>
#include <bitset>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "registry/index/cdx_format.h"

namespace ravelto::registry {

// Fewer stored keys than this are not trusted to teach an encoding.
inline constexpr std::size_t kCdxCollationMinKeys = 8;

// One record's part in learning: the key expression's text (Windows-1251,
// exactly key_length / 2 bytes) and the key the tag stores for it.
struct CdxCollationSample {
  std::string value;
  std::string key;
};

enum class CdxCollationLayout {
  Interleaved,  // per character: primary, secondary
  Split,        // every primary, then every secondary
};

// One way of turning a value into a key. With trims_blanks the value's
// trailing blanks are not weighted; every key byte after the weighted ones
// holds one pad byte. secondary_at_width matters only for Split with
// trims_blanks: the secondaries start at the middle of the key (offset
// width) instead of right after the primaries, and the pad fills the gap.
struct CdxCollationReading {
  CdxCollationLayout layout = CdxCollationLayout::Interleaved;
  bool trims_blanks = false;
  bool secondary_at_width = false;

  std::string Name() const;        // e.g. "two bytes per character, trailing blanks weighted"
  std::string LayoutName() const;  // "two bytes per character" or "primary bytes, then secondary bytes"
  bool operator==(const CdxCollationReading&) const = default;
};

class CdxCollationLearner;

// What the stored keys taught under one reading: the weights of the byte
// values they showed and the byte that fills a key's tail.
struct CdxCollationWeights {
  CdxCollationReading reading;
  std::array<uint8_t, 256> primary{};
  std::array<uint8_t, 256> secondary{};
  std::bitset<256> known;
  std::optional<uint8_t> pad;
};

// Raised by Encode when the value holds a character no stored key showed
// (the caller may look for it elsewhere before refusing the row).
class CdxUnknownCharacter : public CdxError {
 public:
  using CdxError::CdxError;
};

class CdxLearnedCollation {
 public:
  // Learns the encoding from every sample in one pass (linear in the sample
  // bytes): CdxCollationLearner over the samples.
  static CdxLearnedCollation Learn(const std::string& tag, const std::string& collation, std::size_t key_length,
                                   const std::vector<CdxCollationSample>& samples);
  // What was learned before (one entry per surviving reading), for a tag
  // of width characters whose keys were verified against `verified` keys.
  static CdxLearnedCollation FromWeights(std::string tag, std::string collation, std::size_t width,
                                         std::size_t verified, std::vector<CdxCollationWeights> weights);

  // The key for a value of Width() bytes, exactly as every surviving reading
  // gives it. Throws CdxError when the value holds a character the tag never
  // stored, when it needs a pad byte no stored key showed, or when the
  // surviving readings give different keys for it (CdxUnknownCharacter
  // for the first).
  std::string Encode(std::string_view value) const;

  // The readings that reproduced every stored key (one or more).
  std::vector<CdxCollationReading> Readings() const;
  const std::vector<CdxCollationWeights>& Weights() const { return learned_; }
  // The layout of the surviving readings, "... or ..." when they differ.
  std::string LayoutName() const;
  std::size_t Width() const { return width_; }
  std::size_t KeyLength() const { return 2 * width_; }
  // How many stored keys were reproduced: all the samples learned from.
  std::size_t VerifiedKeys() const { return verified_; }
  // How many byte values have weights under every surviving reading.
  std::size_t KnownBytes() const;
  // The byte that fills a key's tail, when the surviving readings that fill
  // one agree on it; nullopt when no stored key showed one (no reading trims,
  // or every stored value filled the whole width) or they disagree.
  std::optional<uint8_t> Pad() const;

 private:
  using Learned = CdxCollationWeights;
  // What encoding one value under one reading gave.
  struct Attempt {
    std::string key;                 // empty when it failed
    std::optional<uint8_t> unknown;  // a character without weights
    bool needs_pad = false;          // the tail needs a pad never seen
  };

  friend class CdxCollationLearner;
  CdxLearnedCollation() = default;
  Attempt EncodeWith(const Learned& learned, std::string_view value) const;
  std::string Who() const;

  std::string tag_;
  std::string collation_;
  std::size_t width_ = 0;
  std::size_t verified_ = 0;
  std::vector<Learned> learned_;
};

// Learns a tag's encoding from its stored keys one at a time, holding only
// what each reading learned (a tag may hold a million keys).
class CdxCollationLearner {
 public:
  // tag and collation name the tag in messages. Throws CdxError when the
  // key length is not two bytes per character.
  CdxCollationLearner(std::string tag, std::string collation, std::size_t key_length);
  // One stored key and the value it was made of. Throws CdxError when a
  // size is wrong; once no reading is left it only counts.
  void Add(std::string_view value, std::string_view key);
  // What was learned. Throws CdxError when fewer than kCdxCollationMinKeys
  // keys were added, or when no reading reproduced every one of them.
  CdxLearnedCollation Finish();

 private:
  struct Trial {
    CdxLearnedCollation::Learned learned;
    bool alive = true;
    std::size_t broke_at = 0;  // number of the key that broke it
    std::string why, value, key;
  };
  CdxLearnedCollation out_;
  std::size_t count_ = 0;
  std::size_t alive_ = 0;
  std::vector<Trial> trials_;
};

}  // namespace ravelto::registry
