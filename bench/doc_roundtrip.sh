#!/usr/bin/env bash
# Whole-process time and peak memory of document extraction plus write-back, median of
# RUNS runs each: a DOCX with 2,000 paragraphs and 50 MB of images, a 5,000-cue SRT and 1 MB
# of Markdown, translated with an instant answer in place of the model.
# Usage: bench/doc_roundtrip.sh [BUILD_DIR] [RUNS]
set -euo pipefail
build=${1:-build}
runs=${2:-5}
bin="$build/doc_roundtrip"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$bin" make "$work" >/dev/null
for kind in docx srt md; do
  times=()
  peaks=()
  for ((i = 0; i < runs; i++)); do
    /usr/bin/time -f "%e %M" -o "$work/time" "$bin" run "$work/large.$kind" "$work/out.$kind" \
      >"$work/last"
    read -r seconds kib <"$work/time"
    times+=("$seconds")
    peaks+=("$kib")
  done
  median() { printf '%s\n' "$@" | sort -g | sed -n "$((($# + 1) / 2))p"; }
  printf '%s (%s bytes): median %s s, peak RSS median %s KiB; last run: %s\n' "$kind" \
    "$(stat -c %s "$work/large.$kind")" "$(median "${times[@]}")" "$(median "${peaks[@]}")" \
    "$(cat "$work/last")"
done
