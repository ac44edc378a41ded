#!/usr/bin/env bash
# Cross-builds the Qt the Windows desk needs (Core, Gui, Widgets and the
# windows platform plugin) from Debian's qt6-base source with MinGW-w64, and
# installs it into a cache outside the source tree so later runs reuse it.
#
#   scripts/build-qt-windows.sh            build when the cache is missing
#   scripts/build-qt-windows.sh --print-prefix
#                                          print the install folder and exit
#   scripts/build-qt-windows.sh --force    rebuild even when the cache is complete
#
# Environment:
#   RAVELTO_CACHE   cache root (default ~/.cache/ravelto)
#   JOBS            parallel compile jobs (default 2)
#   NICE            niceness of the build (default 19; the build takes about
#                   half an hour on two cores)
#
# The result is a Qt for Windows whose own tools (moc, rcc, uic) are Debian's
# host tools of the same version (QT_HOST_PATH=/usr). Build programs against
# it with its toolchain file, which chain-loads cmake/mingw-w64-x86_64.cmake.
# The install records the absolute path of the checkout that built it, so name
# this checkout's file explicitly:
#   cmake -S . -B build-win -G Ninja \
#     -DCMAKE_TOOLCHAIN_FILE="$(scripts/build-qt-windows.sh --print-prefix)/lib/cmake/Qt6/qt.toolchain.cmake" \
#     -DQT_CHAINLOAD_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake"
#
# Runtime: Qt and the programs built against it use the shared MinGW runtime
# (libstdc++-6.dll, libgcc_s_seh-1.dll, libwinpthread-1.dll). One copy of each
# is put into the install's bin/ beside the Qt DLLs, so a package copies every
# DLL it needs from that one folder.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
qt_version=6.4.2
debian_version="6.4.2+dfsg"
cache="${RAVELTO_CACHE:-$HOME/.cache/ravelto}"
prefix="$cache/qt-$qt_version-mingw-w64"
src_root="$cache/src"
src="$src_root/qt6-base-$debian_version"
build="$cache/build-qt-$qt_version-mingw-w64"
stamp="$prefix/.ravelto-build-stamp"
jobs="${JOBS:-2}"
niceness="${NICE:-19}"
toolchain="$here/cmake/mingw-w64-x86_64.cmake"

force=0
case "${1:-}" in
  --print-prefix) echo "$prefix"; exit 0 ;;
  --force) force=1 ;;
  "") ;;
  *) echo "usage: $0 [--print-prefix|--force]" >&2; exit 2 ;;
esac

# Everything the desk does not use is left out; the third-party libraries Qt
# needs are its bundled copies, since the MinGW root has none of them.
options=(
  -DQT_QMAKE_TARGET_MKSPEC=win32-g++
  -DQT_HOST_PATH=/usr
  -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
  -DCMAKE_BUILD_TYPE=Release
  -DBUILD_SHARED_LIBS=ON
  -DQT_BUILD_EXAMPLES=OFF
  -DQT_BUILD_TESTS=OFF
  -DQT_BUILD_BENCHMARKS=OFF
  -DQT_BUILD_MANUAL_TESTS=OFF
  -DFEATURE_gui=ON
  -DFEATURE_widgets=ON
  -DFEATURE_network=OFF
  -DFEATURE_sql=OFF
  -DFEATURE_printsupport=OFF
  -DFEATURE_dbus=OFF
  -DINPUT_opengl=no
  -DFEATURE_opengl=OFF
  -DFEATURE_xml=OFF
  -DFEATURE_concurrent=OFF
  -DFEATURE_testlib=OFF
  -DFEATURE_icu=OFF
  -DFEATURE_vulkan=OFF
  -DFEATURE_jpeg=OFF
  -DFEATURE_zstd=OFF
  -DFEATURE_glib=OFF
  -DFEATURE_system_zlib=OFF
  -DFEATURE_system_pcre2=OFF
  -DFEATURE_system_png=OFF
  -DFEATURE_system_harfbuzz=OFF
  -DFEATURE_system_doubleconversion=OFF
  -DFEATURE_system_freetype=OFF
  # Debian's source leaves out src/3rdparty/wintab, which tablet events need.
  -DFEATURE_tabletevent=OFF
  # direct2d stays on: without it Qt 6.4.2's Gui drops the DirectWrite font
  # database that the windows platform plugin still refers to.
  -DFEATURE_direct2d=ON
)

# The stamp names the version, the options and the toolchain file, so a change
# to any of them rebuilds.
fingerprint="$( { echo "$debian_version"; printf '%s\n' "${options[@]}"; cat "$toolchain"; } | sha256sum | cut -d' ' -f1)"
if [ "$force" -eq 0 ] && [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$fingerprint" ]; then
  echo "Qt for Windows is cached in $prefix"
  exit 0
fi

for tool in x86_64-w64-mingw32-g++-posix cmake ninja /usr/lib/qt6/libexec/moc; do
  command -v "$tool" >/dev/null || { echo "error: $tool is missing (run scripts/install-deps.sh)" >&2; exit 1; }
done

if [ ! -f "$src/CMakeLists.txt" ]; then
  echo "Fetching the qt6-base source into $src_root"
  mkdir -p "$src_root"
  (cd "$src_root" && apt-get source "qt6-base=$debian_version-10" >/dev/null 2>&1 || apt-get source qt6-base)
  [ -f "$src/CMakeLists.txt" ] || { echo "error: no qt6-base $debian_version source in $src_root" >&2; exit 1; }
fi

rm -f "$stamp"
start=$(date +%s)
mkdir -p "$build"
echo "Configuring Qt $qt_version for Windows in $build"
nice -n "$niceness" cmake -S "$src" -B "$build" -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
  -DCMAKE_INSTALL_PREFIX="$prefix" \
  "${options[@]}"
echo "Building with $jobs jobs at niceness $niceness"
nice -n "$niceness" cmake --build "$build" --parallel "$jobs"
rm -rf "$prefix"
nice -n "$niceness" cmake --install "$build"

# The shared MinGW runtime, one copy beside the Qt DLLs.
gcc=x86_64-w64-mingw32-g++-posix
for dll in libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
  path="$($gcc -print-file-name="$dll")"
  [ -f "$path" ] || path="$(find /usr/lib/gcc/x86_64-w64-mingw32 /usr/x86_64-w64-mingw32/lib -name "$dll" -path '*posix*' 2>/dev/null | head -n1)"
  [ -f "$path" ] || path="$(find /usr/lib/gcc/x86_64-w64-mingw32 /usr/x86_64-w64-mingw32/lib -name "$dll" 2>/dev/null | head -n1)"
  [ -f "$path" ] || { echo "error: $dll not found in the MinGW installation" >&2; exit 1; }
  cp "$path" "$prefix/bin/"
done

for f in bin/Qt6Core.dll bin/Qt6Gui.dll bin/Qt6Widgets.dll plugins/platforms/qwindows.dll; do
  [ -f "$prefix/$f" ] || { echo "error: $prefix/$f was not installed" >&2; exit 1; }
done
echo "$fingerprint" > "$stamp"
echo "Qt for Windows installed in $prefix in $(( $(date +%s) - start )) s"
