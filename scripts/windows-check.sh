#!/usr/bin/env bash
# Configures the Windows branch of the CMake files on Linux (mingw-w64 for the compiler, a stand-in
# for Qt, which Debian has only for Linux) and checks the install rules and the CPack settings it
# generates: a target that does not exist on Windows, a wrong argument to Qt's deploy script or a
# missing Start-menu entry fails here.  Nothing is built.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh --package
fail() { echo "windows check: $*" >&2; exit 1; }
stub="$PWD/packaging/windows-check"

# Qt 6.4 and 6.5 name the deploy script's output differently.
for qt in 6.4.3 6.5.3; do
  out=build/windows-check-$qt
  rm -rf "$out"
  PKG_CONFIG_LIBDIR="$stub" cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE="$PWD/tests/win32/mingw-w64.cmake" \
    -DQt6_DIR="$stub/qt6" -DQT_STUB_VERSION=$qt >"$out.log" 2>&1 ||
    { cat "$out.log" >&2; fail "configuring for Windows with Qt $qt failed"; }
  grep -q "CMake Warning" "$out.log" && { cat "$out.log" >&2; fail "warnings configuring for Windows with Qt $qt"; }

  rules=$(cat "$out"/cmake_install.cmake "$out"/*/cmake_install.cmake "$out"/*/*/cmake_install.cmake 2>/dev/null)
  for want in 'bin" TYPE EXECUTABLE FILES "[^"]*/dovu-cli.exe"' 'bin" TYPE EXECUTABLE FILES "[^"]*/dovu-konfig.exe"' \
              'include("[^"]*/.qt/deploy_dovu-konfig.cmake")' 'plugins/platforms/qwindows' 'translations/qt_pl.qm' \
              'LICENSE.txt'; do
    grep -q "$want" <<<"$rules" || fail "Qt $qt: the install rules lack $want"
  done
  for unwanted in dovu-sim dovu-screenshot share/man share/applications share/metainfo; do
    ! grep -q "$unwanted" <<<"$rules" || fail "Qt $qt: the Windows install rules name $unwanted"
  done
  cpack="$out/CPackConfig.cmake"
  grep -q 'set(CPACK_PACKAGE_EXECUTABLES "dovu-konfig;DOVU Konfigurator")' "$cpack" || fail "no Start-menu entry"
  grep -q 'set(CPACK_NSIS_EXECUTABLES_DIRECTORY "bin")' "$cpack" || fail "the Start-menu entry does not point into bin"
  grep -q 'set(CPACK_RESOURCE_FILE_LICENSE "[^"]*/LICENSE")' "$cpack" || fail "no licence in the installer"
  rm -rf "$out" "$out.log"
done
echo "windows check: the Windows install rules and CPack settings configure with Qt 6.4 and 6.5" >&2
