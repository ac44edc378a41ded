#!/usr/bin/env bash
# The whole test run: installs what is missing, builds, runs every test in a
# normal build and again under AddressSanitizer + UndefinedBehaviorSanitizer,
# cross-builds the libraries and their tests for Windows x86_64 with MinGW-w64
# and runs them under wine, then runs each libFuzzer target (60 s each under
# CI=true, 10 s otherwise). Each stage prints its time.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)

"$root/scripts/install-deps.sh"

stage_start=$SECONDS
stage() {
  [ -n "${stage_name:-}" ] && echo "-- ${stage_name}: $((SECONDS - stage_start)) s"
  stage_name=$1
  stage_start=$SECONDS
  echo "== $1"
}

stage "normal build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
(cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$jobs")

stage "sanitizer build"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DRAVELTO_SANITIZE=ON \
  -DRAVELTO_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"
(cd build-asan && QT_QPA_PLATFORM=offscreen \
  ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j"$jobs" -LE no-sanitizer)

stage "windows build under wine"
# SQLite for the journal is compiled from Debian's source by the same
# toolchain (cached in ~/.cache/ravelto); wine gets a prefix of the build's own.
sqlite_dir=$("$root/scripts/sqlite-amalgamation.sh")
export PATH="$PATH:/usr/lib/wine"
cmake -S . -B build-win -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
  -DRAVELTO_BUILD_APP=OFF -DRAVELTO_BUILD_BENCH=OFF \
  -DRAVELTO_SQLITE_SOURCE_DIR="$sqlite_dir" >/dev/null
cmake --build build-win -j"$jobs"
WINEPREFIX="$root/build-win/wineprefix" WINEDEBUG=-all wineboot --init >/dev/null 2>&1 || true
(cd build-win && ctest --output-on-failure -j"$jobs")

stage "windows desk under wine"
# Qt for Windows comes from its cache (~/.cache/ravelto); when the cache is
# missing it is built first, which takes about 26 minutes on two cores.
RAVELTO_WINDOWS_TESTS=ON "$root/scripts/build-windows.sh"
WINEPREFIX="$root/build-win-app/wineprefix" WINEDEBUG=-all wineboot --init >/dev/null 2>&1 || true
(cd build-win-app && ctest --output-on-failure -R app_text_codec)
"$root/tests/windows/smoke.sh" "$root/dist/ravelto-windows-x86_64.zip" "$root/build" "$root/build-win-app/smoke"

stage "fuzzing"
seconds=10
[ "${CI:-}" = "true" ] && seconds=60
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DRAVELTO_BUILD_FUZZ=ON -DRAVELTO_BUILD_APP=OFF -DRAVELTO_BUILD_TESTS=OFF \
  -DRAVELTO_BUILD_BENCH=OFF -DRAVELTO_BUILD_TOOLS=OFF >/dev/null
cmake --build build-fuzz -j"$jobs"
for f in build-fuzz/fuzz/fuzz_*; do
  [ -x "$f" ] || continue
  name=$(basename "$f")
  corpus="$root/fuzz/corpus/${name#fuzz_}"
  work=$(mktemp -d)
  [ -d "$corpus" ] && cp -r "$corpus"/. "$work"/
  echo "-- $name for ${seconds}s"
  "$f" -max_total_time="$seconds" -rss_limit_mb=2048 -max_len=65536 "$work" 2>&1 | tail -3
  rm -rf "$work"
done
stage_name="fuzzing"
stage "done"
echo "all tests passed"
