# shellcheck shell=bash disable=SC2034  # sets variables for the scripts that source it
# Shared parts of the benchmark scripts: the build, the timing tool and one
# timed run of quillon-flash. Source it; it uses the caller's `die`.

# bench_build BUILD_DIR SOURCE_DIR TARGET...: configures BUILD_DIR (release)
# when it is new, then builds the targets.
bench_build() {
  local build_dir="$1" source_dir="$2"
  shift 2
  if [[ ! -f "$build_dir/CMakeCache.txt" ]]; then
    echo "configuring $build_dir" >&2
    (cd "$source_dir" && cmake --preset release -B "$build_dir" >&2) || die "configuration failed"
  fi
  cmake --build "$build_dir" -j2 --target "$@" >&2 || die "build failed"
}

# bench_timing_tool: sets gnu_time, and proc_timing=1 when /usr/bin/time is
# missing and cannot be installed (apt-get, as root).
bench_timing_tool() {
  gnu_time=/usr/bin/time
  if ((!proc_timing)) && [[ ! -x "$gnu_time" ]]; then
    if ((EUID == 0)) && command -v apt-get >/dev/null; then
      echo "installing the time package" >&2
      apt-get install -y time >&2 || true
    fi
    [[ -x "$gnu_time" ]] || {
      echo "no /usr/bin/time: measuring through /proc" >&2
      proc_timing=1
    }
  fi
}

# bench_timed_run DIR LIMIT_S COMMAND...: runs the command with its output in
# DIR/flash.out and DIR/flash.err and sets t0 and t1 (wall clock, s),
# flash_rc, user_s, sys_s and peak_kib.
bench_timed_run() {
  local dir="$1" limit_s="$2"
  shift 2
  peak_kib=0
  user_s=""
  sys_s=""
  set +e
  if ((!proc_timing)); then
    t0="$EPOCHREALTIME"
    timeout "$limit_s" "$gnu_time" -o "$dir/time.txt" -f '%U %S %M %x' \
      "$@" >"$dir/flash.out" 2>"$dir/flash.err"
    flash_rc=$?
    t1="$EPOCHREALTIME"
    read -r user_s sys_s peak_kib _ < <(tail -n 1 "$dir/time.txt") || true
  else
    # CPU time from the shell's account of its children, peak memory from the
    # program's VmHWM sampled every 20 ms (it only grows: the last sample is
    # the peak).
    descendants() { # pid: the pids below it
      local c
      for c in $(pgrep -P "$1" 2>/dev/null); do echo "$c"; descendants "$c"; done
    }
    TIMEFORMAT='%3U %3S'
    t0="$EPOCHREALTIME"
    {
      { time timeout "$limit_s" "$@" >"$dir/flash.out" 2>"$dir/flash.err"; } 2>"$dir/cpu.txt"
      rc=$?
      echo "$EPOCHREALTIME" >"$dir/end.txt"
      exit "$rc"
    } &
    local job_pid=$! p key value
    while kill -0 "$job_pid" 2>/dev/null; do
      for p in $(descendants "$job_pid"); do
        [[ "$(cat "/proc/$p/comm" 2>/dev/null)" == quillon-flash ]] || continue
        while read -r key value _; do
          if [[ "$key" == VmHWM: ]] && ((value > peak_kib)); then peak_kib=$value; fi
        done 2>/dev/null <"/proc/$p/status"
      done
      sleep 0.02
    done
    wait "$job_pid"
    flash_rc=$?
    t1="$(cat "$dir/end.txt" 2>/dev/null || echo "$EPOCHREALTIME")"
    read -r user_s sys_s < <(tail -n 1 "$dir/cpu.txt") || true
  fi
  set -e
}
