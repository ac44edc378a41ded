// The program entry: the application, its title, the main window, the loop.

#include <QApplication>

#include <clocale>

#include "app/desk_fonts.h"
#include "app/form1.h"
#include "app/platform_qt.h"

int main(int argc, char* argv[]) {
  QApplication application(argc, argv);
  // Qt adopts the operator's locale for the C library too; numbers in the
  // registry and on the wire are always written with a point, so the C
  // library's number conversions stay in the "C" locale.
  std::setlocale(LC_NUMERIC, "C");
  // The title captions the message boxes (PlatformQt) and names the program;
  // it is not set as the display name, which Qt would append to the window's
  // own caption.
  QApplication::setApplicationName(ravelto::app::ApplicationTitle());
  ravelto::app::LoadDeskFonts();
  ravelto::app::PlatformQt platform;
  ravelto::app::TForm1 form(&platform);
  form.show();
  return QApplication::exec();
}
