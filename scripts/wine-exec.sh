#!/usr/bin/env bash
# The emulator of the Windows build (CMAKE_CROSSCOMPILING_EMULATOR): runs a
# Windows program under Wine as it is, with one exception. When ctest lists
# a test program's tests (--gtest_list_tests) and Wine ends with an error
# and no list at all, the listing is tried once more, and that is said on
# standard error with what Wine printed: Wine has been seen to end a
# program's start that way once in a while, and a list that is not read
# fails every test of the program.
wine="${QUILLON_WINE:-/usr/lib/wine/wine64}"
if [[ " $* " != *" --gtest_list_tests "* ]]; then
  exec "$wine" "$@"
fi
errors="$(mktemp)"
trap 'rm -f "$errors"' EXIT
for attempt in 1 2; do
  status=0
  list="$("$wine" "$@" 2>"$errors")" || status=$?
  if [[ $status -eq 0 || -n "$list" ]]; then
    printf '%s\n' "$list"
    cat "$errors" >&2
    exit "$status"
  fi
  echo "wine-exec.sh: listing the tests of $1 failed (attempt $attempt, status $status, no" \
    "output); Wine said: $(tr '\n' ' ' <"$errors")" >&2
done
exit "$status"
