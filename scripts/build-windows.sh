#!/usr/bin/env bash
# Builds the Windows x86_64 desk and packs it for a clinic:
#   dist/ravelto-windows-x86_64.zip  with ravelto.exe, registry-sql.exe, the Qt
#   DLLs, platforms/qwindows.dll, styles/qwindowsvistastyle.dll and the MinGW
#   runtime DLLs (libstdc++-6, libgcc_s_seh-1, libwinpthread-1).
#
#   scripts/build-windows.sh          build (Qt from its cache, built when missing)
#
# With RAVELTO_WINDOWS_TESTS=ON the build folder also gets the window's own
# test that runs without Qt's test library (app_text_codec_tests); the test
# command runs it under wine.
#
# Qt for Windows comes from scripts/build-qt-windows.sh (about 26 minutes on two
# cores when its cache ~/.cache/ravelto/qt-6.4.2-mingw-w64 is missing, a few
# seconds otherwise); SQLite for the decision journal from
# scripts/sqlite-amalgamation.sh. The build folder is build-win-app.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)
build="$root/build-win-app"
dist="$root/dist"
name=ravelto-windows-x86_64

"$root/scripts/install-deps.sh"
mkdir -p "$dist"

start=$SECONDS
qt="$("$root/scripts/build-qt-windows.sh" --print-prefix)"
[ -f "$qt/.ravelto-build-stamp" ] ||
  echo "-- Qt for Windows is not cached yet: building it now (about 26 minutes on two cores)"
if ! "$root/scripts/build-qt-windows.sh" > "$dist/qt-build.log" 2>&1 </dev/null; then
  echo "error: building Qt for Windows failed; see $dist/qt-build.log" >&2
  exit 1
fi
qt="$("$root/scripts/build-qt-windows.sh" --print-prefix)"
echo "-- Qt for Windows ready in $((SECONDS - start)) s ($qt)"
sqlite_dir=$("$root/scripts/sqlite-amalgamation.sh")

start=$SECONDS
# The window's programs share the MinGW runtime DLLs with Qt, so the runtime
# is linked dynamically here (one C++ runtime in the process).
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$qt/lib/cmake/Qt6/qt.toolchain.cmake" \
  -DQT_CHAINLOAD_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DRAVELTO_BUILD_TESTS="${RAVELTO_WINDOWS_TESTS:-OFF}" -DRAVELTO_BUILD_BENCH=OFF -DRAVELTO_STATIC_RUNTIME=OFF \
  -DRAVELTO_SQLITE_SOURCE_DIR="$sqlite_dir" >/dev/null
targets=(ravelto registry-sql)
[ "${RAVELTO_WINDOWS_TESTS:-OFF}" = ON ] && targets+=(app_text_codec_tests)
cmake --build "$build" -j"$jobs" --target "${targets[@]}"
echo "-- ravelto.exe built in $((SECONDS - start)) s"

stage="$dist/$name"
rm -rf "$stage" "$dist/$name.zip"
mkdir -p "$stage/platforms" "$stage/styles"
cp "$build/app/ravelto.exe" "$build/tools/registry-sql/registry-sql.exe" "$stage/"
for dll in Qt6Core Qt6Gui Qt6Widgets libstdc++-6 libgcc_s_seh-1 libwinpthread-1; do
  cp "$qt/bin/$dll.dll" "$stage/"
done
cp "$qt/plugins/platforms/qwindows.dll" "$stage/platforms/"
cp "$qt/plugins/styles/qwindowsvistastyle.dll" "$stage/styles/"
x86_64-w64-mingw32-strip --strip-unneeded "$stage"/*.exe "$stage"/*.dll "$stage"/platforms/*.dll "$stage"/styles/*.dll
sed 's/$/\r/' "$root/docs/windows-install.txt" > "$stage/README.txt"  # CR LF for Notepad
(cd "$dist" && zip -qr "$name.zip" "$name")
echo "-- $dist/$name.zip ($(du -h "$dist/$name.zip" | cut -f1))"
