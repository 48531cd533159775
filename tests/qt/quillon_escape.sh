#!/usr/bin/env bash
# quillon itself on a virtual X display (Xvfb): its main dialog shows with
# its caption, Escape (a key press through the X server) ends it, and with no
# result shown the exit status is 255 (-1 as a process carries it).
# Usage: quillon_escape.sh QUILLON
set -euo pipefail
quillon="$1"
caption="Standard Model Quillon  Ver 2.02"
work="$(mktemp -d "${TMPDIR:-/tmp}/quillon-escape.XXXXXX")"
# shellcheck source=scripts/xvfb-env.sh
source "$(dirname "$0")/../../scripts/xvfb-env.sh"
app_pid=""
cleanup() {
  if [[ -n "$app_pid" ]]; then kill -KILL "$app_pid" 2>/dev/null || true; fi
  xvfb_stop
  rm -rf "$work"
}
trap cleanup EXIT

xvfb_start "$work"

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
