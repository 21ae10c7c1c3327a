#!/usr/bin/env bash
# Cross-builds the Win32 serial layer and its tests with mingw-w64 and runs them under wine against
# simulated controllers on pseudo-terminals.  Needs the Linux build (for dovu-sim) first.
# Usage: scripts/wine-test.sh [BUILD_DIR]   (default build/default)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --wine
sim="${1:-build/default}/tools/dovu-sim"
[ -x "$sim" ] || { echo "wine-test: $sim is missing: build first" >&2; exit 1; }

out=build/win32
cmake -S tests/win32 -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/tests/win32/mingw-w64.cmake" >/dev/null
cmake --build "$out" -j "$(nproc)"

wine=/usr/lib/wine/wine64
server=/usr/lib/wine/wineserver
work=$(mktemp -d)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export DOVU_SIM_DIR="$work/sims"  # the simulators advertise nowhere the user's programs look
pids=()
puller=""
cleanup() {
  [ -z "$puller" ] || kill "$puller" 2>/dev/null || true
  for p in "${pids[@]}"; do kill -CONT "$p" 2>/dev/null || true; kill "$p" 2>/dev/null || true; done
  "$server" -k 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# Starts a simulator with the given options into sim_port: its pseudo-terminal, from the first
# line it prints.
start_sim() {
  local n=${#pids[@]} fd
  mkfifo "$work/sim$n.out"
  "$sim" --no-advertise "$@" >"$work/sim$n.out" 2>"$work/sim$n.err" &
  pids+=($!)
  exec {fd}<"$work/sim$n.out"
  sim_port=""
  read -r -t 10 line <&"$fd" && sim_port=${line#PORT }
  [ -n "$sim_port" ] || { echo "wine-test: dovu-sim $* did not start" >&2; cat "$work/sim$n.err" >&2; exit 1; }
}
start_sim; healthy=$sim_port
start_sim --unplug-after 5; unplug=$sim_port
start_sim; stalled=$sim_port
start_sim --baud-pace --log "$work/paced.log"; paced=$sim_port
start_sim; pulled=$sim_port
kill -STOP "${pids[2]}" "${pids[4]}"  # controllers that no longer read the line
# The last one is pulled out once the test asks for it (a file appears), at most 60 s from now.
( for _ in $(seq 1200); do [ -e "$work/pull" ] && break; sleep 0.05; done; kill -KILL "${pids[4]}" ) &
puller=$!

# wine starts once for the whole run.  COM ports are mapped through the registry, which the mount
# manager reads when wine starts (it rewrites hand-made dosdevices links).
"$wine" wineboot -i 2>"$work/wineboot.log" || { cat "$work/wineboot.log" >&2; exit 1; }
"$wine" reg add 'HKLM\Software\Wine\Ports' /v COM7 /t REG_SZ /d "$healthy" /f >/dev/null
"$wine" reg add 'HKLM\Software\Wine\Ports' /v COM8 /t REG_SZ /d "$unplug" /f >/dev/null
"$wine" reg add 'HKLM\Software\Wine\Ports' /v COM9 /t REG_SZ /d "$stalled" /f >/dev/null
"$wine" reg add 'HKLM\Software\Wine\Ports' /v COM12 /t REG_SZ /d "$paced" /f >/dev/null
"$wine" reg add 'HKLM\Software\Wine\Ports' /v COM10 /t REG_SZ /d "$pulled" /f >/dev/null
"$server" -k
"$server" -p 2>/dev/null  # started here so that its messages at exit stay out of the log

DOVU_TEST_COM=COM7 DOVU_TEST_COM_UNPLUG=COM8 DOVU_TEST_COM_STALLED=COM9 \
  DOVU_TEST_COM_PACED=COM12 DOVU_TEST_PACED_LOG="Z:$work/paced.log" \
  DOVU_TEST_COM_PULLED=COM10 DOVU_TEST_PULL="Z:$work/pull" \
  "$wine" "$out/win32_serial_test.exe" --gtest_color=no
