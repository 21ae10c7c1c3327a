#!/usr/bin/env bash
# Builds the Debian package, installs it, starts the installed programs and removes the package
# again.  Run after scripts/test.sh (it reuses the default build).  Needs root or sudo.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)"
rm -rf build/package
cpack --preset deb >/dev/null
deb=$(ls build/package/dovu-konfigurator_*.deb)
echo "Installing $deb" >&2
$sudo apt-get install -y -qq "./$deb" >/dev/null
trap '$sudo apt-get remove -y -qq dovu-konfigurator >/dev/null' EXIT

fail() { echo "package test: $*" >&2; exit 1; }
# The installed window starts, shows itself and leaves (the start-up benchmark's exit hook).
log=$(mktemp)
shown=$(cd / && QT_QPA_PLATFORM=offscreen DOVU_BENCH_EXIT_ON_SHOW=1 timeout 60 /usr/bin/dovu-konfig 2>"$log") ||
  { sort -u "$log" >&2; fail "dovu-konfig did not start"; }
[ "$shown" = "SHOWN 1" ] || { sort -u "$log" >&2; fail "dovu-konfig: the window did not show ($shown)"; }
rm -f "$log"
/usr/bin/dovu-cli --version | grep -q "^dovu-cli [0-9]" || fail "dovu-cli --version"
/usr/bin/dovu-sim --version | grep -q "^dovu-sim [0-9]" || fail "dovu-sim --version"
for f in /usr/share/applications/dovu-konfig.desktop /usr/share/man/man1/dovu-cli.1.gz \
         /usr/share/bash-completion/completions/dovu-cli; do
  [ -f "$f" ] || fail "$f is not installed"
done

trap - EXIT
$sudo apt-get remove -y -qq dovu-konfigurator >/dev/null
[ ! -e /usr/bin/dovu-konfig ] || fail "the package left /usr/bin/dovu-konfig behind"
echo "package test: installed, started and removed $deb" >&2
