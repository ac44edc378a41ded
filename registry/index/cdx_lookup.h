#pragma once
// Reading through a structural index: the record numbers of a column's
// values in a range or with a text prefix, and the records in key order.
//
// A tag serves a column only when its key expression is exactly that column,
// it has no FOR clause, is not UNIQUE/CANDIDATE-filtered, and its keys are
// reproducible here: MACHINE collation for text, or another collation whose
// encoding this process knows from the tag (cdx_collation_store.h).
// When that was learned before another writer changed the index, a lookup
// derives the key of every entry it uses again from its record (given by
// the caller) and gives up on the first that differs. Results are candidates:
// deleted rows are included (deletion does not remove keys) and text lookups
// by prefix return a superset, so the caller tests every row it reads. No
// lock is taken; a lookup that sees the index's change counter move, or a
// writer's journal beside the index (a write in progress or interrupted),
// returns nullopt and the caller scans the table instead.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "registry/index/cdx_check.h"
#include "registry/index/cdx_key.h"
#include "registry/index/cdx_store.h"

namespace ravelto::registry {

struct TableSchema;

class CdxColumnIndex {
 public:
  // nullptr when the file is missing or unreadable or no tag serves the
  // column. records reads the table's records for the check of a collated
  // tag's keys; without it such a tag serves only when what was learned of
  // it holds at the index's present change counter.
  static std::unique_ptr<CdxColumnIndex> Open(const std::string& cdx_path, const CdxLayout& layout,
                                              std::string_view column, const CdxRecordSource* records = nullptr);

  const CdxTagHeader& Tag() const { return tag_; }
  CdxType KeyType() const { return keys_->Type(); }

  // Numeric columns: records whose value lies in the range (open bounds when
  // unset), in key order.
  std::optional<std::vector<uint32_t>> Range(std::optional<double> lo, bool lo_inclusive, std::optional<double> hi,
                                             bool hi_inclusive);
  // Character columns: records whose value starts with prefix (a superset:
  // every record whose key starts with the prefix's key, cut to the key
  // length), in key order. A collated tag gives nullopt when the prefix
  // holds a character whose weights are not known.
  std::optional<std::vector<uint32_t>> TextPrefix(std::string_view prefix);
  // Every record in key order while fn returns true; false when the index
  // changed during the walk (or was being written). Backwards gives the
  // keys from the largest down, the records of one key still in ascending
  // record order.
  bool Walk(const std::function<bool(uint32_t recno)>& fn, bool backwards = false);

 private:
  CdxColumnIndex() = default;
  uint32_t Counter() const;
  // True when no writer's journal lies beside the index.
  bool Settled() const;
  // Visits entries from the first one >= (from, 0) while fn returns true.
  bool Scan(const std::string& from, const std::function<bool(const CdxEntry&)>& fn);
  // Visits entries from the last one down while fn returns true.
  bool ScanBack(const std::function<bool(const CdxEntry&)>& fn);

  std::string path_;

  // The key bytes every value starting with text has in a collated tag.
  std::string CollatedPrefix(std::string_view text) const;

  std::unique_ptr<FileCdxStore> store_;
  CdxTagHeader tag_;
  std::optional<CdxTagKeys> keys_;
  std::shared_ptr<const CdxTagCollation> collation_;  // a collated tag's learned encoding
  // The change counter the collation was verified at; a lookup at another
  // one checks each entry it uses against its record.
  std::optional<uint32_t> verified_counter_;
  std::optional<CdxRecordSource> records_;
};

// Layout of a table schema as the index code sees it.
CdxLayout LayoutOfSchema(const TableSchema& schema);

}  // namespace ravelto::registry
