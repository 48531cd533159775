#!/usr/bin/env bash
# Takes the pictures of the Windows dialog program for docs/:
#   docs/main-dialog.png      the main dialog with Serial Port chosen
#   docs/progress-window.png  the progress window during a font download
#                             into the emulated printer on COM1
# Quillon.exe runs under Wine on a virtual X display (Xvfb) with a Wine
# prefix of its own whose X11 driver leaves the windows unmanaged;
# quillon-drive.exe (the Windows build's test tool) plays the user and
# quillon-printer-sim of the Linux debug build is the printer behind COM1.
#
# Usage: scripts/screenshots.sh [MINGW_BUILD_DIR]   (default build/mingw)
# Needs the Windows build (cmake --preset mingw, with its tests) and the
# Linux debug build's quillon-printer-sim; installs Xvfb and ImageMagick
# with apt when they are missing.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

build="${1:-build/mingw}"
[[ "$build" == /* ]] || build="$root/$build"
exe="$build/app/Quillon.exe"
drive_exe="$build/tests/win32dlg/quillon-drive.exe"
sim="$root/build/debug/sim/quillon-printer-sim"
main_caption="Standard Model Quillon  Ver 2.02"
progress_caption="Quillon - On Transmission..."

fail() {
  echo "screenshots: $*" >&2
  exit 1
}

[[ -f "$exe" ]] || fail "no $exe (build the mingw preset)"
[[ -f "$drive_exe" ]] || fail "no $drive_exe (build the mingw preset with its tests)"
[[ -x "$sim" ]] || fail "no $sim (build the debug preset)"

scripts/install-deps.sh --windows --wine
missing=()
command -v Xvfb >/dev/null || missing+=(xvfb)
command -v import >/dev/null || missing+=(imagemagick)
# Wine's own fonts: MS Sans Serif for the dialogs, Marlett for the caption
# buttons.
[[ -f /usr/share/wine/fonts/marlett.ttf ]] || missing+=(fonts-wine)
if [[ ${#missing[@]} -gt 0 ]]; then
  echo "Installing: ${missing[*]}" >&2
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo="sudo"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi

# A prefix and a COM1 link of its own: the tests' prefix keeps its null
# graphics driver.
export WINEPREFIX="$root/build/wine-prefix-screens"
# shellcheck source=scripts/wine-env.sh
source scripts/wine-env.sh
# shellcheck source=scripts/xvfb-env.sh
source scripts/xvfb-env.sh
export QUILLON_WINE_COM1_LINK="$root/build/wine-com1-screens"

work="$(mktemp -d "${TMPDIR:-/tmp}/quillon-screens.XXXXXX")"
sim_pid=""
app_pid=""
cleanup() {
  for pid in "$app_pid" "$sim_pid"; do
    if [[ -n "$pid" ]]; then kill -KILL "$pid" 2>/dev/null || true; fi
  done
  wine_stop
  xvfb_stop
  ln -sfn /nonexistent "$QUILLON_WINE_COM1_LINK"
  rm -rf "$work"
}
trap cleanup EXIT

xvfb_start "$work" || fail "no virtual display"

# wine_start makes the prefix and maps COM1; then the X11 driver, with
# unmanaged windows (no window manager runs), takes over from the null one,
# and Wine's own fonts go where it looks for the system's (this Wine leaves
# them out of the prefix, and the dialogs would fall back to other fonts).
wine_start
fonts="$WINEPREFIX/drive_c/windows/Fonts"
mkdir -p "$fonts"
cp -n /usr/share/wine/fonts/* "$fonts/"
_wine_quiet reg delete 'HKCU\Software\Wine\Drivers' /v Graphics /f
_wine_quiet reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /t REG_SZ /d N /f
"$QUILLON_WINESERVER" -k
"$QUILLON_WINESERVER" -w
_wineserver_persistent
_wine_quiet cmd /c exit 0

drive() {
  "$QUILLON_WINE" "$drive_exe" "$@" </dev/null 2>"$work/drive.err" | tr -d '\r' ||
    fail "quillon-drive $*: $(cat "$work/drive.err")"
}

# The window `caption` on the screen, cropped, with few colours.
shoot() {
  local caption="$1" out="$2" x y w h
  read -r x y w h < <(drive rect "$caption")
  import -window root -crop "${w}x${h}+${x}+${y}" +repage -colors 64 "$out"
  echo "$out: ${w}x${h}, $(stat -c %s "$out") bytes" >&2
}

# The printer on COM1. It answers each frame 3 ms late, so that a sector
# takes long enough for a picture on the way.
"$sim" --answer-delay 3 --flash-out "$work/flash.bin" </dev/null >"$work/sim.out" 2>"$work/sim.err" &
sim_pid=$!
for _ in $(seq 200); do
  [[ -s "$work/sim.out" ]] && break
  sleep 0.05
done
pty="$(head -n 1 "$work/sim.out")"
[[ -c "$pty" ]] || fail "quillon-printer-sim gave no terminal: $(cat "$work/sim.err")"
ln -sfn "$pty" "$QUILLON_WINE_COM1_LINK"

# A font image large enough for a picture on the way.
head -c 300000 /dev/urandom >"$work/fonts.bin"
image="Z:${work//\//\\}\\fonts.bin"

(cd "$work" && exec "$QUILLON_WINE" "$exe" </dev/null >/dev/null 2>&1) &
app_pid=$!
drive wait "$main_caption" 20000

drive click "$main_caption" 1041 # Serial Port
sleep 1
shoot "$main_caption" docs/main-dialog.png

drive pick "$main_caption" 1013 COM1
drive pick "$main_caption" 1012 "US&EU FONT"
drive browse "$main_caption" 1020 "$image" # Browse...
drive click "$main_caption" 1 # FLASH NOW
drive wait "$progress_caption" 30000
# A sector on its way (the window shows what it has every 500 ms).
drive await "$progress_caption" 1021 1022 Downloading 25 75 120000
shoot "$progress_caption" docs/progress-window.png

result="$(drive box "$main_caption" 180000)"
[[ "$result" == "Download successfully completed!" ]] || fail "the download ended with '$result'"
drive click "$main_caption" 1030 # Exit
wait "$app_pid" || true
app_pid=""
kill -TERM "$sim_pid"
wait "$sim_pid" || true
sim_pid=""
echo "The download ended: $result" >&2
