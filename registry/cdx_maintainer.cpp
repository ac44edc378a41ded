#include "registry/cdx_maintainer.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "registry/file_io.h"

namespace ravelto::registry {
namespace {

void SyncDirectory(const std::filesystem::path& dir) {
  int fd = ::open(dir.empty() ? "." : dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd >= 0) {
    try {
      FlushFile(fd, dir.string());
    } catch (const std::exception&) {
      // A directory that cannot be flushed still holds the entry.
    }
    ::close(fd);
  }
}

void WriteMarker(const std::filesystem::path& marker, const std::string& table, uint32_t recno) {
  int fd = ::open(marker.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) throw CdxError("Cannot create " + marker.string() + ": " + std::strerror(errno));
  std::string text = "interrupted write of table " + table + ", record " + std::to_string(recno) + "\n";
  bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  try {
    if (ok) FlushFile(fd, marker.string());
  } catch (const std::exception&) {
    ok = false;
  }
  ::close(fd);
  if (!ok) throw CdxError("Cannot write " + marker.string());
  SyncDirectory(marker.parent_path());
}

}  // namespace

std::filesystem::path PendingMarkerPath(const std::filesystem::path& cdx_path) {
  return std::filesystem::path(cdx_path.string() + ".pending");
}

std::vector<CdxTagSupport> DescribeTags(const CdxIndex& index, const CdxLayout& layout) {
  std::vector<CdxTagSupport> out;
  for (const CdxTagHeader& tag : index.Tags()) {
    CdxTagSupport s{tag, false, {}};
    try {
      CdxTagKeys keys(tag, layout);
      s.supported = true;
    } catch (const CdxError& e) {
      s.reason = e.what();
    }
    out.push_back(std::move(s));
  }
  return out;
}

CdxMaintainer::CdxMaintainer(const std::filesystem::path& cdx_path, const CdxLayout& layout, std::string table_name)
    : cdx_path_(cdx_path), table_(std::move(table_name)) {
  store_ = std::make_unique<FileCdxStore>(cdx_path, true);
  CdxIndex index(*store_);
  std::string refused;
  for (const CdxTagSupport& s : DescribeTags(index, layout)) {
    if (!s.supported) {
      refused += (refused.empty() ? "" : "; ") + std::string("index tag ") + s.tag.name + " (" + s.tag.key_expr +
                 ", collation " + s.tag.CollationName() + ") cannot be maintained: " + s.reason;
      continue;
    }
    CdxTagKeys keys(s.tag, layout);
    CdxTree::Tag tt{s.tag.header_offset, s.tag.key_length, keys.Pad()};
    tags_.push_back(Compiled{s.tag, std::move(keys), tt});
  }
  if (!refused.empty()) throw CdxError("Cannot write to table '" + table_ + "': " + refused + "; nothing was written");
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
                            const CdxRecordReader& reader) {
  Abandon();
  changes_.clear();
  store_->Lock(lock_retry_ms_);
  locked_ = true;
  try {
    CdxIndex index(*store_);
    VerifyTags(index);
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
          if (!candidate) {
            // The UNIQUE tag indexed this record for its old key: the next
            // record with that key (lowest record number) takes its place.
            if (!reader) {
              Refuse("index tag " + name + " is UNIQUE and the row it indexes leaves its key; the table cannot be read to find the next row with that key");
            }
            std::vector<uint8_t> rec;
            for (uint32_t r = 1; reader(r, rec); ++r) {
              if (r == recno) continue;
              try {
                if (t.keys.Included(rec) && t.keys.Key(rec) == old_key) {
                  changes_.push_back({i, false, old_key, r});
                  break;
                }
              } catch (const CdxError& e) {
                Refuse("the key of index tag " + name + " cannot be computed exactly for record " + std::to_string(r) + ": " + e.what());
              }
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
    if (!changes_.empty()) WriteMarker(PendingMarkerPath(cdx_path_), table_, recno);
  } catch (...) {
    changes_.clear();
    tree_.reset();
    store_->Unlock();
    locked_ = false;
    throw;
  }
}

void CdxMaintainer::Apply() {
  if (!locked_) throw CdxError("internal error: index changes applied without Prepare");
  try {
    for (const Change& c : changes_) {
      const Compiled& t = tags_[c.tag];
      if (c.erase) {
        if (!tree_->Erase(t.tree_tag, c.key, c.recno)) {
          throw CdxError("index tag " + t.header.name + " of table '" + table_ + "' lost the entry of record " +
                         std::to_string(c.recno));
        }
      } else {
        tree_->Insert(t.tree_tag, c.key, c.recno);
      }
    }
    tree_->Commit();
    if (!changes_.empty()) {
      std::filesystem::remove(PendingMarkerPath(cdx_path_));
    }
  } catch (...) {
    Abandon();
    throw;
  }
  Abandon();
}

void CdxMaintainer::Abandon() noexcept {
  changes_.clear();
  tree_.reset();
  if (locked_) {
    store_->Unlock();
    locked_ = false;
  }
}

bool RecoverIfInterrupted(const std::filesystem::path& cdx_path, const CdxLayout& layout,
                          const CdxRecordSource& records, const std::string& table_name) {
  std::filesystem::path marker = PendingMarkerPath(cdx_path);
  if (!std::filesystem::exists(marker)) return false;
  FileCdxStore store(cdx_path, true);
  store.Lock();
  if (!std::filesystem::exists(marker)) return false;  // another writer finished it
  CdxCheckReport report = CheckIndex(store, layout, records, 5);
  if (!report.Ok()) {
    std::string list;
    for (const std::string& p : report.problems) list += (list.empty() ? "" : "; ") + p;
    throw CdxError("Cannot write to table '" + table_name +
                   "': a write to it was interrupted and its index fails the check (" + list +
                   "); nothing was written. Rebuild the index in the registry program; the next write checks it again");
  }
  std::filesystem::remove(marker);
  SyncDirectory(marker.parent_path());
  return true;
}

}  // namespace ravelto::registry
