#include "app/desk_fonts.h"

#include <QFile>
#include <QFontDatabase>
#include <QString>

namespace ravelto::app {

bool LoadDeskFonts() {
  const QString family = QStringLiteral("Tahoma");
  if (QFontDatabase::families().contains(family)) return true;
  const char* const files[] = {"/usr/share/wine/fonts/tahoma.ttf",
                               "/usr/share/wine/fonts/tahomabd.ttf"};
  for (const char* file : files) {
    const QString path = QString::fromLatin1(file);
    if (QFile::exists(path)) QFontDatabase::addApplicationFont(path);
  }
  return QFontDatabase::families().contains(family);
}

}  // namespace ravelto::app
