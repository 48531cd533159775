#!/usr/bin/env bash
# Builds and runs every test: the Linux debug build, the AddressSanitizer +
# UndefinedBehaviorSanitizer build, the ThreadSanitizer build, the release
# build (built only), 20 seconds of each fuzz target (scripts/fuzz.sh), then the
# Windows cross build with its tests under Wine (among them the Win32 serial
# backend and a font download by quillon-flash.exe through COM1, both against
# the debug build's quillon-printer-sim on a pseudo-terminal); then the
# install layout, the packages and the fleet rollout are tried. Meanwhile,
# from the debug build on, scripts/vm-test.sh runs quillon-flash against the
# kernel's own usblp, 8250 and ppdev drivers in virtual machines.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --windows --wine --fuzz --display --packaging --vm
jobs=$(nproc)

# Background work still running when this script ends (a failure) is
# stopped.
vm_pid=""
wine_running=""
cleanup() {
  [[ -n "$wine_running" ]] && wine_stop
  [[ -n "$vm_pid" ]] && kill "$vm_pid" 2>/dev/null
  return 0
}
trap cleanup EXIT

# The compilers give way to the tests and the virtual machines beside them,
# which keep time with the printer.
configure_and_build() {
  cmake --preset "$1" "${@:2}" >/dev/null
  nice -n 10 cmake --build --preset "$1" -j"$jobs"
}

# Each build's tests run while the next build compiles: the tests spend most
# of their time in the printer's fixed waits, on pseudo-terminals and in
# child processes, which leaves the processors to the compiler. The release
# build is made as users make it, with every target, but with warnings as
# errors as in the other builds; it is built only.
echo "== debug (build)" >&2
configure_and_build debug
# The virtual machines mostly wait (the printer's fixed waits), so they run
# beside the builds and tests below; their result is read at the end.
echo "== kernel drivers in virtual machines (in the background)" >&2
scripts/vm-test.sh --build build/debug >build/vm-test.log 2>&1 &
vm_pid=$!
previous=debug
for next in asan tsan release; do
  extra=()
  [[ "$next" == release ]] && extra=(-DQUILLON_WERROR=ON)
  echo "== $next (build), $previous (tests)" >&2
  configure_and_build "$next" "${extra[@]}" >"build/$next-build.log" 2>&1 &
  build_pid=$!
  tests_status=0
  ctest --preset "$previous" -j"$jobs" || tests_status=$?
  build_status=0
  wait "$build_pid" || build_status=$?
  if [[ $build_status -ne 0 ]]; then
    cat "build/$next-build.log" >&2
    echo "The $next build failed." >&2
    exit 1
  fi
  [[ $tests_status -eq 0 ]] || exit 1
  [[ "$next" == release ]] || previous="$next"
done

echo "== fuzz" >&2
scripts/fuzz.sh 20

echo "== mingw (Windows cross build, tests under Wine)" >&2
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j"$jobs"
# shellcheck source=scripts/wine-env.sh
source scripts/wine-env.sh
wine_running=1
# The persistent wineserver must be running before ctest starts any Windows
# program (see wine-env.sh), and ctest gets a time-out all the same.
wine_start
ctest --preset mingw -j"$jobs" --timeout 300 </dev/null
wine_stop
wine_running=""

# The release as people get it: what `cmake --install` lays out, the .deb,
# the Windows installer and zip, tried as a user would, and the fleet
# rollout playbook against three emulated printers.
echo "== install layout" >&2
scripts/check-install.sh build/release
echo "== packages" >&2
scripts/package.sh
scripts/check-packages.sh
echo "== fleet rollout" >&2
scripts/check-fleet.sh build/release/cli/quillon-flash
echo "== kernel drivers in virtual machines" >&2
vm_status=0
wait "$vm_pid" || vm_status=$?
vm_pid=""
cat build/vm-test.log >&2
[[ $vm_status -eq 0 ]] || exit 1
echo "All tests passed." >&2
