#!/usr/bin/env bash
# Builds the program and starts it together with a simulated controller, which appears in the
# window's port list.  Installs missing Debian packages first.  Extra arguments go to dovu-sim.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"
bin=build/default
# The simulator's own help and version need no window.
for a in "$@"; do
  case "$a" in -h | --help | --version) exec "$bin/tools/dovu-sim" "$@" ;; esac
done
# The simulator advertises its port in a folder of its own, shared with the window only, so the
# window selects this simulator and not another one already running.
DOVU_SIM_DIR=$(mktemp -d)
export DOVU_SIM_DIR
coproc SIM { exec "$bin/tools/dovu-sim" "$@"; }
sim=$SIM_PID
trap 'kill $sim 2>/dev/null || true; wait $sim 2>/dev/null || true; rm -rf "$DOVU_SIM_DIR"' EXIT
# The simulator prints "PORT <path>" once its line is ready.
read -r word port <&"${SIM[0]}" || { echo "dovu-sim did not start" >&2; exit 1; }
echo "Simulated controller on $port" >&2
if [ -x "$bin/src/ui/dovu-konfig" ]; then
  "$bin/src/ui/dovu-konfig"
else
  "$bin/tools/dovu-cli" status --port "$port"
fi
