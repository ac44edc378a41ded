#pragma once
// INSERT and UPDATE on a table file, with the locks and the write order that
// keep the table whole for other programs and after a crash:
//   INSERT: header lock (0x7FFFFFFE, plus 0x40000000 without a structural
//   index) and the new record's lock; header re-read from disk; memo blocks;
//   record + 0x1A; flush; header bytes 1-7 (date, count) in one write; flush.
//   UPDATE: per row, its record lock (0x7FFFFFFE - n); the record re-read
//   and the condition tested on that copy; new memo blocks; the record in
//   one write; flush.
// The index hook (index_hook.h) is called around every row.

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "registry/sql/sql_ast.h"

namespace ravelto::registry {

// What a statement's writes need besides the folder.
struct WriteOptions {
  // The file that keeps what was learned of the registry's collated index
  // tags across processes ("" : this process only; registry/index/cdx_collation_store.h).
  std::string collationKnowledge;
};

// Runs a parsed INSERT against `folder`; returns 1.
int RunInsert(const std::string& folder, Statement& statement, const WriteOptions& options = {});
// Runs a parsed UPDATE; returns the number of rows changed.
int RunUpdate(const std::string& folder, Statement& statement, const WriteOptions& options = {});

// Appends one row of typed values (column name, value) to `table`, as an
// INSERT statement naming those columns would; for tools that write rows
// without going through SQL text.
int InsertRow(const std::string& folder, const std::string& table,
              std::vector<std::pair<std::string, Value>> values);

}  // namespace ravelto::registry
