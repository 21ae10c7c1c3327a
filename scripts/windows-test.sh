#!/usr/bin/env bash
# The Windows stage: cross-builds dovu-konfig.exe and dovu-cli.exe against Qt for Windows (warnings
# as errors), makes the install tree, the NSIS installer and the ZIP, installs the installer
# silently into a fresh wine prefix and runs the installed programs there against simulated
# controllers on COM ports mapped to pseudo-terminals.  Needs the Linux build (for dovu-sim and the
# Linux dovu-cli, which reads the files back) first.
# Usage: scripts/windows-test.sh [LINUX_BUILD_DIR]   (default build/default)
# Qt for Windows: DOVU_WINQT (the tarball), else ../shared/winqt/qt-*-mingw-x86_64.tar.xz beside
# the clone or one folder further up.
set -euo pipefail
cd "$(dirname "$0")/.."
started=$SECONDS
linux="${1:-build/default}"
sim="$linux/tools/dovu-sim"
lcli="$linux/tools/dovu-cli"
[ -x "$sim" ] && [ -x "$lcli" ] || { echo "windows-test: $sim or $lcli is missing: build first" >&2; exit 1; }

tarball=${DOVU_WINQT:-}
if [ -z "$tarball" ]; then
  for d in ../shared/winqt ../../shared/winqt; do
    for t in "$d"/qt-*-mingw-x86_64.tar.xz; do [ -f "$t" ] && tarball=$t && break 2; done
  done
fi
if [ -z "$tarball" ] || [ ! -f "$tarball" ]; then
  echo "windows-test: no Qt for Windows (set DOVU_WINQT to its tarball; README \"Building on Windows\" says how to make one)" >&2
  [ -n "${CI:-}" ] && exit 1
  exit 0
fi
scripts/deps.sh --wine --windows

say() { printf 'windows-test: %s\n' "$*" >&2; }
fail() { say "FAILED: $*"; exit 1; }
passed=0
ok() { passed=$((passed + 1)); say "ok: $*"; }

# ---- build -------------------------------------------------------------------------------------
qtdir=build/winqt
qtname=$(basename "$tarball" .tar.xz)
if [ ! -f "$qtdir/$qtname/.unpacked" ] || [ "$tarball" -nt "$qtdir/$qtname/.unpacked" ]; then
  rm -rf "${qtdir:?}/$qtname"
  mkdir -p "$qtdir"
  tar -C "$qtdir" -xJf "$tarball"
  touch "$qtdir/$qtname/.unpacked"
fi
out=build/windows
cmake -S . -B "$out" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_COMPILE_WARNING_AS_ERROR=ON \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/$qtdir/$qtname/lib/cmake/Qt6/qt.toolchain.cmake" >"$out.configure.log" 2>&1 ||
  { cat "$out.configure.log" >&2; fail "configuring for Windows"; }
! grep -q "CMake Warning" "$out.configure.log" || { cat "$out.configure.log" >&2; fail "warnings configuring for Windows"; }
cmake --build "$out" -j "$(nproc)"
cmake --build "$out" -j "$(nproc)" --target dovu-qt-language
rm -rf "$out/tree" "$out"/dovu-konfigurator-*-win64.*
cmake --install "$out" --prefix "$PWD/$out/tree" >"$out.install.log" 2>&1 ||
  { cat "$out.install.log" >&2; fail "the install tree"; }
# The install's import check fails on a tree that lacks a DLL a program imports.
rm -rf "$out/tree-lacking" && cp -r "$out/tree" "$out/tree-lacking" && rm "$out/tree-lacking/bin/Qt6Charts.dll"
if cmake -DCMAKE_INSTALL_PREFIX="$PWD/$out/tree-lacking" -DDOVU_OBJDUMP=x86_64-w64-mingw32-objdump \
     -P packaging/windows/check-imports.cmake >"$out.lacking.log" 2>&1; then
  fail "the import check passed a tree without Qt6Charts.dll"
fi
grep 'qt6charts.dll (imported by bin/dovu-konfig.exe)' "$out.lacking.log" >/dev/null ||
  { cat "$out.lacking.log" >&2; fail "the import check did not name the missing DLL"; }
rm -rf "$out/tree-lacking"
ok "the install checks the imports: a tree without Qt6Charts.dll is refused"

# Each program carries the version resource of project(VERSION) and the icon.
version=$(sed -n 's/^project(dovu-konfigurator VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
for exe in dovu-cli dovu-konfig; do
  strings -el "$out/tree/bin/$exe.exe" | grep -x "$version" >/dev/null || fail "$exe.exe has no version resource $version"
  x86_64-w64-mingw32-objdump -h "$out/tree/bin/$exe.exe" | grep '\.rsrc' >/dev/null || fail "$exe.exe has no resources"
done
ok "the programs carry version $version and the icon"

# ---- wine (its prefix boots while the packages are made) ------------------------------------
wine=/usr/lib/wine/wine64
server=/usr/lib/wine/wineserver
work=$(mktemp -d)
export WINEPREFIX="$work/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
export DOVU_SIM_DIR="$work/sims"  # the simulators advertise nowhere the user's programs look
pids=()
xvfb=""
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  "$server" -k 2>/dev/null || true
  [ -z "$xvfb" ] || kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# The fresh prefix boots (most of a minute the first time) while the packages are made, the
# installer (one core: makensis) beside the ZIP.
"$wine" wineboot -i >"$work/wineboot.log" 2>&1 &
boot=$!
(cd "$out" && cpack -G ZIP >cpack-zip.log 2>&1) &
zipper=$!
(cd "$out" && cpack -G NSIS >cpack-nsis.log 2>&1) || { cat "$out/cpack-nsis.log" >&2; fail "cpack -G NSIS"; }
wait "$zipper" || { cat "$out/cpack-zip.log" >&2; fail "cpack -G ZIP"; }
installer=$(ls "$out"/dovu-konfigurator-*-win64.exe)
zip=$(ls "$out"/dovu-konfigurator-*-win64.zip)
say "built in $((SECONDS - started)) s: $installer ($(stat -c %s "$installer") bytes), $zip ($(stat -c %s "$zip") bytes)"
# The ZIP holds the same tree as the install.
diff <(cd "$out/tree" && find . -type f | sort) \
     <(unzip -Z1 "$zip" | grep -v '/$' | sed 's|^[^/]*/|./|' | sort) >&2 || fail "the ZIP differs from the install tree"
ok "the ZIP holds the install tree"
# Anyone may install it: an administrator for all users, anyone else for themselves alone.
grep -aq 'requestedExecutionLevel level="highestAvailable"' "$installer" ||
  fail "the installer asks for administrator rights: a user without them cannot install it"
ok "the installer installs for all users or for the user alone, by the user's rights"

# Starts a simulator with the given options into sim_port: its pseudo-terminal, from the first
# line it prints.
start_sim() {
  local n=${#pids[@]} fd line
  mkfifo "$work/sim$n.out"
  "$sim" --no-advertise "$@" >"$work/sim$n.out" 2>"$work/sim$n.err" &
  pids+=($!)
  exec {fd}<"$work/sim$n.out"
  sim_port=""
  read -r -t 10 line <&"$fd" && sim_port=${line#PORT }
  [ -n "$sim_port" ] || { cat "$work/sim$n.err" >&2; fail "dovu-sim $* did not start"; }
}
mkdir -p "$work/files"
start_sim --dump "$work/dump" --image-out "$work/image" --log "$work/frames.log"; healthy=$sim_port
start_sim --refuse-password; refusing=$sim_port

wait "$boot" || { cat "$work/wineboot.log" >&2; fail "wineboot"; }
"$wine" reg add 'HKLM\Software\Wine\Ports' /v COM5 /t REG_SZ /d "$healthy" /f >/dev/null
"$wine" reg add 'HKLM\Software\Wine\Ports' /v COM6 /t REG_SZ /d "$refusing" /f >/dev/null
"$server" -k
"$server" -p 2>/dev/null

# The installer, silently, into the 64-bit program folder.
t=$SECONDS
timeout 120 "$wine" "Z:$PWD/$installer" /S || fail "the installer ended with $?"
prog="$WINEPREFIX/drive_c/Program Files/DOVU Konfigurator"
[ -f "$prog/bin/dovu-cli.exe" ] && [ -f "$prog/bin/dovu-konfig.exe" ] || fail "the installer put no programs in $prog"
"$wine" reg query 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\DOVU Konfigurator' /v DisplayVersion |
  grep "$version" >/dev/null ||
  fail "no uninstall entry with the version"
[ -f "$prog/Uninstall.exe" ] || fail "no uninstaller"
ok "installed silently in $((SECONDS - t)) s, registered with its version"

cli() { timeout 120 "$wine" 'C:\Program Files\DOVU Konfigurator\bin\dovu-cli.exe' "$@"; }
winpath() { echo "Z:$1" | tr / '\\'; }

said=$(cli --version | tr -d '\r')
[ "$said" = "dovu-cli $version" ] || fail "--version said '$said'"
ok "--version: $said"

cli ports | tr -d '\r' >"$work/ports"
grep -q "^COM5"$'\t' "$work/ports" && grep -q "^COM6"$'\t' "$work/ports" || { cat "$work/ports" >&2; fail "ports lacks COM5 or COM6"; }
ok "ports lists the mapped COM5 and COM6"

# Download; the Linux tool, checked against the simulator's dump by the Linux tests, reads the same
# controller as the oracle.
cli download --port COM5 -o "$(winpath "$work/files/a.json")" 2>"$work/err" || { cat "$work/err" >&2; fail "download"; }
"$lcli" download --port "$healthy" -o "$work/files/oracle.json" 2>/dev/null || fail "the Linux download"
"$lcli" diff "$work/files/a.json" "$work/files/oracle.json" >&2 || fail "the Windows download differs from the controller"
ok "download to JSON equals the controller"

# Upload of a changed file (the backup before it goes to the user's application data), then
# download again.
# The first telephone: the line after "telephones": [.
sed '/"telephones": *\[/{n;s/"[^"]*"/"600100200"/}' "$work/files/a.json" >"$work/files/b.json"
! cmp -s "$work/files/a.json" "$work/files/b.json" || fail "the test could not change telephones[0]"
dump_before=$(cat "$work/dump")
cli upload --port COM5 "$(winpath "$work/files/b.json")" 2>"$work/err" || { cat "$work/err" >&2; fail "upload"; }
[ "$(cat "$work/dump")" != "$dump_before" ] || fail "the upload changed nothing on the controller"
cli download --port COM5 -o "$(winpath "$work/files/c.json")" 2>"$work/err" || { cat "$work/err" >&2; fail "download after upload"; }
"$lcli" diff "$work/files/b.json" "$work/files/c.json" >&2 || fail "the downloaded file differs from the uploaded one"
ls "$WINEPREFIX"/drive_c/users/*/AppData/Roaming/dovu-konfig/backups/*.dvc >/dev/null 2>&1 ||
  fail "no backup in the user's application data"
ok "upload of a changed file, downloaded again equal; the backup in AppData"

# Firmware: the image the simulator's bootloader received equals the file's.
n=3000
{
  printf 'dvf'
  x=$((0x64 ^ 0x76 ^ 0x66))
  for ((i = 0; i < n; i++)); do b=$(((i * 7) & 255)); x=$((x ^ b)); printf "\\$(printf %03o $b)"; done
  printf "\\$(printf %03o $x)"
} >"$work/files/fw.dvf"
cli flash --no-backup --port COM5 "$(winpath "$work/files/fw.dvf")" 2>"$work/err" || { cat "$work/err" >&2; fail "flash"; }
for _ in $(seq 100); do [ -s "$work/image" ] && break; sleep 0.1; done
{ tail -c +4 "$work/files/fw.dvf" | head -c $n; head -c $((24 * 128 - n)) /dev/zero | tr '\0' '\377'; } >"$work/files/expected.img"
cmp "$work/image" "$work/files/expected.img" >&2 || fail "the simulator's image differs from the firmware file"
ok "firmware update: the controller's image equals the file"

# A save onto a read-only file is refused and the old file stays.
cp "$work/files/a.json" "$work/files/ro.json"
chmod 444 "$work/files/ro.json"
sum=$(sha256sum <"$work/files/ro.json")
if cli download --port COM5 -o "$(winpath "$work/files/ro.json")" 2>"$work/err"; then fail "a save onto a read-only file succeeded"; fi
[ "$(sha256sum <"$work/files/ro.json")" = "$sum" ] || fail "the read-only file changed"
[ -s "$work/err" ] || fail "no reason given for the refused save"
ls "$work/files" | grep '^ro\.json\.' >/dev/null && fail "a temporary file was left beside the read-only file"
grep -q "the file is read-only" "$work/err" || { cat "$work/err" >&2; fail "the refusal is not worded in the tool's English"; }
ok "save onto a read-only file refused ($(tr -d '\r' <"$work/err" | head -1)), old file intact"

# A refused password: a clear failure, no file.
if cli download --port COM6 -o "$(winpath "$work/files/refused.json")" 2>"$work/err"; then fail "a refused login succeeded"; fi
[ ! -e "$work/files/refused.json" ] || fail "a refused login left a file"
grep -qi "password" "$work/err" || { cat "$work/err" >&2; fail "the refused login's message does not name the password"; }
ok "refused password: $(tr -d '\r' <"$work/err" | head -1)"

# Ctrl+C (wine hands SIGINT to the console's control handler) ends a status stream in order: the
# session logs out (the last frame from the tool is code 2) and the tool ends with status 0.
"$wine" 'C:\Program Files\DOVU Konfigurator\bin\dovu-cli.exe' status --port COM5 --json >"$work/status" 2>"$work/err" &
st=$!
for _ in $(seq 150); do [ -s "$work/status" ] && break; sleep 0.2; done
[ -s "$work/status" ] || fail "status --json printed nothing"
kill -INT "$st"
code=0
wait "$st" || code=$?
[ "$code" = 0 ] || { cat "$work/err" >&2; fail "status ended with $code after Ctrl+C"; }
grep ' > ' "$work/frames.log" | tail -1 | grep ' code 2$' >/dev/null || fail "no logout after Ctrl+C"
ok "Ctrl+C ends a status stream after the logout"

# ---- the window --------------------------------------------------------------------------------
# dovu-konfig.exe with the windows platform plugin on an X server of its own, driven by keys and
# clicks through the X server as a person would.
mkfifo "$work/xdisplay"
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$work/xdisplay" >"$work/xvfb.log" 2>&1 &
xvfb=$!
display=""
read -r -t 20 display <"$work/xdisplay" || true
[ -n "$display" ] || { cat "$work/xvfb.log" >&2; fail "Xvfb did not start"; }
export DISPLAY=":$display"
# The wine session so far started without an X server: its desktop process would keep the window
# off the screen.  A new session starts with the window, on this display.
"$server" -k 2>/dev/null || true
"$server" -w 2>/dev/null || true
# Qt's own buttons (its dialogs' Cancel, Yes, No, Close) in Polish, from the translations the
# installer put beside the program: a check program run for a moment in the installed folder.
cp "$out/src/ui/dovu-qt-language.exe" "$prog/bin/"
buttons=$(timeout 60 "$wine" 'C:\Program Files\DOVU Konfigurator\bin\dovu-qt-language.exe' 2>"$work/qtlang.err" | tr -d '\r') ||
  { cat "$work/qtlang.err" >&2; fail "Qt's own buttons are not Polish in the installed program: $buttons"; }
rm -f "$prog/bin/dovu-qt-language.exe"
ok "Qt's own buttons read Polish in the installed program: $buttons"
# Waits up to $1 seconds for the command after it to succeed.
within() {
  local until=$((SECONDS + $1))
  shift
  until "$@"; do
    [ $SECONDS -lt $until ] || return 1
    sleep 0.2
  done
}
window() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -1; }
has_window() { [ -n "$(window "$1")" ]; }
no_window() { ! has_window "$1"; }

# The configuration sheet: dovu-cli.exe lays it out with the system's fonts (the windows platform)
# and the PDF holds its Polish text.
cli report "$(winpath "$work/files/a.json")" -o "$(winpath "$work/files/sheet.pdf")" 2>"$work/err" ||
  { cat "$work/err" >&2; fail "report"; }
pdftotext "$work/files/sheet.pdf" - | grep "sterownika DOVU" >/dev/null ||
  fail "the sheet's PDF lacks its title"
pdftotext "$work/files/sheet.pdf" - | grep "Wejście" >/dev/null || fail "the sheet's PDF lacks its Polish letters"
ok "report: the sheet's PDF holds its Polish text"

key() { xdotool key "$@" 2>/dev/null; }
# The simulator's frames since the window started: whether the session logged in and read the
# whole configuration (its last read code is 104).
frames_from=$(($(wc -l <"$work/frames.log") + 1))
answered() { tail -n +"$frames_from" "$work/frames.log" | grep "^[0-9]* < .* code $1\$" >/dev/null; }
# A picture of the screen for a person to look at (the last run's stay in build/windows).
shot() { xwd -root -silent >"$out/wine-$1.xwd" 2>/dev/null || true; }

# Wine draws no text in line edits with Qt's GDI font engine (labels and buttons are drawn); the
# FreeType engine, which Qt for Windows also has, shows them.  Real Windows needs neither option.
t=$SECONDS
"$wine" 'C:\Program Files\DOVU Konfigurator\bin\dovu-konfig.exe' -platform windows:fontengine=freetype \
  >"$work/gui.out" 2>"$work/gui.err" &
gui=$!
within 90 has_window '^DOVU Konfigurator v ' || {
  shot start
  cat "$work/gui.err" "$work/xvfb.log" >&2
  say "DISPLAY=$DISPLAY; windows: $(xdotool search --name '.' getwindowname %@ 2>/dev/null | tr '\n' '|')"
  fail "no main window within 90 s (pictures in $out)"
}
main=$(window '^DOVU Konfigurator v ')
ok "the main window is up in $((SECONDS - t)) s: $(xdotool getwindowname "$main")"
sleep 2  # the first paint: only the picture depends on it
shot started

# The port list: COM5 picked from the combo box's pop-up by typing its name, then POŁĄCZ.  The
# positions are the combo box's and the button's in the window's connection panel.
xdotool mousemove --window "$main" 262 40 click 1 2>/dev/null
sleep 1
xdotool type --delay 50 COM5 2>/dev/null
key Return
sleep 0.5
xdotool mousemove --window "$main" 545 40 click 1 2>/dev/null
within 30 answered 1 || { shot login; fail "the window did not log in on COM5 (pictures in $out)"; }
ok "the window lists COM5 and logs in through it"

# Dane → Odczyt by its keys; then the configuration saved through the file dialog (Ctrl+S).
key alt+d
sleep 0.5
key o
within 60 answered 104 || { shot download; fail "the window did not download the configuration"; }
sleep 1
# Plik → "Porównaj ze sterownikiem…" reads the controller again and shows the comparison.
frames_from=$(($(wc -l <"$work/frames.log") + 1))
key alt+p
sleep 0.5
key s
within 60 has_window '^Porównanie ze sterownikiem$' || { shot compare; fail "no comparison with the controller"; }
answered 104 || { shot compare; fail "the comparison did not read the controller"; }
key Escape
within 10 no_window '^Porównanie ze sterownikiem$' ||
  { shot compare; fail "the comparison did not close on Escape"; }
ok "compare: the window reads the controller and shows the comparison"
# Ctrl+P: the sheet's options, then the print preview, both closed again.
key ctrl+p
within 20 has_window '^Karta konfiguracji$' || { shot print; fail "no sheet options on Ctrl+P"; }
sleep 0.5
key Return
within 30 has_window '^Podgląd wydruku$' || { shot print; fail "no print preview"; }
sleep 1
shot preview
key Escape
within 10 no_window '^Podgląd wydruku$' ||
  { shot print; fail "the print preview did not close on Escape"; }
ok "print: the sheet's options and its print preview open and close"
save_as() {
  key ctrl+s
  within 20 has_window '^Zapis$' || { shot save; fail "no save dialog"; }
  sleep 1
  xdotool type --delay 20 "$(winpath "$1")" 2>/dev/null
  key Return
  within 20 test -s "$1" || { shot save; fail "the window saved no $1"; }
}
save_as "$work/files/window.dvc"
shot downloaded

# Undo: a file opened into the window (Ctrl+O), saved as it shows it, then Edycja → Cofnij takes the
# opening back and the window saves what the controller holds again.
"$lcli" convert "$work/files/a.json" "$work/files/other.dvc" 2>/dev/null || fail "converting the file to open"
key ctrl+o
within 20 has_window '^Odczyt$' || { shot open; fail "no open dialog on Ctrl+O"; }
sleep 1
xdotool type --delay 20 "$(winpath "$work/files/other.dvc")" 2>/dev/null
key Return
# The window says the file was read, in a box of its own.
within 20 has_window '^DOVU Konfigurator$' || { shot open; fail "no word that the file was read"; }
sleep 0.5
key Return
within 10 no_window '^DOVU Konfigurator$' ||
  { shot open; fail "the box did not close on Enter"; }
save_as "$work/files/opened.dvc"
"$lcli" diff "$work/files/other.dvc" "$work/files/opened.dvc" >&2 || fail "the window does not show the file it opened"
key ctrl+z
sleep 1
save_as "$work/files/undone.dvc"
"$lcli" diff "$work/files/window.dvc" "$work/files/undone.dvc" >&2 || fail "undo did not take the opened file back"
ok "undo: a file opened into the window is taken back by Ctrl+Z"

# Closed by Alt+F4: the program ends by itself, with status 0.
key alt+F4
within 30 bash -c "! kill -0 $gui 2>/dev/null" || { shot close; fail "the window did not end within 30 s of Alt+F4"; }
code=0
wait "$gui" || code=$?
[ "$code" = 0 ] || { cat "$work/gui.err" >&2; fail "dovu-konfig.exe ended with status $code"; }
"$lcli" download --port "$healthy" -o "$work/files/after-window.json" 2>/dev/null || fail "the Linux download after the window"
"$lcli" diff "$work/files/window.dvc" "$work/files/after-window.json" >&2 || fail "the window's download differs from the controller"
ok "the window downloaded what the controller holds, saved it and ended cleanly"

say "$passed passed, 0 failed in $((SECONDS - started)) s"
