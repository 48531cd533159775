#!/usr/bin/env bash
# Runs a Windows program of the build under Wine against an emulated printer
# on a real serial line: quillon-printer-sim (a Linux build) serves a
# pseudo-terminal, and COM1 of the Wine prefix is pointed at it.
#
# Usage: wine-line-test.sh gtest SIM WIN32_TESTS_EXE
#          the Win32 serial backend's tests, with QUILLON_TEST_PORT=COM1
#        wine-line-test.sh font SIM QUILLON_FLASH_EXE
#          a font download with quillon-flash.exe --port COM1; checks the
#          result line, the exit status and the emulated flash
#        wine-line-test.sh builtin SIM QUILLON_FLASH_EXE
#          the same download into the built-in emulated printer (--port
#          sim:flash=FILE), with no serial line at all
#        wine-line-test.sh usb|parallel SIM QUILLON_FLASH_EXE
#          the same download into the built-in emulated printer reached as a
#          USB printer or through a parallel port (--interface usb|parallel)
#        wine-line-test.sh ctrlc SIM QUILLON_FLASH_EXE
#          Ctrl-C (Wine turns SIGINT into the console's Ctrl-C event) while
#          the printer is switched cancels; while flashing, a second one
#          within 5 s stops the download
#
# Needs the environment of scripts/wine-env.sh after wine_start (ctest of the
# mingw preset under scripts/test.sh has it).
set -euo pipefail
# The downloads tried here stay out of the user's download history and the
# system log.
export QUILLON_HISTORY=off

mode="${1:?mode: gtest or font}"
sim="${2:-}"
exe="${3:?the Windows program}"

fail() {
  echo "wine-line-test: $*" >&2
  exit 1
}

[[ -n "${QUILLON_WINE_COM1_LINK:-}" && -n "${QUILLON_WINE:-}" ]] ||
  fail "no Wine environment: source scripts/wine-env.sh and call wine_start first"
[[ -n "$sim" && -x "$sim" ]] ||
  fail "no quillon-printer-sim at '$sim': build the Linux debug preset first"
[[ -f "$exe" ]] || fail "no program $exe"

work="$(mktemp -d "${TMPDIR:-/tmp}/quillon-wine-line.XXXXXX")"
sim_pid=""
win_pid=""
cleanup() {
  if [[ -n "$win_pid" ]]; then
    kill -KILL "$win_pid" 2>/dev/null || true
    wait "$win_pid" 2>/dev/null || true
  fi
  if [[ -n "$sim_pid" ]]; then
    kill -KILL "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  ln -sfn /nonexistent "$QUILLON_WINE_COM1_LINK"
  rm -rf "$work"
}
trap cleanup EXIT

# Starts the emulated printer with options "$@" and points COM1 at its
# pseudo-terminal. Its output goes to files, never to our caller's pipe.
start_printer() {
  "$sim" "$@" </dev/null >"$work/sim.out" 2>"$work/sim.err" &
  sim_pid=$!
  local tries=0
  until [[ $(wc -l <"$work/sim.out") -ge 1 ]]; do
    kill -0 "$sim_pid" 2>/dev/null || fail "quillon-printer-sim ended: $(cat "$work/sim.err")"
    ((++tries > 200)) && fail "quillon-printer-sim printed no terminal path within 10 s"
    sleep 0.05
  done
  local pty
  pty="$(head -n 1 "$work/sim.out")"
  [[ -c "$pty" ]] || fail "quillon-printer-sim's terminal '$pty' is not a character device"
  ln -sfn "$pty" "$QUILLON_WINE_COM1_LINK"
  echo "COM1 -> $pty" >&2
}

# Stops the emulated printer (it writes its files on SIGTERM).
stop_printer() {
  kill -TERM "$sim_pid"
  local status=0
  wait "$sim_pid" || status=$?
  sim_pid=""
  [[ $status -eq 0 ]] || fail "quillon-printer-sim ended with status $status: $(cat "$work/sim.err")"
}

# Runs the Windows program under Wine in the scratch folder; its output goes
# to files (see the note on helper processes in wine-env.sh), then to ours.
run_windows() {
  local status=0
  (cd "$work" && "$QUILLON_WINE" "$@" </dev/null >"$work/win.out" 2>"$work/win.err") || status=$?
  cat "$work/win.out"
  cat "$work/win.err" >&2
  return $status
}

# Runs quillon-flash.exe on COM1 with a font image and sends SIGINT each
# time its standard error first shows the next of the marks "$@". Returns
# its exit status.
run_interrupted() {
  head -c 100000 /dev/urandom >"$work/fonts.bin"
  (cd "$work" && exec "$QUILLON_WINE" "$exe" --type font --port COM1 fonts.bin \
    </dev/null >"$work/win.out" 2>"$work/win.err") &
  win_pid=$!
  local tries
  for mark in "$@"; do
    tries=0
    until grep -qF "$mark" "$work/win.err"; do
      kill -0 "$win_pid" 2>/dev/null || break
      ((++tries > 1200)) && fail "no '$mark' within 60 s"
      sleep 0.05
    done
    kill -INT "$win_pid" 2>/dev/null || true
  done
  local status=0
  wait "$win_pid" || status=$?
  win_pid=""
  tr -d '\r' <"$work/win.err" >&2
  return $status
}

case "$mode" in
  gtest)
    start_printer
    status=0
    QUILLON_TEST_PORT=COM1 run_windows "$exe" || status=$?
    [[ $status -eq 0 ]] || fail "$(basename "$exe") failed (status $status)"
    stop_printer
    ;;

  font | builtin | usb | parallel)
    size=100000
    head -c "$size" /dev/urandom >"$work/fonts.bin"
    status=0
    if [[ $mode == font ]]; then
      start_printer --flash-out "$work/flash.bin"
      run_windows "$exe" --type font --port COM1 fonts.bin || status=$?
      stop_printer
    elif [[ $mode == builtin ]]; then
      run_windows "$exe" --type font --port sim:flash=flash.bin fonts.bin || status=$?
    else
      run_windows "$exe" --type font --interface "$mode" --port sim:flash=flash.bin fonts.bin ||
        status=$?
    fi
    last="$(tail -n 1 "$work/win.out" | tr -d '\r')"
    [[ "$last" == "result 1: Download successfully completed!" ]] ||
      fail "the last line is '$last'"
    [[ $status -eq 0 ]] || fail "quillon-flash.exe ended with status $status"
    [[ -f "$work/flash.bin" ]] || fail "the emulated printer wrote no flash image"
    [[ $(stat -c %s "$work/flash.bin") -eq 4390912 ]] || fail "the flash image has the wrong size"
    # Fonts start at sector 18: 16 + 8 + 8 + 32 KiB, then 64 KiB sectors from
    # 0x10000, so 0xE0000.
    start=$((0xE0000))
    cmp <(tail -c +$((start + 1)) "$work/flash.bin" | head -c "$size") "$work/fonts.bin" ||
      fail "the flash does not hold the image at 0xE0000"
    untouched=$(head -c "$start" "$work/flash.bin" | tr -d '\377' | wc -c)
    [[ $untouched -eq 0 ]] || fail "$untouched bytes below 0xE0000 were written"
    echo "The font image is in the emulated flash at 0xE0000 (sector 18)." >&2
    ;;

  ctrlc)
    cancelled="result 1027: Application was terminated by Cancel button!"
    start_printer
    status=0
    run_interrupted "Switching printer to download..." || status=$?
    stop_printer
    last="$(tail -n 1 "$work/win.out" | tr -d '\r')"
    [[ "$last" == "$cancelled" && $status -eq 1 ]] ||
      fail "Ctrl-C while switching: status $status, last line '$last'"
    grep -qF "cancelling" "$work/win.err" || fail "Ctrl-C while switching said nothing"

    start_printer
    status=0
    run_interrupted "Selecting flash sector 2 of 2..." "Press Ctrl-C again" || status=$?
    stop_printer
    last="$(tail -n 1 "$work/win.out" | tr -d '\r')"
    [[ "$last" == "$cancelled" && $status -eq 1 ]] ||
      fail "two Ctrl-C while flashing: status $status, last line '$last'"
    ! grep -qF "Download completed!" "$work/win.err" || fail "the download was not stopped"
    echo "Ctrl-C cancels while switching and stops on the second press while flashing." >&2
    ;;

  *)
    fail "unknown mode $mode"
    ;;
esac
