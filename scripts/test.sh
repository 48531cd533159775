#!/usr/bin/env bash
# Builds and runs every test: the Linux debug build, the AddressSanitizer +
# UndefinedBehaviorSanitizer build, the ThreadSanitizer build, 20 seconds of
# each fuzz target (scripts/fuzz.sh), then the
# Windows cross build with its tests under Wine (among them the Win32 serial
# backend and a font download by quillon-flash.exe through COM1, both against
# the debug build's quillon-printer-sim on a pseudo-terminal).
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --windows --wine --fuzz --display
jobs=$(nproc)

for preset in debug asan tsan; do
  echo "== $preset" >&2
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
  ctest --preset "$preset" -j"$jobs"
done

echo "== fuzz" >&2
scripts/fuzz.sh 20

echo "== mingw (Windows cross build, tests under Wine)" >&2
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j"$jobs"
# shellcheck source=scripts/wine-env.sh
source scripts/wine-env.sh
trap wine_stop EXIT
# The persistent wineserver must be running before ctest starts any Windows
# program (see wine-env.sh), and ctest gets a time-out all the same.
wine_start
ctest --preset mingw -j"$jobs" --timeout 300 </dev/null
echo "All tests passed." >&2
