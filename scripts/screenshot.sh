#!/bin/sh
# Builds the window, the command-line tool and the simulator, logs the window in to the simulator
# and saves a picture of it to docs/screenshot.png, then a picture of the "Wykres" dock after 90 s
# of status polls to docs/chart.png, and the first page of the simulator's configuration sheet to
# docs/sheet.png.  Runs headless (Qt's offscreen platform) unless told otherwise.
#   scripts/screenshot.sh [BUILD_DIR]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-"$root/build"}
"$root/scripts/deps.sh" --screenshot
if [ ! -f "$build/CMakeCache.txt" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release
fi
cmake --build "$build" --target dovu-screenshot dovu-sim dovu-cli -j2
mkdir -p "$root/docs"
QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} \
  "$build/src/ui/dovu-screenshot" --sim "$build/tools/dovu-sim" --download --out "$root/docs/screenshot.png" \
  --chart-out "$root/docs/chart.png" --chart-seconds 90

# The sheet: dovu-cli report against a simulator of its own, its first page as a picture.
tmp=$(mktemp -d)
trap 'kill "$sim" 2>/dev/null || true; rm -rf "$tmp"' EXIT
"$build/tools/dovu-sim" --no-advertise >"$tmp/sim.out" &
sim=$!
port=""
for _ in $(seq 50); do
  port=$(sed -n 's/^PORT //p' "$tmp/sim.out")
  [ -n "$port" ] && break
  sleep 0.1
done
[ -n "$port" ] || { echo "screenshot.sh: the simulator did not start" >&2; exit 1; }
"$build/tools/dovu-cli" report "port:$port" --site "Chłodnia, ul. Łąkowa 7, Łódź" -o "$tmp/sheet.pdf"
pdftoppm -png -r 70 -f 1 -l 1 -singlefile "$tmp/sheet.pdf" "$root/docs/sheet"
echo "saved $root/docs/sheet.png"
