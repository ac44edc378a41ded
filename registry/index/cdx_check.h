#pragma once
// The structural check of a .cdx against its table: every tag's tree (node
// order, key counts, free space, sibling chains both ways, parent entries
// equal to each child's last key and record number, no page used twice),
// the free list, and the content (every record the tag should hold is there
// exactly once with the right key, nothing else; UNIQUE tags hold the first
// record of each key).

#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "registry/index/cdx_index.h"
#include "registry/index/cdx_record.h"

namespace ravelto::registry {

// The table's records as the check reads them: count, and record n (1-based,
// deletion flag first).
struct CdxRecordSource {
  uint32_t count = 0;
  std::function<std::span<const uint8_t>(uint32_t recno)> record;
};

struct CdxCheckReport {
  std::vector<std::string> problems;  // damage, each naming the tag
  std::vector<std::string> notes;     // what could not be verified, and why
  bool Ok() const { return problems.empty(); }
};

// Checks the whole index. Never throws for damage (a file that cannot be
// read at all gives one problem); stops listing after max_problems.
CdxCheckReport CheckIndex(const CdxStore& store, const CdxLayout& layout, const CdxRecordSource& records,
                          std::size_t max_problems = 50);

// Only the trees and the free list, without the table (fuzzing, quick looks).
CdxCheckReport CheckIndexStructure(const CdxStore& store, std::size_t max_problems = 50);

}  // namespace ravelto::registry
