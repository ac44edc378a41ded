// registry-sql FOLDER "STATEMENT": runs one statement of the registry's SQL
// subset over the tables in FOLDER and prints the field list with type codes
// and the rows as text (Windows-1251 bytes), or the failure (exit code 1).
//
// Further modes are chosen by a first argument starting with "--"; each
// mode is one entry of kModes below.

#include <cstring>
#include <iostream>
#include <string>

#include "registry/index/cdx_report.h"
#include "tools/registry-sql/run_statement.h"

namespace {

struct Mode {
  const char* flag;
  int (*run)(int argc, char** argv);  // argv after the flag
};

int Usage() {
  std::cerr << "usage: registry-sql FOLDER \"STATEMENT\"\n"
               "       registry-sql --describe-indexes FOLDER\n"
               "       registry-sql --check-indexes FOLDER\n";
  return 2;
}

int RunDescribeIndexes(int argc, char** argv) {
  return argc == 1 ? ravelto::registry::DescribeIndexes(argv[0], std::cout) : Usage();
}
int RunCheckIndexes(int argc, char** argv) {
  return argc == 1 ? ravelto::registry::CheckIndexes(argv[0], std::cout) : Usage();
}

// Modes selected by a leading flag, e.g. {"--describe-indexes", RunDescribe}.
constexpr Mode kModes[] = {{"--describe-indexes", RunDescribeIndexes}, {"--check-indexes", RunCheckIndexes}};

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 2 && std::strncmp(argv[1], "--", 2) == 0) {
    for (const Mode& mode : kModes)
      if (mode.flag && std::strcmp(mode.flag, argv[1]) == 0) return mode.run(argc - 2, argv + 2);
    return Usage();
  }
  if (argc != 3) return Usage();
  return ravelto::tools::RunStatementMode(argv[1], argv[2], std::cout, std::cerr);
}
