#include "registry/index/cdx_maintainer.h"

#include <algorithm>
#include <cerrno>
#include <array>
#include <cstring>
#include <optional>
#include <fstream>
#include <iterator>

#include "platform/files.h"
#include "registry/index/cdx_journal.h"

namespace ravelto::registry {
std::vector<CdxTagSupport> SupportOfTags(const CdxIndex& index, const CdxLayout& layout,
                                         const CdxCollationOf& collation_of) {
  std::vector<CdxTagSupport> out;
  for (const CdxTagHeader& tag : index.Tags()) {
    CdxTagSupport s{tag, false, {}, nullptr};
    try {
      if (IsCollatedTextTag(tag, layout)) s.collation = collation_of(tag);
      CdxTagKeys keys(tag, layout, s.collation);
      s.supported = true;
    } catch (const CdxError& e) {
      s.reason = e.what();
      s.collation.reset();
    }
    out.push_back(std::move(s));
  }
  return out;
}

std::vector<CdxTagSupport> DescribeTags(const CdxIndex& index, const CdxLayout& layout,
                                        const CdxRecordSource* records, const std::string& cache_key) {
  return SupportOfTags(index, layout, [&](const CdxTagHeader& tag) -> std::shared_ptr<const CdxTagCollation> {
    if (records == nullptr) return nullptr;
    auto learn = [&] { return LearnTagCollation(index, tag, layout, *records); };
    return cache_key.empty() ? std::make_shared<const CdxTagCollation>(learn())
                             : CachedTagCollation(cache_key, tag, index.ChangeCounter(), learn);
  });
}

CdxMaintainer::CdxMaintainer(const std::filesystem::path& cdx_path, const CdxLayout& layout, std::string table_name,
                             const std::function<CdxRecordSource()>& records, const std::string& knowledge_file)
    : cdx_path_(cdx_path), records_(records), table_(std::move(table_name)), layout_(layout) {
  cache_key_ = CollationCacheKey(cdx_path);
  place_ = PlaceOfIndex(cache_key_, knowledge_file);
  store_ = std::make_unique<FileCdxStore>(cdx_path, true);
  std::vector<CdxTagSupport> support;
  bool learn = false;
  {
    const CdxIndex index(*store_);
    learn = records && std::any_of(index.Tags().begin(), index.Tags().end(),
                                   [&](const CdxTagHeader& t) { return IsCollatedTextTag(t, layout); });
    if (!learn) support = DescribeTags(index, layout);
  }
  if (learn) {
    store_->Lock(lock_retry_ms_);
    try {
      CdxIndex index(*store_);
      const CdxRecordSource source = records();
      support = SupportOf(index, source);
    } catch (...) {
      store_->Unlock();
      throw;
    }
    store_->Unlock();
  }
  std::string refused;
  for (const CdxTagSupport& s : support) {
    if (!s.supported) {
      refused += (refused.empty() ? "" : "; ") + std::string("index tag ") + s.tag.name + " (" + s.tag.key_expr +
                 ", collation " + s.tag.CollationName() + ") cannot be maintained: " + s.reason;
      continue;
    }
    CdxTagKeys keys(s.tag, layout, s.collation);
    CdxTree::Tag tt{s.tag.header_offset, s.tag.key_length, keys.Pad(), s.tag.name};
    tags_.push_back(Compiled{s.tag, std::move(keys), tt, std::nullopt, s.collation != nullptr});
  }
  if (!refused.empty()) throw CdxError("Cannot write to table '" + table_ + "': " + refused + "; nothing was written");
  // A UNIQUE tag lists one record of each key; a tag of the same key that is
  // not UNIQUE lists all of them, so it finds the next record of a key
  // without reading the table.
  for (Compiled& u : tags_) {
    if (!u.header.Unique() || u.header.Candidate()) continue;
    for (std::size_t j = 0; j < tags_.size(); ++j) {
      const CdxTagHeader& h = tags_[j].header;
      if (!h.Unique() && h.key_expr == u.header.key_expr && h.for_expr == u.header.for_expr &&
          h.key_length == u.header.key_length && h.collation == u.header.collation) {
        u.twin = j;
        break;
      }
    }
  }
}

CdxMaintainer::~CdxMaintainer() { Abandon(); }

void CdxMaintainer::Refuse(const std::string& why) {
  throw CdxError("Cannot write to table '" + table_ + "': " + why + "; nothing was written");
}

void CdxMaintainer::VerifyTags(const CdxIndex& index) const {
  bool same = index.Tags().size() == tags_.size();
  for (std::size_t i = 0; same && i < tags_.size(); ++i) {
    const CdxTagHeader& a = index.Tags()[i];
    const CdxTagHeader& b = tags_[i].header;
    same = a.header_offset == b.header_offset && a.key_expr == b.key_expr && a.for_expr == b.for_expr &&
           a.key_length == b.key_length && a.options == b.options && a.collation == b.collation;
  }
  if (!same) throw CdxError("Cannot write to table '" + table_ + "': its index tags changed while it was open; nothing was written");
}

void CdxMaintainer::Prepare(uint32_t recno, std::span<const uint8_t> old_record, std::span<const uint8_t> new_record,
                            const CdxTableScan& scan) {
  Abandon();
  store_->Lock(lock_retry_ms_);
  locked_ = true;
  try {
    // Another writer changed the index since our last row: what we gathered
    // of the table may be out of date.
    if (groups_.built && ChangeCounter() != groups_.counter) groups_.built = false;
    PlanVerifiedRow(recno, old_record, new_record, scan);
    if (!plan_.Empty()) WriteJournal(recno, old_record, new_record, false);
    prepared_old_.assign(old_record.begin(), old_record.end());
    prepared_new_.assign(new_record.begin(), new_record.end());
    prepared_recno_ = recno;
    prepared_ = true;
  } catch (...) {
    Abandon();
    throw;
  }
}

uint32_t CdxMaintainer::ChangeCounter() const {
  std::array<uint8_t, 12> head{};
  store_->Read(0, head);
  return cdx::GetBe32(head.data() + cdx::kHdrCounter);
}

// The lowest record other than recno whose key in tag is key, from a twin
// tag's entries when there is one, otherwise from the key groups gathered by
// one pass over the table.
std::optional<uint32_t> CdxMaintainer::NextHolder(std::size_t tag, const std::string& key, uint32_t recno,
                                                  const CdxTableScan& scan) {
  const Compiled& t = tags_[tag];
  std::optional<uint32_t> best;
  auto consider = [&](uint32_t r) {
    if (r != recno && (!best || r < *best)) best = r;
  };
  if (t.twin) {
    for (uint32_t r : tree_->Find(tags_[*t.twin].tree_tag, key)) consider(r);
    return best;
  }
  if (!groups_.built) {
    if (!scan) {
      Refuse("index tag " + t.header.name +
             " is UNIQUE and the row it indexes leaves its key; the table cannot be read to find the next row with that key");
    }
    BuildKeyGroups(scan, ChangeCounter());
  }
  auto group = groups_.by_tag[tag].find(key);
  if (group != groups_.by_tag[tag].end()) {
    for (uint32_t r : group->second) {
      if (r != recno) return r;  // the set is ordered: the first other one is the lowest
    }
  }
  return best;
}

bool CdxMaintainer::NeedsGroups(std::size_t tag) const {
  const CdxTagHeader& h = tags_[tag].header;
  return h.Unique() && !h.Candidate() && !tags_[tag].twin;
}

void CdxMaintainer::BuildKeyGroups(const CdxTableScan& scan, uint32_t counter) {
  groups_.by_tag.assign(tags_.size(), {});
  groups_.built = false;
  std::vector<std::size_t> wanted;
  for (std::size_t i = 0; i < tags_.size(); ++i) {
    if (NeedsGroups(i)) wanted.push_back(i);
  }
  scan([&](uint32_t r, std::span<const uint8_t> rec) {
    for (std::size_t i : wanted) {
      const Compiled& t = tags_[i];
      try {
        if (t.keys.Included(rec)) groups_.by_tag[i][t.keys.Key(rec)].insert(r);
      } catch (const CdxError& e) {
        Refuse("the key of index tag " + t.header.name + " cannot be computed exactly for record " + std::to_string(r) +
               ": " + e.what());
      }
    }
  });
  groups_.counter = counter;
  groups_.built = true;
}

// Moves the written row between the key groups (its keys are computable:
// Prepare computed them).
void CdxMaintainer::UpdateKeyGroups(uint32_t recno, std::span<const uint8_t> old_record,
                                    std::span<const uint8_t> new_record) {
  if (!groups_.built) return;
  for (std::size_t i = 0; i < tags_.size(); ++i) {
    if (!NeedsGroups(i)) continue;
    const CdxTagKeys& keys = tags_[i].keys;
    auto& groups = groups_.by_tag[i];
    if (!old_record.empty() && keys.Included(old_record)) {
      auto g = groups.find(keys.Key(old_record));
      if (g != groups.end()) {
        g->second.erase(recno);
        if (g->second.empty()) groups.erase(g);
      }
    }
    if (keys.Included(new_record)) groups[keys.Key(new_record)].insert(recno);
  }
}

// Writes the journal of the planned row in one flushed write: the row's
// record number and images, the change counter before the commit, the
// present bytes of every range the commit overwrites, and the index's size.
// A new journal that cannot be written whole is removed again (nothing has
// been written yet). Recovery appends the records to the journal it found
// instead, which already holds the row: a torn append leaves what was there.
void CdxMaintainer::WriteJournal(uint32_t recno, std::span<const uint8_t> old_record,
                                 std::span<const uint8_t> new_record, bool append) {
  const std::string bytes = EncodeJournal(!append, recno, old_record, new_record, plan_);
  const std::filesystem::path journal = PendingMarkerPath(cdx_path_);
  if (append) {
    WriteJournalBytes(journal, bytes, false);
    return;
  }
  try {
    WriteJournalBytes(journal, bytes, true);
  } catch (const CdxError& e) {
    std::error_code ignored;
    std::filesystem::remove(journal, ignored);
    Refuse(e.what());
  }
}

// Computes the row's key changes into changes_ (the lock is held).
void CdxMaintainer::ComputeChanges(uint32_t recno, std::span<const uint8_t> old_record,
                                   std::span<const uint8_t> new_record, const CdxTableScan& scan) {
  changes_.clear();
  unknown_character_ = false;
  CdxIndex index(*store_);
  VerifyTags(index);
  counter_ = index.ChangeCounter();
  tree_ = std::make_unique<CdxTree>(*store_);
  for (std::size_t i = 0; i < tags_.size(); ++i) {
    const Compiled& t = tags_[i];
    const std::string& name = t.header.name;
    bool old_in = false, new_in = false;
    std::string old_key, new_key;
    try {
      if (!old_record.empty()) {
        old_in = t.keys.Included(old_record);
        if (old_in) old_key = t.keys.Key(old_record);
      }
      new_in = t.keys.Included(new_record);
      if (new_in) new_key = t.keys.Key(new_record);
    } catch (const CdxError& e) {
      if (dynamic_cast<const CdxUnknownCharacter*>(&e) != nullptr) unknown_character_ = true;
      Refuse("the key of index tag " + name + " cannot be computed exactly for this row: " + e.what());
    }
    if (old_in && new_in && old_key == new_key) continue;
    const bool candidate = t.header.Candidate();
    const bool unique = t.header.Unique() || candidate;
    if (old_in) {
      bool present = tree_->Contains(t.tree_tag, old_key, recno);
      if (!present && !unique) {
        Refuse("index tag " + name + " lacks the entry of record " + std::to_string(recno) + ", so the index is damaged");
      }
      if (present) {
        changes_.push_back({i, true, old_key, recno});
        if (t.header.Unique() && !candidate) {
          // The UNIQUE tag indexed this record for its old key: the next
          // record with that key (lowest record number) takes its place.
          if (std::optional<uint32_t> next = NextHolder(i, old_key, recno, scan)) {
            changes_.push_back({i, false, old_key, *next});
          }
        }
      }
    }
    if (new_in) {
      std::vector<uint32_t> holders;
      if (unique) {
        holders = tree_->Find(t.tree_tag, new_key);
        holders.erase(std::remove(holders.begin(), holders.end(), recno), holders.end());
      }
      if (candidate && !holders.empty()) {
        throw CdxError("Uniqueness of index violated: tag " + name + " of table '" + table_ + "'; nothing was written");
      }
      if (!unique || holders.empty()) {
        changes_.push_back({i, false, new_key, recno});
      } else if (holders.front() > recno) {
        changes_.push_back({i, true, new_key, holders.front()});
        changes_.push_back({i, false, new_key, recno});
      }
    }
  }
}

// Computes the row's key changes, makes them in the trees in memory and
// plans the commit (every page encoded or split): whatever the index cannot
// take is refused here, before any byte of the row is written.
void CdxMaintainer::PlanRow(uint32_t recno, std::span<const uint8_t> old_record, std::span<const uint8_t> new_record,
                            const CdxTableScan& scan) {
  plan_ = {};
  try {
    ComputeChanges(recno, old_record, new_record, scan);
  } catch (const CdxTreeDamage& e) {
    Refuse(e.what());
  }
  if (changes_.empty()) return;
  try {
    for (const Change& c : changes_) {
      const Compiled& t = tags_[c.tag];
      if (!c.erase) {
        tree_->Insert(t.tree_tag, c.key, c.recno);
      } else if (!tree_->Erase(t.tree_tag, c.key, c.recno)) {
        throw CdxError("index tag " + t.header.name + " lost the entry of record " + std::to_string(c.recno));
      }
    }
    plan_ = tree_->PlanCommit();
  } catch (const CdxError& e) {
    Refuse(e.what());
  }
}

void CdxMaintainer::Apply() {
  if (!locked_) throw CdxError("internal error: index changes applied without Prepare");
  try {
    tree_->Write(plan_);
    if (!plan_.Empty()) {
      std::error_code ignored;
      std::filesystem::remove(PendingMarkerPath(cdx_path_), ignored);
      // Our own keys were made by what was learned: it holds for the new counter.
      KeepTagCollations(cache_key_, plan_.counter_before, plan_.counter_before + 1);
    }
    UpdateKeyGroups(prepared_recno_, prepared_old_, prepared_new_);
    if (groups_.built) groups_.counter = ChangeCounter();
    prepared_ = false;
  } catch (...) {
    Abandon();
    throw;
  }
  Abandon();
}

void CdxMaintainer::Cancel() noexcept {
  if (prepared_ && !plan_.Empty()) {
    std::error_code ignored;
    std::filesystem::remove(PendingMarkerPath(cdx_path_), ignored);
  }
  prepared_ = false;
  Abandon();
}

bool CdxMaintainer::Recover(const CdxRecordSource& records, const CdxTableScan& scan) {
  const std::filesystem::path journal = PendingMarkerPath(cdx_path_);
  if (!std::filesystem::exists(journal)) return false;
  Abandon();
  store_->Lock(lock_retry_ms_);
  locked_ = true;
  try {
    if (!std::filesystem::exists(journal)) {  // another writer finished it
      Abandon();
      return false;
    }
    JournalContents j = ReadJournal(journal);
    bool committed = false;
    if (j.counter_before) {
      // The commit's last write raises the change counter: unchanged means
      // pages may be half written (put them back); one higher means the
      // commit finished; anything else means the index moved on since and
      // the saved pages are stale (the check below decides).
      const uint32_t now = ChangeCounter();
      if (now == *j.counter_before) {
        for (const CdxTree::PageImage& p : j.pages) store_->Write(p.offset, p.bytes);
        if (j.original_size) store_->Truncate(*j.original_size);
        store_->Sync();
      } else {
        committed = true;
      }
    }
    std::string redo_failure;
    if (j.header_ok && !committed) {
      // Is the row in the table? Appended rows count only when the header
      // count includes them; updated rows when the record holds the new image.
      bool after = false;
      if (j.recno >= 1 && j.recno <= records.count) {
        std::span<const uint8_t> now = records.record(j.recno);
        after = std::equal(now.begin(), now.end(), j.new_record.begin(), j.new_record.end());
      }
      if (after) {
        // The row's key changes once more, journalled like any row. A row
        // the index cannot take is left to the check below.
        try {
          groups_.built = false;
          PlanVerifiedRow(j.recno, j.old_record, j.new_record, scan);
        } catch (const CdxError& e) {
          redo_failure = e.what();
        }
        if (redo_failure.empty() && !plan_.Empty()) {
          WriteJournal(j.recno, j.old_record, j.new_record, true);
          tree_->Write(plan_);
        }
      }
    }
    // From here on the journal only asks the next writer for the check: its
    // saved pages must never be put back over an index that the registry
    // program has rebuilt meanwhile.
    WriteCheckOnlyJournal(journal);
    CdxCheckReport report = CheckIndex(*store_, layout_, records, 5);
    if (!report.Ok()) {
      std::string list;
      for (const std::string& p : report.problems) list += (list.empty() ? "" : "; ") + p;
      throw CdxError("Cannot write to table '" + table_ +
                     "': a write to it was interrupted and its index fails the check (" + list + ")" +
                     (redo_failure.empty() ? "" : "; the interrupted row could not be indexed again: " + redo_failure) +
                     "; nothing was written. Reindex the table in the registry program; the next write checks it again");
    }
    std::error_code ignored;
    std::filesystem::remove(journal, ignored);
    SyncDirectory(journal.parent_path());
    groups_.built = false;
  } catch (...) {
    Abandon();
    throw;
  }
  Abandon();
  return true;
}

void CdxMaintainer::Abandon() noexcept {
  // A prepared row that was not applied may or may not be on disk.
  if (prepared_) groups_.built = false;
  prepared_ = false;
  changes_.clear();
  plan_ = {};
  tree_.reset();
  if (locked_) {
    store_->Unlock();
    locked_ = false;
  }
}

}  // namespace ravelto::registry
