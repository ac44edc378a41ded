#pragma once
// Reading through a structural index: the record numbers of a column's
// values in a range or with a text prefix, and the records in key order.
//
// A tag serves a column only when its key expression is exactly that column,
// it has no FOR clause, is not UNIQUE/CANDIDATE-filtered, and its keys are
// reproducible here (MACHINE collation for text). Results are candidates:
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

#include "registry/index/cdx_key.h"
#include "registry/index/cdx_store.h"

namespace ravelto::registry {

struct TableSchema;

class CdxColumnIndex {
 public:
  // nullptr when the file is missing or unreadable or no tag serves the column.
  static std::unique_ptr<CdxColumnIndex> Open(const std::string& cdx_path, const CdxLayout& layout,
                                              std::string_view column);

  const CdxTagHeader& Tag() const { return tag_; }
  CdxType KeyType() const { return keys_->Type(); }

  // Numeric columns: records whose value lies in the range (open bounds when
  // unset), in key order.
  std::optional<std::vector<uint32_t>> Range(std::optional<double> lo, bool lo_inclusive, std::optional<double> hi,
                                             bool hi_inclusive);
  // Character columns: records whose key starts with prefix (cut to the key
  // length), in key order.
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

  std::unique_ptr<FileCdxStore> store_;
  CdxTagHeader tag_;
  std::optional<CdxTagKeys> keys_;
};

// Layout of a table schema as the index code sees it.
CdxLayout LayoutOfSchema(const TableSchema& schema);

}  // namespace ravelto::registry
