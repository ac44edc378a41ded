#!/usr/bin/env bash
# The whole test run: installs what is missing, builds, runs every test in a
# normal build and again under AddressSanitizer + UndefinedBehaviorSanitizer,
# then runs each libFuzzer target (60 s each under CI=true, 10 s otherwise).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
jobs=$(nproc)

"$root/scripts/install-deps.sh"

echo "== normal build"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$jobs"
(cd build && QT_QPA_PLATFORM=offscreen ctest --output-on-failure -j"$jobs")

echo "== sanitizer build"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DRAVELTO_SANITIZE=ON \
  -DRAVELTO_BUILD_BENCH=OFF >/dev/null
cmake --build build-asan -j"$jobs"
(cd build-asan && QT_QPA_PLATFORM=offscreen \
  ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
  ctest --output-on-failure -j"$jobs" -LE no-sanitizer)

echo "== fuzzing"
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
echo "all tests passed"
