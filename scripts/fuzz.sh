#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz (clang, AddressSanitizer, UndefinedBehaviorSanitizer)
# in build-fuzz and runs each for a bounded time, starting from its committed corpus.
#
#   scripts/fuzz.sh [seconds per target, default 60] [target ...]
#
# Inputs that grow coverage collect in build-fuzz/corpus/<target>. A failing input is saved as
# build-fuzz/findings/<target>/crash-* (or leak-*, timeout-*, oom-*); once the fault is fixed,
# copy it into tests/fuzz/corpus/<target>/ so that the unit tests replay it from then on.
# Exits non-zero when any target found something.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift $(($# > 0 ? 1 : 0))
targets=("$@")
if ((${#targets[@]} == 0)); then
  targets=(protocol docx_package docx_part pptx_part xlsx_part odf_part subtitles plain_text
    answer_checks inline_tags)
fi

bash scripts/install-deps.sh fuzz
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

export ASAN_OPTIONS=detect_leaks=1:strict_string_checks=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
summary=()
failed=0
for target in "${targets[@]}"; do
  work="build-fuzz/corpus/$target"
  findings="build-fuzz/findings/$target"
  log="build-fuzz/fuzz-$target.log"
  mkdir -p "$work" "$findings"
  echo "== fuzz_$target for ${seconds}s"
  status=0
  "build-fuzz/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -max_len=16384 \
    -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/" \
    "$work" "tests/fuzz/corpus/$target" >"$log" 2>&1 || status=$?
  # The last status line carries coverage; the final statistics carry the totals.
  last=$(grep -E '^#[0-9]+' "$log" | tail -n 1 || true)
  cov=$(sed -nE 's/.* cov: ([0-9]+).*/\1/p' <<<"$last")
  ft=$(sed -nE 's/.* ft: ([0-9]+).*/\1/p' <<<"$last")
  corpus=$(sed -nE 's/.* corp: ([0-9]+).*/\1/p' <<<"$last")
  runs=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+)/\1/p' "$log")
  rate=$(sed -nE 's/^stat::average_exec_per_sec: *([0-9]+)/\1/p' "$log")
  rss=$(sed -nE 's/^stat::peak_rss_mb: *([0-9]+)/\1/p' "$log")
  result="no finding"
  if ((status != 0)); then
    failed=1
    result="FINDING (exit $status), see $log and $findings/"
    grep -E 'ERROR|fuzz check failed|SUMMARY' "$log" | head -n 5 || true
  fi
  summary+=("$(printf '%-14s %4ss %10s runs %7s exec/s  cov %5s  ft %6s  corpus %5s  rss %5s MB  %s' \
    "$target" "$seconds" "${runs:-?}" "${rate:-?}" "${cov:-?}" "${ft:-?}" "${corpus:-?}" \
    "${rss:-?}" "$result")")
done

echo
printf '%s\n' "${summary[@]}"
exit "$failed"
