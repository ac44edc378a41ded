// GoogleTest main for the widget tests: one QApplication for all of them.
#include <QApplication>

#include <gtest/gtest.h>

#include "app/desk_fonts.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  ravelto::app::LoadDeskFonts();
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
