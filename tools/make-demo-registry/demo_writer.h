// Puts a DemoRegistry on disk as free tables (no structural indexes) through
// the registry engine: CreateTable for the layouts, the engine's INSERT path
// for the rows (values handed over as typed literals, so dates need no text
// form).
#pragma once

#include <string>

#include "tools/make-demo-registry/demo_data.h"

namespace ravelto::demo {

// Creates `folder` when missing and writes m1005, ci007, ci003 and an empty
// m1042 into it. With `replace`, existing files of those four tables are
// removed first; without it an existing table fails the run
// (registry::DatabaseError) before anything is written.
void WriteDemoRegistry(const std::string& folder, const DemoRegistry& data, bool replace);

}  // namespace ravelto::demo
