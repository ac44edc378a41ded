#pragma once
// Helpers shared by the index tests: fixture copies in a temporary folder and
// a record source over a table read whole.

#include <filesystem>
#include <string>
#include <vector>

#include "registry/index/cdx_check.h"
#include "registry/index/cdx_index.h"
#include "registry/index/cdx_node.h"
#include "registry/index/cdx_record.h"

namespace ravelto::registry::testing {

// A fresh temporary folder holding copies of tests/data/<set>.
std::filesystem::path CopyFixtures(const std::string& set = "registry-cdx");

// The table file and its index inside folder.
std::filesystem::path Dbf(const std::filesystem::path& folder, const std::string& table);
std::filesystem::path Cdx(const std::filesystem::path& folder, const std::string& table);

CdxRecordSource Source(const DbfImage& image);

// The leaves of a tag, left to right: down its leftmost path, then along
// the right-sibling chain.
std::vector<CdxNode> LeafChain(const CdxIndex& index, const CdxTagHeader& tag, uint8_t pad);

// The whole content of a file (empty when it cannot be read).
std::vector<uint8_t> FileBytes(const std::filesystem::path& file);

// Packs a leaf as tightly as the format allows (the fewest bits for the
// duplicate and trailing counts and the record numbers it holds, the
// smallest entry); interior nodes as EncodeNode() does. For BuildIndex().
bool PackTightly(const CdxNode& node, std::size_t key_length, uint8_t pad, std::span<uint8_t> page);

// Runs the full check of table's index in folder; returns the problems joined.
std::string CheckTable(const std::filesystem::path& folder, const std::string& table);

}  // namespace ravelto::registry::testing
