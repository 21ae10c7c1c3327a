#!/usr/bin/env bash
# Builds the Debian packages twice from copies of the tree (in two different folders) with
# dpkg-buildpackage and checks that the .deb files are byte for byte the same, that lintian finds no
# error or warning and that the installed programs are hardened; then installs the packages, starts
# the installed programs and removes the packages again.  The test suite is not built here:
# scripts/test.sh runs it.  Needs root or sudo.  The packages stay in build/deb/a.
# Usage: scripts/package-test.sh [--reuse]   (--reuse: check the packages the last run built)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --package
sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
fail() { echo "package test: $*" >&2; exit 1; }

version=$(dpkg-parsechangelog -S Version)
project=$(sed -n 's/^project(dovu-konfigurator VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
[ "$version" = "$project" ] || fail "debian/changelog has $version, CMakeLists.txt $project"

out=build/deb
reuse=false
[ "${1:-}" = "--reuse" ] && [ -d "$out/b" ] && reuse=true
$reuse || rm -rf "$out"
# Builds from a copy of the tree's files (committed or not, without the build folders) in $1.
build_in() {
  local src="$1/dovu-konfigurator-$version"
  mkdir -p "$src"
  if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git ls-files -z --cached --others --exclude-standard |
      tar --null -T - --ignore-failed-read -cf - 2>/dev/null | tar -xf - -C "$src"
  else
    tar --exclude=./build --exclude='./build-*' --exclude='./obj-*' -cf - . | tar -xf - -C "$src"
  fi
  echo "package test: building in $src" >&2
  (cd "$src" && DEB_BUILD_OPTIONS="nocheck parallel=$(nproc)" dpkg-buildpackage -us -uc -b -Pnocheck) \
    >"$1/build.log" 2>&1 || { tail -n 40 "$1/build.log" >&2; fail "dpkg-buildpackage failed in $1"; }
}
if ! $reuse; then
  start=$SECONDS
  build_in "$out/a"
  build_in "$out/b"
  echo "package test: two builds in $((SECONDS - start)) s" >&2
fi

# Reproducible: the second build gives the same bytes.
debs=$(cd "$out/a" && ls -- *.deb)
[ -n "$debs" ] || fail "no packages in $out/a"
for f in $debs; do
  if ! cmp -s "$out/a/$f" "$out/b/$f"; then
    diff <(dpkg-deb -c "$out/a/$f") <(dpkg-deb -c "$out/b/$f") >&2 || true
    fail "$f differs between two builds of the same tree"
  fi
done
echo "package test: both builds identical:" $debs >&2

# lintian: no error and no warning; the remaining informational tags are listed.
changes=$(ls "$out"/a/*.changes)
lintian --pedantic --display-info --fail-on error,warning "$changes" >&2 || fail "lintian"

apt_remove() { $sudo apt-get remove -y -qq dovu-konfigurator dovu-sim >/dev/null; }
$sudo apt-get install -y -qq "./$out/a/dovu-konfigurator_${version}_"*.deb "./$out/a/dovu-sim_${version}_"*.deb >/dev/null
trap apt_remove EXIT

# Control flow integrity is not asked for: Debian 12's C library start files (Scrt1.o, crti.o) lack
# the CET note, so no program linked on Debian 12 has it (/usr/bin/ls neither).
hardening-check --nocfprotection /usr/bin/dovu-konfig /usr/bin/dovu-cli /usr/bin/dovu-sim >&2 ||
  fail "hardening-check"

# The installed window starts, shows itself and leaves (the start-up benchmark's exit hook).
log=$(mktemp)
shown=$(cd / && QT_QPA_PLATFORM=offscreen DOVU_BENCH_EXIT_ON_SHOW=1 timeout 60 /usr/bin/dovu-konfig 2>"$log") ||
  { sort -u "$log" >&2; fail "dovu-konfig did not start"; }
[ "$shown" = "SHOWN 1" ] || { sort -u "$log" >&2; fail "dovu-konfig: the window did not show ($shown)"; }
rm -f "$log"
# Every --version without a display.
for p in dovu-konfig dovu-cli dovu-sim; do
  v=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "/usr/bin/$p" --version) || fail "$p --version"
  [ "$v" = "$p $version" ] || fail "$p --version gives '$v'"
done
for f in /usr/share/applications/dovu-konfig.desktop /usr/share/man/man1/dovu-konfig.1.gz \
         /usr/share/man/man1/dovu-cli.1.gz /usr/share/man/man1/dovu-sim.1.gz \
         /usr/share/bash-completion/completions/dovu-cli /usr/share/doc/dovu-konfigurator/copyright; do
  [ -f "$f" ] || fail "$f is not installed"
done

trap - EXIT
apt_remove
for p in dovu-konfig dovu-cli dovu-sim; do
  [ ! -e "/usr/bin/$p" ] || fail "removing the packages left /usr/bin/$p behind"
done
echo "package test: installed, started and removed" $debs >&2
