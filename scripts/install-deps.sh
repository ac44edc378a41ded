#!/usr/bin/env bash
# Installs the Debian packages the desk, its tools and its tests need.
# Only missing packages are fetched; safe to run again.
set -euo pipefail
packages=(
  build-essential cmake ninja-build pkg-config clang libclang-rt-14-dev
  qt6-base-dev libgl-dev
  libgtest-dev libgmock-dev googletest libbenchmark-dev
  libcpp-httplib-dev libcurl4-openssl-dev
  libsqlite3-dev
  python3 python3-dbf python3-dbfread
  tinyproxy
  xvfb xauth fonts-wine fonts-liberation
  locales
  # The Windows build: MinGW-w64 compilers, Debian's Qt host tools (moc, rcc,
  # uic) for cross-building Qt and the desk, dpkg-dev for fetching Qt's source,
  # tcl for making SQLite's amalgamation, wine, ImageMagick and xdotool for
  # running, photographing and driving the exe, zip and unzip for its package
  # and the smoke test's unpacking, x11-utils for waiting on the X server,
  # wixl (msitools' package builder) for the installer package the driver
  # test installs under wine.
  g++-mingw-w64-x86-64-posix qt6-base-dev-tools dpkg-dev tcl
  wine wine64 imagemagick xdotool zip unzip x11-utils wixl
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ((${#missing[@]})); then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# Qt for Windows is built from Debian's qt6-base source (scripts/build-qt-windows.sh),
# so apt needs a deb-src entry for the installed suite.
if ! grep -rqs '^\(Types:.*deb-src\|deb-src\)' /etc/apt/sources.list /etc/apt/sources.list.d/; then
  suite="$(. /etc/os-release && echo "${VERSION_CODENAME:-bookworm}")"
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  printf 'Types: deb-src\nURIs: http://deb.debian.org/debian\nSuites: %s %s-updates\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
    "$suite" "$suite" | $SUDO tee /etc/apt/sources.list.d/debian-src.sources >/dev/null
  $SUDO apt-get update -qq
fi

# A Russian locale, so the tests can run the registry under the decimal comma
# a clinic's desk has.
if ! locale -a 2>/dev/null | grep -qi '^ru_RU\.utf-\?8$'; then
  SUDO=""
  [ "$(id -u)" -eq 0 ] || SUDO="sudo"
  $SUDO localedef -i ru_RU -f UTF-8 ru_RU.UTF-8 || echo "warning: could not generate ru_RU.UTF-8"
fi
