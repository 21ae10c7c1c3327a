#!/bin/sh
# Builds the window and the simulator, logs the window in to the simulator and saves a picture of
# it to docs/screenshot.png.  Runs headless (Qt's offscreen platform) unless told otherwise.
#   scripts/screenshot.sh [BUILD_DIR]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build"}
"$root/scripts/deps.sh" --screenshot
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
fi
cmake --build "$build" --target dovu-screenshot dovu-sim -j2
mkdir -p "$root/docs"
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} \
  "$build/src/ui/dovu-screenshot" --sim "$build/tools/dovu-sim" --download --out "$root/docs/screenshot.png"
