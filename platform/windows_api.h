#pragma once
// The Windows API as this program includes it: <windows.h> without its min
// and max macros (they break std::min and std::max) and without the rarely
// used parts, among them the old winsock.h, so that <winsock2.h> may follow.
// Header only, so that the socket layer and the window can use it without
// linking the platform library. Empty on other systems.

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif
