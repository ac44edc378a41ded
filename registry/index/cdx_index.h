#pragma once
// Reading a structural compound index: the file header, its tag directory,
// every tag's header, and each tag's keys in order. Nothing is cached across
// calls that could see another writer's changes: every read goes to the store.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "registry/index/cdx_node.h"
#include "registry/index/cdx_store.h"

namespace ravelto::registry {

struct CdxTagHeader {
  std::string name;            // tag name as stored in the directory, trailing blanks removed
  uint32_t header_offset = 0;  // offset of the tag's 1024-byte header
  uint32_t root = 0;
  uint16_t key_length = 0;
  uint8_t options = 0;
  std::string collation;  // as stored, NULs removed; empty means MACHINE
  bool descending = false;
  std::string key_expr;
  std::string for_expr;  // empty when the tag has no FOR clause

  bool Unique() const { return (options & cdx::kOptUnique) != 0; }
  bool Candidate() const { return (options & cdx::kOptCandidate) != 0; }
  // MACHINE order: plain bytes of the table's code page.
  bool MachineCollation() const { return collation.empty() || collation == "MACHINE"; }
  std::string CollationName() const { return collation.empty() ? "MACHINE" : collation; }
};

class CdxIndex {
 public:
  // Reads the file header and the tag directory. Throws CdxError when they
  // are damaged.
  explicit CdxIndex(const CdxStore& store);

  const std::vector<CdxTagHeader>& Tags() const { return tags_; }
  // Finds a tag by name, ignoring letter case; nullptr when absent.
  const CdxTagHeader* FindTag(const std::string& name) const;

  // File header fields as read at construction.
  uint32_t ChangeCounter() const { return counter_; }
  uint32_t FreeListHead() const { return free_head_; }

  // Reads and decodes one node; throws CdxError for an offset that is not a
  // page inside the file or a page that does not decode.
  CdxNode ReadNode(uint32_t offset, std::size_t key_length, uint8_t pad) const;

  // Every entry of a tree in key order: down the leftmost path, then along
  // the right-sibling chain. Throws CdxError on a cycle, a chain that leaves
  // the file or an interior node met where a leaf belongs.
  std::vector<CdxEntry> ReadAll(uint32_t root, std::size_t key_length, uint8_t pad) const;

  // Reads a tag header at offset (used for the directory and for each tag).
  CdxTagHeader ReadTagHeader(uint32_t offset) const;

  uint64_t PageCount() const { return store_.Size() / cdx::kPageSize; }
  const CdxStore& Store() const { return store_; }

 private:
  const CdxStore& store_;
  uint32_t counter_ = 0;
  uint32_t free_head_ = cdx::kNone;
  std::vector<CdxTagHeader> tags_;
};

}  // namespace ravelto::registry
