#!/usr/bin/env bash
# Builds everything and runs every test, then the Win32 serial layer's tests under wine, then the
# Windows stage: the programs built against Qt for Windows, installed from their installer under
# wine and run there (bounded: 20 minutes).
# Installs missing Debian packages first.
# Usage: scripts/test.sh [--asan]
set -euo pipefail
cd "$(dirname "$0")/.."
preset=default
[ "${1:-}" = "--asan" ] && preset=asan
scripts/deps.sh
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
export LSAN_OPTIONS="suppressions=$PWD/tests/lsan.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1${UBSAN_OPTIONS:+:$UBSAN_OPTIONS}"
# Each step says how long it took.
timed() {
  local start=$SECONDS name=$1
  [ "$name" = timeout ] && name=${*: -2:1}  # the command under the time limit
  "$@"
  echo "test.sh ($preset): $name took $((SECONDS - start)) s" >&2
}
cmake --preset "$preset" >/dev/null
timed cmake --build --preset "$preset" -j "$(nproc)"
timed ctest --preset "$preset"
# The Win32 serial layer, cross-built and run under wine (not under the sanitizers).
if [ "$preset" = default ]; then
  timed scripts/wine-test.sh "build/$preset"
  timed timeout --kill-after=30 1200 scripts/windows-test.sh "build/$preset"
fi
