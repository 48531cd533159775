#!/usr/bin/env bash
# Builds and runs every test: the Linux release build (made as users make it,
# with every target, warnings as errors), the AddressSanitizer +
# UndefinedBehaviorSanitizer build, the ThreadSanitizer build, 20 seconds of
# each fuzz target (scripts/fuzz.sh), then the Windows cross build with its
# tests under Wine (among them the Win32 serial backend and a font download by
# quillon-flash.exe through COM1, both against the release build's
# quillon-printer-sim on a pseudo-terminal); the install layout, the packages
# and the fleet rollout are tried. Meanwhile, from the release build on,
# scripts/vm-test.sh runs quillon-flash against the kernel's own usblp, 8250
# and ppdev drivers in virtual machines.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --windows --wine --fuzz --display --packaging --vm
jobs=$(nproc)

# Background work still running when this script ends (a failure) is
# stopped.
vm_pid=""
wine_running=""
declare -A background
cleanup() {
  [[ -n "$wine_running" ]] && wine_stop
  kill "$vm_pid" "${background[@]}" 2>/dev/null || true
}
trap cleanup EXIT

# The compilers give way to the tests and the virtual machines beside them,
# which keep time with the printer.
build() {
  cmake --preset "$1" "${@:2}" >/dev/null
  nice -n 10 cmake --build --preset "$1" -j"$jobs"
}

# Runs "$@" in the background with its output in build/LOG.log; `finish LOG`
# waits for it and shows the output if it failed.
start() {
  local log=$1
  shift
  "$@" >"build/$log.log" 2>&1 &
  background[$log]=$!
}
finish() {
  local status=0
  wait "${background[$1]}" || status=$?
  unset "background[$1]"
  if [[ $status -ne 0 ]]; then
    cat "build/$1.log" >&2
    echo "test.sh: $1 failed." >&2
    exit 1
  fi
}

echo "== release (build)" >&2
build release -DQUILLON_WERROR=ON
# The virtual machines mostly wait (the printer's fixed waits), so they run
# beside the builds and tests below; their result is read at the end.
echo "== kernel drivers in virtual machines (in the background)" >&2
scripts/vm-test.sh --build build/release >build/vm-test.log 2>&1 &
vm_pid=$!

# Each build's tests run while the next build compiles: the tests spend most
# of their time in the printer's fixed waits, on pseudo-terminals and in
# child processes, which leaves the processors to the compiler.
echo "== asan (build), release (tests)" >&2
start asan-build build asan
ctest --preset release -j"$jobs"
finish asan-build
echo "== tsan (build), asan (tests)" >&2
start tsan-build build tsan
ctest --preset asan -j"$jobs"
finish tsan-build
echo "== fuzz and mingw (builds), tsan (tests)" >&2
start fuzz-and-mingw-builds eval "build fuzz && build mingw"
ctest --preset tsan -j"$jobs"
finish fuzz-and-mingw-builds

echo "== fuzz" >&2
scripts/fuzz.sh 20

echo "== mingw (tests under Wine)" >&2
# The install layout and the fleet rollout (Linux programs only) are tried
# beside the Windows tests.
start check-install scripts/check-install.sh build/release
start check-fleet scripts/check-fleet.sh build/release/cli/quillon-flash
# shellcheck source=scripts/wine-env.sh
source scripts/wine-env.sh
wine_running=1
# The persistent wineserver must be running before ctest starts any Windows
# program (see wine-env.sh), and ctest gets a time-out all the same.
wine_start
ctest --preset mingw -j"$jobs" --timeout 300 </dev/null
wine_stop
wine_running=""
echo "== install layout" >&2
finish check-install
cat build/check-install.log >&2
echo "== fleet rollout" >&2
finish check-fleet
cat build/check-fleet.log >&2

# The release as people get it: the .deb, the Windows installer and zip,
# tried as a user would.
echo "== packages" >&2
# Signed with a throwaway certificate authority made here, unless a
# certificate is given; check-packages.sh verifies every signature against it.
if [[ -z "${QUILLON_SIGN_PKCS12:-}" ]]; then
  eval "$(scripts/make-test-certificate.sh build/test-certificate)"
fi
scripts/package.sh
scripts/check-packages.sh

echo "== kernel drivers in virtual machines" >&2
vm_status=0
wait "$vm_pid" || vm_status=$?
vm_pid=""
cat build/vm-test.log >&2
[[ $vm_status -eq 0 ]] || exit 1
echo "All tests passed." >&2
