#!/usr/bin/env bash
# Builds the libFuzzer targets of fuzz/ with clang and runs each for a while.
#   scripts/fuzz.sh [seconds per target, default 20] [target ...]
# Every target first replays its kept findings (fuzz/regressions/<target>/), then fuzzes from its
# seeds (fuzz/corpus/<target>/, and the result pages of tests/fixtures) with the marker dictionary.
# New inputs collect in build/fuzz/corpus/, findings in build/fuzz/findings/. Exits non-zero when
# any target finds a crash, a failed check, a leak or a timeout.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
seconds=${1:-20}
shift || true
build="$root/build/fuzz"

cmake -S "$root/fuzz" -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build"

if (($#)); then
  targets=("$@")
else
  targets=()
  for source in "$root"/fuzz/*_fuzzer.cpp; do
    targets+=("$(basename "$source" .cpp)")
  done
fi

# The result pages as the program reads them (code page 936) and as the fuzz build's markers are
# spelled (UTF-8: clang compiles its literals so).
pages="$build/seeds/result_page_fuzzer"
mkdir -p "$pages"
for page in "$root"/tests/fixtures/*.html; do
  cp "$page" "$pages/"
  iconv -f CP936 -t UTF-8 "$page" >"$pages/$(basename "$page" .html).utf8.html"
done

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1}
failed=()
for target in "${targets[@]}"; do
  binary="$build/$target"
  findings="$build/findings/$target"
  corpus="$build/corpus/$target"
  mkdir -p "$findings" "$corpus"
  seeds=("$corpus")
  for dir in "$root/fuzz/corpus/$target" "$build/seeds/$target"; do
    [[ -d "$dir" ]] && seeds+=("$dir")
  done

  echo "== $target"
  regressions=("$root/fuzz/regressions/$target"/*)
  if [[ -e "${regressions[0]}" ]] &&
    ! "$binary" "${regressions[@]}" >"$findings/regressions.log" 2>&1; then
    echo "   a kept finding fails again: see $findings/regressions.log"
    failed+=("$target")
    continue
  fi

  if "$binary" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
    -dict="$root/fuzz/pelvaro.dict" -artifact_prefix="$findings/" -print_final_stats=1 \
    "${seeds[@]}" >"$findings/run.log" 2>&1; then
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$findings/run.log")
    echo "   ${runs:-?} runs, no finding"
  else
    echo "   finding: $(ls -t "$findings" | grep -v '\.log$' | head -1) (log: $findings/run.log)"
    failed+=("$target")
  fi
done

if ((${#failed[@]})); then
  echo "Findings in: ${failed[*]}"
  exit 1
fi
