#!/usr/bin/env bash
# Builds everything and runs every test.  Installs missing Debian packages first.
# Usage: scripts/test.sh [--asan]
set -euo pipefail
cd "$(dirname "$0")/.."
preset=default
[ "${1:-}" = "--asan" ] && preset=asan
scripts/deps.sh
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)"
ctest --preset "$preset"
