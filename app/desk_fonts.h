#pragma once
// Fonts the window is designed for. Where the system lacks "Tahoma" (Linux),
// the Tahoma-metric font that Debian's fonts-wine package installs outside
// fontconfig's folders is registered with the application.

namespace ravelto::app {

// Registers the fallback fonts when needed; call once after QApplication
// exists. Returns true when a "Tahoma" family is available afterwards.
bool LoadDeskFonts();

}  // namespace ravelto::app
