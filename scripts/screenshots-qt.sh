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
# Installs Xvfb with apt when it is missing (scripts/install-deps.sh).
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
scripts/install-deps.sh --display

work="$(mktemp -d "${TMPDIR:-/tmp}/quillon-qt-screens.XXXXXX")"
# shellcheck source=scripts/xvfb-env.sh
source scripts/xvfb-env.sh
cleanup() {
  xvfb_stop
  rm -rf "$work"
}
trap cleanup EXIT

xvfb_start "$work" || fail "no virtual display"

# A font image large enough for a picture on the way; the printer answers
# each frame 3 ms late, so that a sector takes a moment.
head -c 300000 /dev/urandom >"$work/fonts.bin"
QT_QPA_PLATFORM=xcb XDG_RUNTIME_DIR="$work" \
  QUILLON_COM1="sim:delay=3" "$tool" "$root/docs" "$work/fonts.bin" </dev/null
