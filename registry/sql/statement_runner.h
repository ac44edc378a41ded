#pragma once
// Runs one statement of the SQL subset against the tables of a folder.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "registry/sql/result_set.h"
#include "registry/sql/table_writer.h"

namespace ravelto::registry {

struct StatementOutcome {
  int rowsAffected = 0;
  std::unique_ptr<ResultSet> result;  // set for a SELECT when rows were asked for
};

// Parses and runs `sql` over the tables in `folder`. With wantRows false a
// SELECT is parsed and checked against its table (columns, types) but keeps
// no rows. options go to the writes of INSERT and UPDATE. Throws DatabaseError.
StatementOutcome RunStatement(const std::string& folder, std::string_view sql, bool wantRows,
                              const WriteOptions& options = {});

}  // namespace ravelto::registry
