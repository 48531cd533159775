# shellcheck shell=bash disable=SC2034  # sets variables for the scripts that source it
# What the benchmark scripts share: the common options, the build, the
# timing tool, the image, one timed run of quillon-flash, the checks of its
# result and of the flash dump, and the common lines of the report. Source it
# and call bench_init first; it uses the caller's `usage`.

# bench_init NAME: names the script in messages, sets source_dir and the common options' defaults.
bench_init() {
  bench_name="$1"
  # Benchmark runs stay out of the download history and the system log.
  export QUILLON_HISTORY=off
  source_dir="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
  build_dir="$source_dir/build/release"
  sectors=4
  do_build=1
  proc_timing=0
}

# bench_usage SCRIPT FIRST_OPTIONS PROGRAMS NO_BUILD: prints the usage text with the script's own lines.
bench_usage() {
  cat <<EOF
usage: bench/$1.sh [options]

$2  --build-dir DIR   build tree holding $3
                    (default: build/release of the source tree)
  --sectors N       size of the main firmware image in 64 KiB sectors, 1..65 (default 4)
  --no-build        use $4, do not run the build
  --proc-timing     measure CPU time and memory with bash and /proc instead of
                    /usr/bin/time
  -h, --help        this text
EOF
}

# die MESSAGE...: prints the message with the script's name and exits 1.
die() { echo "$bench_name: $*" >&2; exit 1; }

# bench_option ARG...: takes the common option heading ARG..., bench_shift = words used.
bench_option() {
  bench_shift=1
  case "$1" in
    --build-dir) build_dir="${2:?--build-dir needs a directory}"; bench_shift=2 ;;
    --sectors) sectors="${2:?--sectors needs a number}"; bench_shift=2 ;;
    --no-build) do_build=0 ;;
    --proc-timing) proc_timing=1 ;;
    -h | --help) usage; exit 0 ;;
    *) echo "$bench_name: unknown option $1" >&2; usage >&2; exit 2 ;;
  esac
}

# bench_check_sectors: exits 2 unless --sectors is 1..65 (sectors 6 to 70 are 64 KiB each).
bench_check_sectors() {
  if ! [[ "$sectors" =~ ^[0-9]+$ ]] || ((sectors < 1 || sectors > 65)); then
    echo "$bench_name: --sectors must be 1..65" >&2
    exit 2
  fi
}

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

# bench_programs PATH...: builds these programs of build_dir, checks them, picks the timing tool.
bench_programs() {
  local path
  if ((do_build)); then bench_build "$build_dir" "$source_dir" "${@##*/}"; fi
  for path in "$@"; do
    [[ -x "$build_dir/$path" ]] || die "no $build_dir/$path (build it or drop --no-build)"
  done
  bench_timing_tool
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

# bench_image DIR: writes a random image of $sectors 64 KiB sectors, sets image and image_bytes.
bench_image() {
  local sector_bytes=65536
  image_bytes=$((sectors * sector_bytes))
  image="$1/image.mfw"
  head -c "$image_bytes" /dev/urandom >"$image"
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

# bench_check_result DIR WHAT: sets result_line, and failed=1 unless WHAT printed result 1.
bench_check_result() {
  local dir="$1" what="$2"
  result_line="$(tail -n 1 "$dir/flash.out" 2>/dev/null || true)"
  if ((flash_rc != 0)); then
    echo "$bench_name: $what exited with status $flash_rc" >&2
    sed 's/^/  /' "$dir/flash.err" >&2 || true
    failed=1
  fi
  if [[ "$result_line" != "result 1:"* ]]; then
    echo "$bench_name: last output line is not result 1: '$result_line'" >&2
    failed=1
  fi
}

# bench_erased FILE OFFSET LENGTH: true when those bytes of FILE are all 0xFF.
bench_erased() {
  cmp -s -n "$3" <(head -c "$3" /dev/zero | tr '\0' '\377') "$1" 0 "$2"
}

# bench_check_flash DIR: sets flash_check, and failed=1 unless the dump holds the image alone.
bench_check_flash() {
  local dump="$1/flash.bin" flash_size tail_at
  # The emulator's flash map: sectors 1..4 are 16, 8, 8 and 32 KiB from
  # address 0, sector n >= 5 starts at (n - 4) * 64 KiB, so sector 6 is at
  # 0x20000.
  local image_at=$((0x20000))
  flash_check="missing"
  if [[ -f "$dump" ]]; then
    flash_size=$(stat -c %s "$dump")
    if cmp -s -n "$image_bytes" "$image" "$dump" 0 "$image_at"; then
      flash_check="image found at $(printf '0x%06X' "$image_at") (sector 6)"
      tail_at=$((image_at + image_bytes))
      if bench_erased "$dump" 0 "$image_at" && bench_erased "$dump" "$tail_at" $((flash_size - tail_at)); then
        flash_check+=", rest of the flash erased"
      else
        flash_check+=", but bytes outside the image were written"
        failed=1
      fi
    else
      flash_check="image NOT found at $(printf '0x%06X' "$image_at")"
      failed=1
    fi
  fi
  [[ "$flash_check" != missing ]] || { echo "$bench_name: no flash dump" >&2; failed=1; }
}

# bench_transcript LOG: sets t_switch_ms, t_status_ms and t_reset_ms from the emulator's log.
bench_transcript() {
  t_switch_ms="$(awk '$4 == "switch" {print $1; exit}' "$1" 2>/dev/null || true)"
  t_status_ms="$(awk '$4 == "status" {print $1; exit}' "$1" 2>/dev/null || true)"
  t_reset_ms="$(awk '$4 == "reset" {print $1}' "$1" 2>/dev/null | tail -n 1 || true)"
}

# bench_report FLOOR_MS PROGRAM [AWK_OPTION...]: prints the report with awk, the figures and report_*.
bench_report() {
  local floor_ms="$1" program="$2" how=/usr/bin/time
  shift 2
  if [[ $proc_timing == 1 ]]; then how=/proc; fi
  awk -v K="$sectors" -v bytes="$image_bytes" -v result="$result_line" \
    -v check="$flash_check" -v floor_ms="$floor_ms" -v failed="$failed" \
    -v t0="$t0" -v t1="$t1" -v user="${user_s:-0}" -v sys="${sys_s:-0}" \
    -v peak="${peak_kib:-0}" -v tsw="$t_switch_ms" -v tst="$t_status_ms" \
    -v trs="$t_reset_ms" -v how="$how" "$@" '
function verdict(ok) { return ok ? "met" : "MISSED" }
# The title, the given lines, the result and the check; 0 when the download failed.
function report_head(what, lines) {
  printf "%s download benchmark: main firmware, %d sector(s) of 64 KiB (%d bytes), sectors 6..%d\n", what, K, bytes, 5 + K
  printf "%s", lines
  printf "  result                 %s\n", result
  printf "  flash check            %s\n", check
  if (failed) {
    print "The download failed: no figures."
    return 0
  }
  return 1
}
# The heading of the figures and the wall time.
function report_wall() {
  printf "Figures (CPU and memory by %s):\n", how
  printf "  wall time              %.3f s\n", wall
}
# Wall time against the floor with the waits as they fell.
function report_expected(expected,  re) {
  re = wall / expected
  printf "  wall / expected        %.4f   target <= 1.02   %s   (%+.0f ms over the expected)\n", re, verdict(re <= 1.02), (wall - expected) * 1000
}
# CPU time and its share of the wall time.
function report_cpu(  share) {
  share = wall > 0 ? 100 * cpu / wall : 0
  printf "  CPU time (user+sys)    %.3f s (user %.3f, sys %.3f) = %.3f %% of wall   target <= 1 %%   %s\n", cpu, user, sys, share, verdict(share <= 1)
}
BEGIN {
  wall = t1 - t0
  floor_s = floor_ms / 1000
  cpu = user + sys
}
'"$program"
}
