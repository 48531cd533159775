#!/usr/bin/env bash
# Builds and runs every test: the Linux debug build, the AddressSanitizer +
# UndefinedBehaviorSanitizer build, the ThreadSanitizer build, and the
# Windows cross build of the portable libraries.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh --windows
jobs=$(nproc)

for preset in debug asan tsan; do
  echo "== $preset" >&2
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j"$jobs"
  ctest --preset "$preset" -j"$jobs"
done

echo "== mingw (Windows cross build)" >&2
cmake --preset mingw >/dev/null
cmake --build --preset mingw -j"$jobs"
echo "All tests passed." >&2
