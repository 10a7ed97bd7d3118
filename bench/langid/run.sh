#!/usr/bin/env bash
# Source-language detection on the evaluation sets: accuracy per language (Markdown tables on
# stdout) and the time of one call.
#
#   bash bench/langid/run.sh [--misses]
#
# dev.tsv is the set the detection rules were tuned on, test.tsv the held-out half; both were
# made by make_set.py from translated interface messages of Debian packages (run it again to
# rebuild them). Build directory: build-bench, or $QUORVEL_BENCH_BUILD.
set -euo pipefail
cd "$(dirname "$0")/../.."
BUILD=${QUORVEL_BENCH_BUILD:-$PWD/build-bench}

cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" --target langid_eval detect_bench

for set in dev test; do
  echo "## $set"
  "$BUILD/langid_eval" "$@" "bench/langid/$set.tsv"
done
echo "## both"
"$BUILD/langid_eval" bench/langid/dev.tsv bench/langid/test.tsv | tail -n 1

# Per call: as a library user gets it, and after the server's start-up heap settings.
for mode in default server; do
  "$BUILD/detect_bench" "$mode" bench/langid/dev.tsv 5
done
