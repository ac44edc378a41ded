// The maintainer's collated tags: what is known of them taken at opening,
// the keys of the pages a row touches verified against their records, and
// learning more when that fails (cdx_maintainer.h).

#include <algorithm>
#include <set>

#include "registry/index/cdx_folder_learning.h"
#include "registry/index/cdx_maintainer.h"

namespace ravelto::registry {

std::vector<CdxTagSupport> CdxMaintainer::SupportOf(const CdxIndex& index, const CdxRecordSource& source) {
  return SupportOfTags(index, layout_, [&](const CdxTagHeader& tag) {
    if (std::optional<CdxKnownTag> known = KnownTag(place_, cache_key_, tag, index.ChangeCounter())) {
      return known->collation;  // verified against the touched pages before any write
    }
    return RememberTag(place_, cache_key_, tag, index.ChangeCounter(), LearnTagCollation(index, tag, layout_, source));
  });
}

void CdxMaintainer::PlanVerifiedRow(uint32_t recno, std::span<const uint8_t> old_record,
                                    std::span<const uint8_t> new_record, const CdxTableScan& scan) {
  try {
    PlanRow(recno, old_record, new_record, scan);
    CheckTouchedKeys(recno, new_record);
  } catch (const CdxError&) {
    // What is known of a collated tag may be out of date (another writer)
    // or lack a character another tag shows: learn what can be learned and
    // plan once more; otherwise the refusal stands.
    if (!LearnMore()) throw;
    PlanRow(recno, old_record, new_record, scan);
    CheckTouchedKeys(recno, new_record);
  }
}

// Every entry of the pages the planned changes read or made in a collated
// tag known only in part at this counter must hold the key its record
// gives (the row itself: its new image).
void CdxMaintainer::CheckTouchedKeys(uint32_t recno, std::span<const uint8_t> new_record) {
  std::optional<CdxRecordSource> source;
  for (std::size_t i = 0; i < tags_.size(); ++i) {
    const Compiled& t = tags_[i];
    if (!t.collated || std::none_of(changes_.begin(), changes_.end(), [i](const Change& c) { return c.tag == i; })) {
      continue;
    }
    const std::optional<CdxKnownTag> known = KnownTag(place_, cache_key_, t.header, counter_);
    if (known && known->full) continue;
    const std::string who = "index tag " + t.header.name + " (collation " + t.header.CollationName() + ")";
    if (!records_) Refuse(who + " cannot be verified without the table's records");
    if (!source) source = records_();
    tree_->VisitNodes(t.tree_tag, [&](const CdxNode& node) {
      for (const CdxEntry& e : node.entries) {
        bool same = false;
        try {
          if (e.recno == recno || (e.recno >= 1 && e.recno <= source->count)) {
            const std::span<const uint8_t> rec = e.recno == recno ? new_record : source->record(e.recno);
            same = t.keys.Included(rec) && t.keys.Key(rec) == e.key;
          }
        } catch (const CdxError&) {
        }
        if (!same) {
          Refuse(who + ": the stored key of record " + std::to_string(e.recno) +
                 " is not the key its record gives by what is known of the collation");
        }
      }
    });
  }
}

// Learns in full every collated tag not learned at the present counter,
// and, when a row met a character without weights, the folder's other tags
// of the same collation (once a process). Returns whether anything was
// learned (the caller plans the row again); refuses a tag that cannot be.
bool CdxMaintainer::LearnMore() {
  const bool unknown = unknown_character_;
  const CdxIndex index(*store_);
  const uint32_t counter = index.ChangeCounter();
  std::optional<CdxRecordSource> source;
  std::set<std::string> collations;
  bool more = false;
  for (const Compiled& t : tags_) {
    if (!t.collated) continue;
    collations.insert(t.header.CollationName());
    const std::optional<CdxKnownTag> known = KnownTag(place_, cache_key_, t.header, counter);
    if ((known && known->full) || !records_) continue;
    if (!source) source = records_();
    try {
      RememberTag(place_, cache_key_, t.header, counter, LearnTagCollation(index, t.header, layout_, *source));
    } catch (const CdxError& e) {
      Refuse("index tag " + t.header.name + " (" + t.header.key_expr + ", collation " + t.header.CollationName() +
             ") cannot be maintained: " + e.what());
    }
    more = true;
  }
  if (unknown) {
    for (const std::string& c : collations) {
      if (FolderTagsLearned(place_, c)) continue;
      LearnFolderTags(place_, cdx_path_, c, lock_retry_ms_);
      more = true;
    }
  }
  if (!more) return false;
  for (Compiled& t : tags_) {
    if (!t.collated) continue;
    const std::optional<CdxKnownTag> known = KnownTag(place_, cache_key_, t.header, counter);
    if (!known) Refuse("index tag " + t.header.name + " (collation " + t.header.CollationName() + ") is no longer known");
    t.keys = CdxTagKeys(t.header, layout_, known->collation);
    t.tree_tag.pad = t.keys.Pad();
  }
  groups_.built = false;
  return true;
}

}  // namespace ravelto::registry
