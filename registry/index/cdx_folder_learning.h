#pragma once
// Learns the character tags of one collation in every other structural
// index of a registry folder, so that a character one table's tag shows is
// known to every tag of that collation (cdx_collation_store.h).

#include <filesystem>
#include <string>

#include "registry/index/cdx_collation_store.h"

namespace ravelto::registry {

// Learns, under each index's lock, every tag of `collation` in the folder's
// other .cdx files (the table beside each read for the tags' records) that
// this process does not know at its present change counter, and marks the
// folder's tags of that collation learned. A table or tag that cannot be
// read or learned teaches nothing; nothing is written to any of them.
void LearnFolderTags(const CdxKnowledgePlace& place, const std::filesystem::path& own_cdx,
                     const std::string& collation, int lock_retry_ms);

}  // namespace ravelto::registry
