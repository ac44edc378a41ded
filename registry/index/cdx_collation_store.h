#pragma once
// What is known of the collations of one registry folder's character tags,
// shared by every tag of the same collation and kept across processes.
//
// The weights belong to the collation, not to one tag: per collation name
// and reading (layout) the store holds the weights of every byte value any
// tag of the folder showed when it was learned in full, merged only when
// they agree (a tag whose weights disagree with verified ones keeps its own
// and joins nothing). Per tag it holds the readings that survived its
// learning and its leaf pad, and the index change counter at which this
// process last learned it in full (or its own write moved it on from).
//
// A knowledge file keeps the store across processes: written whole to a
// temporary name and renamed over the old one; one that is damaged, of
// another format or of another folder is ignored. What it brings is not yet
// verified in this process: a writer still compares the keys of every page
// it touches with keys derived again from their records (cdx_maintainer.h),
// and a full learning that disagrees with loaded weights drops them.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "registry/index/cdx_tag_collation.h"

namespace ravelto::registry {

// Where the knowledge of one registry folder lives: the folder's path text
// (the key) and the knowledge file ("" keeps it in this process only).
struct CdxKnowledgePlace {
  std::string folder;
  std::string file;
};

// The place of an index's folder (the index named by its path text).
CdxKnowledgePlace PlaceOfIndex(const std::string& index_key, const std::string& file = "");

// What is known of one tag of an index (named by its path text).
struct CdxKnownTag {
  std::shared_ptr<const CdxTagCollation> collation;
  // Learned from every key of the tag at this change counter, or carried
  // forward by this process's own writes since.
  bool full = false;
};

// The tag's collation as known now (its readings with the weights of its
// collation), or nullopt when the tag was never learned or has changed.
std::optional<CdxKnownTag> KnownTag(const CdxKnowledgePlace& place, const std::string& index_key,
                                    const CdxTagHeader& tag, uint32_t counter);

// A tag learned in full at counter: its weights join its collation's when
// they agree with what is verified (weights only loaded from the file that
// disagree are dropped), the knowledge file is written when anything new
// was learned. Returns what KnownTag gives for it from now on.
std::shared_ptr<const CdxTagCollation> RememberTag(const CdxKnowledgePlace& place, const std::string& index_key,
                                                   const CdxTagHeader& tag, uint32_t counter,
                                                   const CdxTagCollation& learned);

// This process's write raised the index's counter from `from` to `to`.
void KeepTagCounters(const std::string& index_key, uint32_t from, uint32_t to);

// Whether this process has learned every collated tag of the folder's other
// indexes for this collation (done once, when a tag meets a character it
// does not know), and marking it done.
bool FolderTagsLearned(const CdxKnowledgePlace& place, const std::string& collation);
void MarkFolderTagsLearned(const CdxKnowledgePlace& place, const std::string& collation);

// Drops everything this process holds (as if it had just started).
void ForgetCollationKnowledge();

}  // namespace ravelto::registry
