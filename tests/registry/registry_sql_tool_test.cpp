// The registry-sql tool's statement mode: field list with type codes, then
// the rows as text; failures go to the error stream with exit code 1.

#include <gtest/gtest.h>

#include <sstream>

#include "tests/registry/registry_test_util.h"
#include "tools/registry-sql/run_statement.h"

namespace {

TEST(RegistrySqlTool, PrintsFieldsRowsAndFailures) {
  registry_test::TempFolder folder;
  registry_test::CopyFixtures("registry-cdx", folder.Path());
  std::ostringstream out, err;
  EXPECT_EQ(ravelto::tools::RunStatementMode(folder.Path(), "select * from ci007 where kuch=3", out, err), 0);
  EXPECT_EQ(out.str(), "kuch\t8\nkw\t8\n\n3\t61003\n1 row(s)\n");
  EXPECT_EQ(err.str(), "");
  out.str("");
  EXPECT_EQ(ravelto::tools::RunStatementMode(folder.Path(), "select * form ci007", out, err), 1);
  EXPECT_EQ(err.str(), "Syntax error at position 10: expected FROM, found \"form\"\n");
  EXPECT_EQ(out.str(), "");
}

}  // namespace
