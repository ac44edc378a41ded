#pragma once
// Helpers shared by the index tests: fixture copies in a temporary folder and
// a record source over a table read whole.

#include <filesystem>
#include <string>

#include "registry/index/cdx_check.h"
#include "registry/index/cdx_record.h"

namespace ravelto::registry::testing {

// A fresh temporary folder holding copies of tests/data/registry-cdx.
std::filesystem::path CopyFixtures();

// The table file and its index inside folder.
std::filesystem::path Dbf(const std::filesystem::path& folder, const std::string& table);
std::filesystem::path Cdx(const std::filesystem::path& folder, const std::string& table);

CdxRecordSource Source(const DbfImage& image);

// Runs the full check of table's index in folder; returns the problems joined.
std::string CheckTable(const std::filesystem::path& folder, const std::string& table);

}  // namespace ravelto::registry::testing
