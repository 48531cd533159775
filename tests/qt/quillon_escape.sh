#!/usr/bin/env bash
# quillon itself on a virtual X display (Xvfb): its main dialog shows with
# its caption, Escape (a key press through the X server) ends it, and with no
# result shown the exit status is 255 (-1 as a process carries it).
# Usage: quillon_escape.sh QUILLON
set -euo pipefail
quillon="$1"
caption="Standard Model Quillon  Ver 2.02"
work="$(mktemp -d "${TMPDIR:-/tmp}/quillon-escape.XXXXXX")"
xvfb_pid=""
app_pid=""
cleanup() {
  for pid in "$app_pid" "$xvfb_pid"; do
    if [[ -n "$pid" ]]; then kill -KILL "$pid" 2>/dev/null || true; fi
  done
  rm -rf "$work"
}
trap cleanup EXIT

# -displayfd: Xvfb picks a free display and tells its number when ready.
Xvfb -displayfd 1 -screen 0 1024x768x24 -nolisten tcp </dev/null >"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 200); do
  [[ -s "$work/display" ]] && break
  sleep 0.05
done
[[ -s "$work/display" ]] || { echo "Xvfb did not start: $(cat "$work/xvfb.log")" >&2; exit 1; }
export DISPLAY=":$(head -n 1 "$work/display")"

XDG_RUNTIME_DIR="$work" QT_QPA_PLATFORM=xcb "$quillon" </dev/null >"$work/out" 2>&1 &
app_pid=$!
window=""
for _ in $(seq 200); do
  window="$(xdotool search --name "^${caption}\$" 2>/dev/null | head -n 1 || true)"
  [[ -n "$window" ]] && break
  sleep 0.05
done
[[ -n "$window" ]] || { echo "no window '$caption': $(cat "$work/out")" >&2; exit 1; }
echo "shown: $(xdotool getwindowname "$window")"
xdotool windowfocus --sync "$window"
xdotool key Escape
status=0
wait "$app_pid" || status=$?
app_pid=""
echo "exit status: $status"
[[ "$status" -eq 255 ]] || cat "$work/out" >&2
[[ "$status" -eq 255 ]]
