#!/usr/bin/env bash
# Builds the program and starts it together with a simulated controller, which appears in the
# window's port list.  Installs missing Debian packages first.  Extra arguments go to dovu-sim.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"
bin=build/default
coproc SIM { exec "$bin/tools/dovu-sim" "$@"; }
sim=$SIM_PID
trap 'kill $sim 2>/dev/null || true' EXIT
# The simulator prints "PORT <path>" once its line is ready.
read -r word port <&"${SIM[0]}" || { echo "dovu-sim did not start" >&2; exit 1; }
echo "Simulated controller on $port" >&2
if [ -x "$bin/src/ui/dovu-konfig" ]; then
  "$bin/src/ui/dovu-konfig"
else
  "$bin/tools/dovu-cli" status --port "$port"
fi
