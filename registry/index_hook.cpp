#include "registry/index_hook.h"

#include "registry/database_error.h"

namespace ravelto::registry {

// Until the structural index can be maintained, writes to an indexed table
// are refused: a stale index would make the registry program return wrong
// rows.
std::unique_ptr<IndexMaintenance> OpenIndexMaintenance(const IndexedTable& table) {
  if (!table.schema || !table.schema->HasStructuralIndex()) return nullptr;
  throw DatabaseError("Cannot write to table '" + table.name +
                      "': it has a structural index (.cdx) that cannot be maintained; nothing was written");
}

}  // namespace ravelto::registry
