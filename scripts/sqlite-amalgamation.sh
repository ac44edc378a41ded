#!/usr/bin/env bash
# Makes SQLite's amalgamation (sqlite3.c, sqlite3.h) from Debian's sqlite3
# source package, for builds that compile SQLite with their own toolchain
# (the Windows build):
#   dir=$(scripts/sqlite-amalgamation.sh)
#   cmake ... -DRAVELTO_SQLITE_SOURCE_DIR="$dir"
# The result is cached in ~/.cache/ravelto/sqlite-<version>/ and reused; the
# script prints that folder. Needs a deb-src line, dpkg-dev (dpkg-source) and
# tcl (tclsh, which SQLite's build uses to generate the amalgamation).
set -euo pipefail

for tool in apt-get dpkg-source tclsh make; do
  command -v "$tool" >/dev/null || { echo "sqlite-amalgamation: $tool is missing (apt-get install dpkg-dev tcl build-essential)" >&2; exit 1; }
done

version=$(apt-cache showsrc sqlite3 2>/dev/null | awk '/^Version:/ { print $2; exit }')
[ -n "$version" ] || { echo "sqlite-amalgamation: no source package sqlite3 (is a deb-src line configured?)" >&2; exit 1; }
cache="${XDG_CACHE_HOME:-$HOME/.cache}/ravelto/sqlite-${version}"
if [ -s "$cache/sqlite3.c" ] && [ -s "$cache/sqlite3.h" ]; then
  echo "$cache"
  exit 0
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
(
  cd "$work"
  apt-get source --download-only -qq "sqlite3=${version}" >&2
  dpkg-source -x ./*.dsc src >&2
  cd src
  # Debian's patches are applied by dpkg-source; the amalgamation is made by
  # the upstream build from the patched tree.
  ./configure --disable-tcl >&2
  make -j2 sqlite3.c >&2
)
mkdir -p "$cache.tmp"
cp "$work/src/sqlite3.c" "$work/src/sqlite3.h" "$cache.tmp/"
[ -f "$work/src/sqlite3ext.h" ] && cp "$work/src/sqlite3ext.h" "$cache.tmp/"
rm -rf "$cache"
mv "$cache.tmp" "$cache"
echo "$cache"
