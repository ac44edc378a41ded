#pragma once
// Keeps every tag of a table's structural index true while rows are
// appended and updated.
//
// Per row: Prepare() takes the index lock, re-reads the directory and the
// pages it needs (nothing is cached across rows), computes each tag's key
// changes, enforces CANDIDATE tags and refuses rows whose keys cannot be
// computed exactly; then it leaves a "pending" marker file beside the index.
// The caller writes the row. Apply() changes the trees, writes and flushes
// the index, removes the marker and releases the lock. A marker that is
// still there when the next writer opens the table means a write was
// interrupted: that writer runs the full check first and refuses to write
// while the check finds damage (RecoverIfInterrupted).

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "registry/cdx_check.h"
#include "registry/cdx_key.h"
#include "registry/cdx_store.h"
#include "registry/cdx_tree.h"

namespace ravelto::registry {

// Reads record n (1-based) of the table as it is on disk now; false past the end.
using CdxRecordReader = std::function<bool(uint32_t recno, std::vector<uint8_t>& record)>;

// The marker file that says a write of the index may have been interrupted.
std::filesystem::path PendingMarkerPath(const std::filesystem::path& cdx_path);

// Describes one tag for people: whether this program can maintain it.
struct CdxTagSupport {
  CdxTagHeader tag;
  bool supported = false;
  std::string reason;  // why not, when not
};
std::vector<CdxTagSupport> DescribeTags(const CdxIndex& index, const CdxLayout& layout);

class CdxMaintainer {
 public:
  // Opens the index for writing and compiles every tag. Throws CdxError
  // naming every tag that cannot be maintained (nothing is written then).
  CdxMaintainer(const std::filesystem::path& cdx_path, const CdxLayout& layout, std::string table_name);
  ~CdxMaintainer();

  // See the file comment. old_record is empty for an appended row. reader
  // reads other rows of the table (needed only when a UNIQUE tag's indexed
  // record leaves its key group); it may be empty. Throws CdxError to refuse
  // the row; the lock is then released and nothing was written.
  void Prepare(uint32_t recno, std::span<const uint8_t> old_record, std::span<const uint8_t> new_record,
               const CdxRecordReader& reader);
  // Writes the prepared key changes. Throws CdxError when the index cannot
  // be written (the marker then stays).
  void Apply();
  // Releases the lock of a prepared row that will not be applied (the
  // marker stays: the row may or may not be on disk).
  void Abandon() noexcept;

  // Lock retry time (tests shorten it).
  void SetLockRetry(int ms) { lock_retry_ms_ = ms; }

 private:
  struct Compiled {
    CdxTagHeader header;
    CdxTagKeys keys;
    CdxTree::Tag tree_tag;
  };
  struct Change {
    std::size_t tag;
    bool erase;
    std::string key;
    uint32_t recno;
  };

  void VerifyTags(const CdxIndex& index) const;
  [[noreturn]] void Refuse(const std::string& why);

  std::filesystem::path cdx_path_;
  std::string table_;
  std::unique_ptr<FileCdxStore> store_;
  std::vector<Compiled> tags_;
  std::vector<Change> changes_;
  std::unique_ptr<CdxTree> tree_;
  bool locked_ = false;
  int lock_retry_ms_ = 2000;
};

// When the pending marker beside cdx_path exists, checks the index against
// the table under the index lock (the caller holds the table's header lock
// or knows no writer is active). Removes the marker when the check passes;
// otherwise throws CdxError listing the damage. Returns whether a check ran.
bool RecoverIfInterrupted(const std::filesystem::path& cdx_path, const CdxLayout& layout,
                          const CdxRecordSource& records, const std::string& table_name);

}  // namespace ravelto::registry
