#pragma once
// Generator of realistic registry tables for the benchmarks: a home-visit
// table shaped like m1042 (about 40 columns) and a patients table shaped
// like m1005, written straight to disk in the tables' own format.

#include <cstdint>
#include <string>

namespace registry_bench {

// Creates `folder`/`name`.dbf with `rows` rows unless a table of that size
// is already there. One row in the middle of the visits table carries the
// marker '112233' in data_vizc.
void EnsureVisitsTable(const std::string& folder, const std::string& name, std::uint32_t rows);
void EnsurePatientsTable(const std::string& folder, const std::string& name, std::uint32_t rows);

}  // namespace registry_bench
