#pragma once
// A character tag in a collation other than MACHINE, learned from the tag
// itself: which byte its leaves strip from the end of keys, and how its
// keys encode text (cdx_collation.h), verified against every stored key.
//
// The leaf pad is told by the index: an interior entry holds its child's
// last key whole, so decoding that child with the wrong pad gives another
// key; and a key that ends in a byte its writer did not strip shows that
// byte is not the pad (every writer seen strips all of them). When nothing
// tells, and no stored key lost bytes to the stripping, the pad changes no
// stored key; a new key that would end in a byte a pad could be is then
// refused.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "registry/index/cdx_check.h"
#include "registry/index/cdx_collation.h"
#include "registry/index/cdx_index.h"
#include "registry/index/cdx_record.h"

namespace ravelto::registry {

struct CdxTagCollation {
  uint8_t leaf_pad = 0x20;     // the byte the tag's leaves strip from key ends
  bool leaf_pad_known = true;  // false: no stored key showed it
  CdxLearnedCollation keys;

  // The key of a value of the key expression's width. Throws CdxError when
  // the learned encoding cannot give it exactly.
  std::string Encode(std::string_view value) const;
  // For people: layout, keys verified, byte values known, leaf pad.
  std::string Describe() const;
};

// Whether a tag holds character keys in a collation other than MACHINE
// (the tag's expression compiled against the table's fields).
bool IsCollatedTextTag(const CdxTagHeader& tag, const CdxLayout& layout);

// Learns the tag's collation from its entries and the table's records (each
// entry's record read through records). Throws CdxError naming the tag,
// its collation and the reason when it cannot be learned exactly.
CdxTagCollation LearnTagCollation(const CdxIndex& index, const CdxTagHeader& tag, const CdxLayout& layout,
                                  const CdxRecordSource& records);

// How many times this process learned a tag from all its keys (for tests
// and benchmarks: what a statement cost).
uint64_t TagsLearnedInFull();

// The leaf pad the index alone tells for a collated tag, or nullopt.
std::optional<uint8_t> CollatedLeafPad(const CdxIndex& index, const CdxTagHeader& tag);

// The tag's collation verified against every stored key of the tag at this
// change counter: what this process learned of the tag (of the index named
// by cache_key, its path text) when it was learned at this counter or this
// process's own writes carried it here, else learn() (run now, its result
// joins the folder's knowledge, cdx_collation_store.h).
//
// For a reader holding no lock: the result is right for the index as it was
// when learned; a seek key it encodes finds what the tag holds for that
// value while no other writer changed the counter. KnownTag in
// cdx_collation_store.h gives what is known without learning (possibly not
// verified at this counter, e.g. after another writer or from the knowledge
// file): a reader using that must compare the keys of the entries it reads
// with keys derived from their records, and read the table when any differs.
std::shared_ptr<const CdxTagCollation> CachedTagCollation(const std::string& cache_key, const CdxTagHeader& tag,
                                                          uint32_t counter,
                                                          const std::function<CdxTagCollation()>& learn);
// The name an index is kept under (CachedTagCollation, KnownTag): its path
// made absolute, so that every statement of the process finds the same entry.
std::string CollationCacheKey(const std::filesystem::path& cdx_path);
// This process's write raised the index's counter from `from` to `to`; what
// was learned at `from` still holds.
void KeepTagCollations(const std::string& cache_key, uint32_t from, uint32_t to);

}  // namespace ravelto::registry
