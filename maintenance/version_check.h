#pragma once
// The latest-version rule of the self-update: the file service answers with
// the number of the newest program version as decimal text, and an update is
// offered only when that number is greater than the running version.

#include <optional>
#include <string_view>

#include "service/protocol.h"

namespace ravelto::maintenance {

// The version of this program, compared with the file service's number.
inline constexpr int kProgramVersion = service::ProgramVersion;

// Reads the file service's answer: optional leading blanks, an optional sign,
// digits, and nothing after them (a trailing line break included). Returns
// nullopt for anything else, the empty answer included.
std::optional<int> ReadLatestVersion(std::string_view answer);

// True only when `latest` is greater than kProgramVersion.
bool IsNewerThanProgram(int latest);

}  // namespace ravelto::maintenance
