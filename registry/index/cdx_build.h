#pragma once
// Builds a new structural index for a table from scratch: every tag's keys
// sorted and packed into full leaves, interior levels above them, the tag
// directory and headers. For tests and benchmarks (and an empty index for a
// new table); the desk never rebuilds a registry's index.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "registry/index/cdx_check.h"

namespace ravelto::registry {

struct CdxNewTag {
  std::string name;  // up to 10 characters
  std::string key_expr;
  std::string for_expr;
  bool unique = false;
  bool descending = false;
  // A character tag in another collation, as tests make one: the collation
  // named in its header, the key of a record (two bytes per character of the
  // expression) and the byte its leaves strip from key ends.
  std::string collation = {};
  std::function<std::string(std::span<const uint8_t> record)> key = {};
  uint8_t pad = 0x20;
};

// Encodes a node into a page, as EncodeNode() does; false when it does not
// fit. Tests pass packers of their own to build leaves as other programs
// pack them.
using CdxNodePacker = bool (*)(const CdxNode& node, std::size_t key_length, uint8_t pad, std::span<uint8_t> page);

// Writes cdx_path (replacing it) for the records. The key length follows
// the expression (text width; 8 for numbers, dates and date-times; 4 for
// integer fields). Leaves are filled as long as pack says they fit. Throws
// CdxError when an expression is not supported.
void BuildIndex(const std::filesystem::path& cdx_path, const CdxLayout& layout, const CdxRecordSource& records,
                const std::vector<CdxNewTag>& tags, CdxNodePacker pack = EncodeNode);

}  // namespace ravelto::registry
