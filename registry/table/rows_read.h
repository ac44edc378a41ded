#pragma once
// A process-wide count of the table rows that statements have read and
// tested. It shows whether an index spared a scan: the lookups of every
// layer add to it, and tests and benchmarks read it.

#include <cstdint>

namespace ravelto::registry {

// How many table rows SELECT and UPDATE statements have read and tested in
// this process so far (all threads).
std::uint64_t RowsReadByStatements();

// Adds to that count.
void CountRowsRead(std::uint64_t rows);

}  // namespace ravelto::registry
