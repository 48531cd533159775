# shellcheck shell=bash
# A virtual X display for the scripts that show the programs' windows.
# Source it, then:
#   xvfb_start DIR      starts Xvfb on a free display, exports DISPLAY, sets
#                       xvfb_pid; its log goes to DIR/xvfb.log; returns
#                       non-zero if it did not start
#   xvfb_stop           ends it
xvfb_pid=""

xvfb_start() {
  local log="$1/xvfb.log" number="$1/xvfb.display"
  # -displayfd: Xvfb takes a free display itself and writes its number once
  # it accepts connections (no race with a server that is just going).
  Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$number" </dev/null >"$log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 200); do
    if [[ -s "$number" ]]; then
      export DISPLAY=":$(head -n 1 "$number")"
      return 0
    fi
    kill -0 "$xvfb_pid" 2>/dev/null || break
    sleep 0.05
  done
  echo "Xvfb did not start: $(cat "$log")" >&2
  return 1
}

xvfb_stop() {
  if [[ -n "$xvfb_pid" ]]; then
    kill "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  xvfb_pid=""
}
