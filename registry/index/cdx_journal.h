#pragma once
// The journal file beside an index (the "pending" marker): what a commit
// is about to overwrite, written and flushed before the row, so that an
// interrupted write can be put back (cdx_maintainer.h says when).
//
// Layout (little-endian): magic "RCDXJRN1", the row's record number, its
// old image (length, bytes) and new image (length, bytes); then records of
// (offset u64, length u32, bytes): the change counter before the commit
// (offset ~0 - 1), every overwritten range, the index's size (offset ~0).
// A torn tail record was never acted on and is ignored. A journal holding
// only "RCDXCHK1" asks the next writer for the full check.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "registry/index/cdx_tree.h"

namespace ravelto::registry {

// The marker file that says a write of the index may have been interrupted.
std::filesystem::path PendingMarkerPath(const std::filesystem::path& cdx_path);

// Makes a created or removed journal name durable in its folder.
void SyncDirectory(const std::filesystem::path& dir);

// The bytes of a journal: with_row adds the head (magic, record number and
// images); the plan's records follow.
std::string EncodeJournal(bool with_row, uint32_t recno, std::span<const uint8_t> old_record,
                          std::span<const uint8_t> new_record, const CdxTree::Plan& plan);

// Writes (create) or appends bytes to the journal and flushes it. Throws
// CdxError naming the file.
void WriteJournalBytes(const std::filesystem::path& journal, const std::string& bytes, bool create);
// Replaces the journal by one that asks only for the full check.
void WriteCheckOnlyJournal(const std::filesystem::path& journal);

struct JournalContents {
  bool header_ok = false;
  uint32_t recno = 0;
  std::vector<uint8_t> old_record, new_record;
  std::vector<CdxTree::PageImage> pages;  // complete records only
  std::optional<uint64_t> original_size;
  std::optional<uint32_t> counter_before;  // change counter before the commit
};
// Throws CdxError when the file cannot be read.
JournalContents ReadJournal(const std::filesystem::path& journal);

}  // namespace ravelto::registry
