#!/usr/bin/env bash
# The fatal error box of the Windows build, under Wine, with standard error captured in a file:
# the program as shipped shows the box (its text never goes to standard error), and only a test
# build writes the text there and ends with exit code -1.
#   fatal_box_test.sh RAISE_SHIPPED.exe RAISE_TEST_BUILD.exe
# Without a display the box cannot be answered: a shipped program still waiting on it after a
# while is stopped by the timeout, which counts as the box having been shown.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
run="$here/../../scripts/wine-run.sh"
shipped=${1:?usage: fatal_box_test.sh RAISE_SHIPPED.exe RAISE_TEST_BUILD.exe}
test_build=${2:?usage: fatal_box_test.sh RAISE_SHIPPED.exe RAISE_TEST_BUILD.exe}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failed=0

timeout 20 "$run" "$shipped" 2>"$work/shipped.err" </dev/null >/dev/null
if grep -q "fatal box probe" "$work/shipped.err"; then
  echo "the program as shipped wrote the fatal error to standard error:" >&2
  cat "$work/shipped.err" >&2
  failed=1
fi

timeout 60 "$run" "$test_build" 2>"$work/test.err" </dev/null >/dev/null
code=$?
if ! grep -q "fatal box probe" "$work/test.err" || [[ $code -ne 255 ]]; then
  echo "the test build ended with $code and wrote:" >&2
  cat "$work/test.err" >&2
  failed=1
fi
[[ $failed -eq 0 ]] && echo "fatal box: shown by the program as shipped, written by the test build"
exit $failed
