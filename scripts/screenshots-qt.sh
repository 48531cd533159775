#!/usr/bin/env bash
# Takes the pictures of the Linux dialog program (quillon) for docs/:
#   docs/linux-main-dialog.png      the main dialog with Serial Port chosen
#   docs/linux-progress-window.png  the progress window during a font download
#                                   into the built-in emulated printer on COM1
# The program runs on a virtual X display (Xvfb, Qt's xcb platform) under
# quillon-qt-screens (a tool of the debug build's tests), which plays the
# user with real mouse and key events and grabs the windows.
#
# Usage: scripts/screenshots-qt.sh [DEBUG_BUILD_DIR]   (default build/debug)
# Installs Xvfb with apt when it is missing.
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

build="${1:-build/debug}"
[[ "$build" == /* ]] || build="$root/$build"
tool="$build/tests/qt/quillon-qt-screens"

fail() {
  echo "screenshots-qt: $*" >&2
  exit 1
}

[[ -x "$tool" ]] || fail "no $tool (build the debug preset with its tests)"
if ! command -v Xvfb >/dev/null; then
  echo "Installing: xvfb" >&2
  sudo=""
  [[ $(id -u) -eq 0 ]] || sudo="sudo"
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends xvfb >/dev/null
fi

work="$(mktemp -d "${TMPDIR:-/tmp}/quillon-qt-screens.XXXXXX")"
xvfb_pid=""
cleanup() {
  if [[ -n "$xvfb_pid" ]]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT

# The virtual display: the first free number from 90 on.
display=90
while [[ -e /tmp/.X11-unix/X$display || -e /tmp/.X$display-lock ]]; do ((++display)); done
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp </dev/null >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
  [[ -e /tmp/.X11-unix/X$display ]] && break
  sleep 0.05
done
[[ -e /tmp/.X11-unix/X$display ]] || fail "Xvfb did not start: $(cat "$work/xvfb.log")"

# A font image large enough for a picture on the way; the printer answers
# each frame 3 ms late, so that a sector takes a moment.
head -c 300000 /dev/urandom >"$work/fonts.bin"
DISPLAY=":$display" QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work" \
  QUILLON_COM1="sim:delay=3" "$tool" "$root/docs" "$work/fonts.bin" </dev/null
