#include "registry/statement_runner.h"

#include "registry/database_error.h"

namespace ravelto::registry {

StatementOutcome RunStatement(const std::string&, std::string_view, bool) {
  throw DatabaseError("The registry engine cannot run statements yet");
}

}  // namespace ravelto::registry
