#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the tools need, when any is missing.
# Usage: scripts/deps.sh [--fuzz] [--screenshot] [--wine] [--windows] [--package]
set -euo pipefail
# The build and tests; help2man makes the manual pages, desktop-file-utils and appstream check the
# desktop entry and metainfo, dpkg-dev finds the package's library dependencies, and the window
# loads Qt's own Polish texts.  Qt Charts draws the sensor chart (its CMake files need Qt OpenGL's,
# which Debian does not pull in); poppler-utils reads the
# configuration sheet's PDF back in the tests, whose Polish letters need the DejaVu fonts.
pkgs=(cmake ninja-build g++ pkg-config qt6-base-dev libgtest-dev libturbojpeg0-dev
      help2man desktop-file-utils appstream dpkg-dev qt6-translations-l10n qt6-charts-dev libqt6opengl6-dev
      poppler-utils fonts-dejavu-core)
for a in "$@"; do
  case "$a" in
    --fuzz) pkgs+=(clang-14 libclang-rt-14-dev) ;;
    --wine) pkgs+=(g++-mingw-w64-x86-64-posix wine64 googletest) ;;
    # The Windows programs against Qt for Windows: the installer (makensis), the ZIP checked
    # (unzip), the window under wine on an X server driven by real keys and clicks, pictures of
    # the screen (xwd).
    --windows) pkgs+=(g++-mingw-w64-x86-64-posix wine64 nsis unzip xvfb xdotool x11-utils x11-apps) ;;
    # The Debian packages' build, lintian and hardening-check.
    --package) pkgs+=(debhelper devscripts lintian pkgconf) ;;
    --screenshot) pkgs+=(fonts-dejavu-core poppler-utils) ;;
  esac
done
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}" >&2
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
