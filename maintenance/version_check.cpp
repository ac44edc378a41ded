#include "maintenance/version_check.h"

#include "common/int_text.h"

namespace ravelto::maintenance {

std::optional<int> ReadLatestVersion(std::string_view answer) { return ParseInt(answer); }

bool IsNewerThanProgram(int latest) { return latest > kProgramVersion; }

}  // namespace ravelto::maintenance
