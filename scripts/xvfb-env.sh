# shellcheck shell=bash
# A virtual X display for the scripts that show the programs' windows.
# Source it, then:
#   xvfb_start LOGDIR   starts Xvfb on the first free display from 90 on,
#                       exports DISPLAY, sets xvfb_pid; its log goes to
#                       LOGDIR/xvfb.log; returns non-zero if it did not start
#   xvfb_stop           ends it
xvfb_pid=""

xvfb_start() {
  local log="$1/xvfb.log" display=90
  while [[ -e /tmp/.X11-unix/X$display || -e /tmp/.X$display-lock ]]; do ((++display)); done
  Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp </dev/null >"$log" 2>&1 &
  xvfb_pid=$!
  export DISPLAY=":$display"
  for _ in $(seq 100); do
    [[ -e /tmp/.X11-unix/X$display ]] && return 0
    sleep 0.05
  done
  echo "Xvfb did not start: $(cat "$log")" >&2
  return 1
}

xvfb_stop() {
  if [[ -n "$xvfb_pid" ]]; then kill "$xvfb_pid" 2>/dev/null || true; fi
  xvfb_pid=""
}
