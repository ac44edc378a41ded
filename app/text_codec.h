#pragma once
// The one place where the desk converts between the subsystems' text
// (Windows-1251 bytes in std::string) and the window's QString.

#include <QString>

#include <string>

namespace ravelto::app {

// Windows-1251 bytes -> QString. Every byte maps to a character.
QString ToQt(const std::string& cp1251);
// QString -> Windows-1251 bytes. Characters without a Windows-1251 byte
// become "?".
std::string FromQt(const QString& text);

}  // namespace ravelto::app
