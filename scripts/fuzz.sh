#!/usr/bin/env bash
# Builds the libFuzzer targets of tests/fuzz (clang, AddressSanitizer, UndefinedBehaviorSanitizer)
# in build-fuzz and runs each for a bounded time, starting from its committed corpus. Works from
# a fresh clone: it installs and fetches what the build needs, as the test command does.
#
#   scripts/fuzz.sh [seconds per target, default 60] [target ...]   (default: every target)
#
# Inputs that grow coverage collect in build-fuzz/corpus/<target> and carry over to later runs;
# each run adds its CPU time, executions and coverage to build-fuzz/ledger.tsv, and the summary
# shows each target's totals over all runs. A failing input is saved as
# build-fuzz/findings/<target>/crash-* (or leak-*, timeout-*, oom-*); once the fault is fixed,
# copy it into tests/fuzz/corpus/<target>/ so that the unit tests replay it from then on.
# Exits non-zero when any target found something.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift $(($# > 0 ? 1 : 0))
targets=("$@")

bash scripts/install-deps.sh fuzz
# The engine's headers: the targets link the whole core, which includes them.
bash scripts/fetch-engine.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
if ((${#targets[@]} == 0)); then
  for binary in build-fuzz/tests/fuzz/fuzz_*; do targets+=("${binary##*/fuzz_}"); done
fi
ledger=build-fuzz/ledger.tsv
[[ -f $ledger ]] || printf 'date\ttarget\tcpu_seconds\truns\tcov\tft\tcorpus\tresult\n' >"$ledger"

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
  # Database files, HTTP answers and whole office packages are larger than the other inputs.
  case $target in
    memory | model_download | office_package) max_len=65536 ;;
    *) max_len=16384 ;;
  esac
  status=0
  # A time-out counts wall time: 60 s, so that a run at low priority beside other work does
  # not report a slow moment as a hang.
  cpu_before=$(awk '{print $14 + $15 + $16 + $17}' /proc/$$/stat)
  "build-fuzz/tests/fuzz/fuzz_$target" -max_total_time="$seconds" -max_len=$max_len \
    -timeout=60 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$findings/" \
    "$work" "tests/fuzz/corpus/$target" >"$log" 2>&1 || status=$?
  cpu_after=$(awk '{print $14 + $15 + $16 + $17}' /proc/$$/stat)
  cpu=$(((cpu_after - cpu_before) / $(getconf CLK_TCK)))
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
  printf '%s\t%s\t%s\t%s\t%s\t%s\t%s\t%s\n' "$(date -u +%FT%TZ)" "$target" "$cpu" "${runs:-0}" \
    "${cov:-0}" "${ft:-0}" "${corpus:-0}" "$result" >>"$ledger"
  summary+=("$(printf '%-16s %4ss %5s cpu-s %10s runs %7s exec/s  cov %5s  ft %6s  corpus %5s  rss %5s MB  %s' \
    "$target" "$seconds" "$cpu" "${runs:-?}" "${rate:-?}" "${cov:-?}" "${ft:-?}" "${corpus:-?}" \
    "${rss:-?}" "$result")")
done

echo
printf '%s\n' "${summary[@]}"
echo
echo "Totals over every run in $ledger:"
awk -F'\t' 'NR > 1 {
    cpu[$2] += $3; runs[$2] += $4; cov[$2] = $5 > cov[$2] ? $5 : cov[$2]; n[$2]++
    if ($8 !~ /^no finding/) found[$2]++
  }
  END {
    printf "%-16s %9s %14s %7s %5s %9s\n", "target", "cpu hours", "executions", "max cov", "runs", "findings"
    for (t in cpu) printf "%-16s %9.2f %14d %7d %5d %9d\n", t, cpu[t] / 3600, runs[t], cov[t], n[t], found[t]
  }' "$ledger" | sort
exit "$failed"
