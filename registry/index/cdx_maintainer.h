#pragma once
// Keeps every tag of a table's structural index true while rows are
// appended and updated.
//
// Per row: Prepare() takes the index lock, re-reads the directory and the
// pages it needs (nothing is cached across rows), computes each tag's key
// changes, enforces CANDIDATE tags, makes the changes in the trees in memory
// and encodes every page it changed, splitting what would not fit. Any row
// the index cannot take (a key that cannot be computed exactly, a damaged
// page on the way, a page that cannot be split) is refused there, before
// anything is written. Then it writes a journal file beside the index (the
// "pending" marker) holding the row's record number, its old and new images
// and the present bytes of every range of the index the commit will
// overwrite, and flushes it. The caller writes the row. Apply() writes and
// flushes the planned pages, then the file header with the raised change
// counter, deletes the journal and releases the lock.
//
// A journal still there when the next writer opens the table means a write
// was interrupted. Recover() then puts the saved bytes back (the index is as
// before the row), looks at the table: when the row is there (appended and
// counted, or updated to its new image) it applies the row's key changes
// again; then it runs the full check and deletes the journal. So after any
// interruption the table and its index are both before or both after the
// row; if the check still fails (damage from elsewhere, or a row the index
// cannot take), writes are refused with the problems named until the table
// is reindexed in the registry program.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "registry/index/cdx_check.h"
#include "registry/index/cdx_collation_store.h"
#include "registry/index/cdx_journal.h"
#include "registry/index/cdx_key.h"
#include "registry/index/cdx_store.h"
#include "registry/index/cdx_tag_collation.h"
#include "registry/index/cdx_tree.h"

namespace ravelto::registry {

// Visits every record of the table (1-based, in record order) as it is on
// disk now; the table's size is taken once, at the start of the pass.
using CdxRecordVisitor = std::function<void(uint32_t recno, std::span<const uint8_t> record)>;
using CdxTableScan = std::function<void(const CdxRecordVisitor& visit)>;

// Describes one tag for people: whether this program can maintain it.
// Character tags in another collation are learned from their own keys
// (cdx_tag_collation.h) when the table's records are given, else refused;
// with a cache_key what was learned is kept for this process while the
// index's change counter allows.
struct CdxTagSupport {
  CdxTagHeader tag;
  bool supported = false;
  std::string reason;  // why not, when not
  std::shared_ptr<const CdxTagCollation> collation;  // a learned collation tag
};
std::vector<CdxTagSupport> DescribeTags(const CdxIndex& index, const CdxLayout& layout,
                                        const CdxRecordSource* records = nullptr, const std::string& cache_key = "");
// The same with each collated text tag's collation given by collation_of
// (which may throw CdxError to refuse the tag).
using CdxCollationOf = std::function<std::shared_ptr<const CdxTagCollation>(const CdxTagHeader& tag)>;
std::vector<CdxTagSupport> SupportOfTags(const CdxIndex& index, const CdxLayout& layout,
                                         const CdxCollationOf& collation_of);

class CdxMaintainer {
 public:
  // Opens the index for writing and compiles every tag. records, when
  // given, is called under the index lock (so the index lists no record the
  // table does not count yet) to learn the tags of other collations
  // (DescribeTags). Throws CdxError naming every tag that cannot be
  // maintained (nothing is written then).
  //
  // A collated tag is taken as known (cdx_collation_store.h) and, unless it
  // was learned from all its keys at the index's present change counter,
  // every key of the pages a row's changes touch in it is derived again from
  // its record and compared before anything is written; a difference, or a
  // character no known weight gives, makes the tag be learned in full (and,
  // for a character, the folder's other tags of its collation, once), and
  // the row is planned again; a tag that cannot be learned then is refused.
  // records must stay usable for the maintainer's life. knowledge_file keeps
  // what is learned across processes ("" : this process only).
  CdxMaintainer(const std::filesystem::path& cdx_path, const CdxLayout& layout, std::string table_name,
                const std::function<CdxRecordSource()>& records = {}, const std::string& knowledge_file = "");
  ~CdxMaintainer();

  // See the file comment. old_record is empty for an appended row. scan
  // reads the table; it is needed only when a UNIQUE tag's indexed record
  // leaves its key group and no other tag of the same key lists the group
  // (then one pass serves every such tag for the rest of the statement); it
  // may be empty. Throws CdxError to refuse the row; the lock is then
  // released and nothing was written.
  void Prepare(uint32_t recno, std::span<const uint8_t> old_record, std::span<const uint8_t> new_record,
               const CdxTableScan& scan);
  // Writes the prepared pages. Throws CdxError when the index cannot be
  // written (the marker then stays).
  void Apply();
  // Releases the lock of a prepared row that will not be applied (the
  // marker stays: the row may or may not be on disk).
  void Abandon() noexcept;
  // Drops a prepared row of which nothing was written, the marker included.
  void Cancel() noexcept;

  // When a journal is left beside the index: recovery as described above,
  // under the index lock (the caller holds the table's header lock). records
  // reads the table for the check. Returns whether a journal was handled;
  // throws CdxError naming the damage when the index fails the check.
  bool Recover(const CdxRecordSource& records, const CdxTableScan& scan);

  // Lock retry time (tests shorten it).
  void SetLockRetry(int ms) { lock_retry_ms_ = ms; }

 private:
  struct Compiled {
    CdxTagHeader header;
    CdxTagKeys keys;
    CdxTree::Tag tree_tag;
    // For a UNIQUE tag: a tag that lists every record under the same key
    // (same expression, FOR clause and order), or none.
    std::optional<std::size_t> twin;
    bool collated = false;  // keys in a learned collation
  };
  // The records of each key of the UNIQUE tags that have no twin, gathered
  // by one pass over the table and kept up to date as this statement writes
  // rows. Valid while the index's change counter is the one we left.
  struct KeyGroups {
    bool built = false;
    uint32_t counter = 0;
    std::vector<std::map<std::string, std::set<uint32_t>>> by_tag;  // indexed like tags_
  };
  struct Change {
    std::size_t tag;
    bool erase;
    std::string key;
    uint32_t recno;
  };

  void VerifyTags(const CdxIndex& index) const;
  // Collated tags (cdx_maintainer_collation.cpp). PlanVerifiedRow is
  // PlanRow, the touched keys of collated tags verified, learning more and
  // planning again once when either fails.
  void PlanVerifiedRow(uint32_t recno, std::span<const uint8_t> old_record, std::span<const uint8_t> new_record,
                       const CdxTableScan& scan);
  std::vector<CdxTagSupport> SupportOf(const CdxIndex& index, const CdxRecordSource& source);
  void CheckTouchedKeys(uint32_t recno, std::span<const uint8_t> new_record);
  bool LearnMore();
  void ComputeChanges(uint32_t recno, std::span<const uint8_t> old_record, std::span<const uint8_t> new_record,
                      const CdxTableScan& scan);
  std::optional<uint32_t> NextHolder(std::size_t tag, const std::string& key, uint32_t recno,
                                     const CdxTableScan& scan);
  void BuildKeyGroups(const CdxTableScan& scan, uint32_t counter);
  void UpdateKeyGroups(uint32_t recno, std::span<const uint8_t> old_record, std::span<const uint8_t> new_record);
  uint32_t ChangeCounter() const;
  bool NeedsGroups(std::size_t tag) const;
  void PlanRow(uint32_t recno, std::span<const uint8_t> old_record, std::span<const uint8_t> new_record,
               const CdxTableScan& scan);
  void WriteJournal(uint32_t recno, std::span<const uint8_t> old_record, std::span<const uint8_t> new_record,
                    bool append);
  [[noreturn]] void Refuse(const std::string& why);

  std::filesystem::path cdx_path_;
  std::string cache_key_;  // names the index in the knowledge of collations
  CdxKnowledgePlace place_;
  std::function<CdxRecordSource()> records_;
  uint32_t counter_ = 0;             // the index's change counter as the row was planned
  bool unknown_character_ = false;   // the row's keys met a character without weights
  std::string table_;
  CdxLayout layout_;
  std::unique_ptr<FileCdxStore> store_;
  std::vector<Compiled> tags_;
  std::vector<Change> changes_;
  std::unique_ptr<CdxTree> tree_;
  CdxTree::Plan plan_;  // the prepared row's writes
  KeyGroups groups_;
  // The row between Prepare and Apply.
  bool prepared_ = false;
  uint32_t prepared_recno_ = 0;
  std::vector<uint8_t> prepared_old_, prepared_new_;
  bool locked_ = false;
  int lock_retry_ms_ = 2000;
};

}  // namespace ravelto::registry
