// main() of test programs that start themselves as child processes.
#include <gtest/gtest.h>

#include "tests/support/child_role.h"

int main(int argc, char** argv) {
  int code = 0;
  if (ravelto::testing::RunChildRole(argc, argv, &code)) return code;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
