#!/usr/bin/env bash
# Peak memory and time of the built server on hostile inputs: each case is a fresh server
# process answering one request, measured with /usr/bin/time -v (Debian package time). Prints
# the reply text, peak RSS and wall time, and whether the input directory is unchanged
# afterwards. Uses the constant-answer test model for the cases that reach translation.
# Usage: bench/hostile_inputs.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
server="$build/quorvel-translate"
model="$PWD/.cache/models/constant.gguf"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
inputs="$work/in"
outputs="$work/out"
mkdir -p "$inputs" "$outputs"

/usr/bin/python3 tests/e2e/make_hostile.py "$inputs" --large
# Names, sizes and modification times; not the "total" line, whose block count changes as
# the file system allocates the blocks of files just written.
listing() { ls -lA --time-style=full-iso "$inputs" | tail -n +2; }
before=$(listing)

call_file() {
  printf '{"jsonrpc":"2.0","id":1,"method":"tools/call","params":{"name":"translate_file","arguments":{"path":"%s","to":"fr","output_path":"%s"}}}\n' \
    "$inputs/$1" "$outputs/$1"
}

measure() {
  local label=$1 request=$2
  TRANSLATE_LLM_MODEL="$model" /usr/bin/time -v -o "$work/time" "$server" <"$request" \
    >"$work/reply" 2>/dev/null
  local rss seconds reply
  rss=$(sed -nE 's/.*Maximum resident set size \(kbytes\): ([0-9]+)/\1/p' "$work/time")
  seconds=$(sed -nE 's/.*Elapsed \(wall clock\) time \(h:mm:ss or m:ss\): (.*)/\1/p' "$work/time")
  reply=$(/usr/bin/python3 -c '
import json, sys
for line in sys.stdin:
    r = json.loads(line)
    if "error" in r:
        print(r["error"]["message"])
    else:
        print(r["result"]["content"][0]["text"] if "content" in r["result"] else "ok")
' <"$work/reply" | tr '\n' ' ' | cut -c1-110)
  printf '%-22s %7d KiB %9s  %s\n' "$label" "$rss" "$seconds" "$reply"
}

printf '%-22s %11s %9s  %s\n' case "peak RSS" time reply
for name in bomb.docx laughs.docx image.docx badutf8.docx overlap.docx many.docx hugepart.docx \
  latin1.txt latin1.srt huge.txt newlines.txt newlines.srt paragraphs.txt paragraphs.docx \
  oneline.txt; do
  call_file "$name" >"$work/request"
  measure "$name" "$work/request"
done

# One request line of 100 MB, then a ping: the first is refused, the second answered.
/usr/bin/python3 -c '
import sys
sys.stdout.write("{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"ping\",\"params\":{\"pad\":\"" + "x" * (100 << 20) + "\"}}\n")
sys.stdout.write("{\"jsonrpc\":\"2.0\",\"id\":2,\"method\":\"ping\"}\n")
' >"$work/request"
measure "100 MB request line" "$work/request"

# A 60 MB line of thirty million zeros: under the line bound, over the value bound.
/usr/bin/python3 -c '
import sys
sys.stdout.write("{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"ping\",\"params\":[" + "0," * (30 << 20) + "0]}\n")
' >"$work/request"
measure "60 MB of JSON values" "$work/request"

if [[ "$(listing)" == "$before" ]]; then
  echo "input directory unchanged"
else
  echo "INPUT DIRECTORY CHANGED"
  diff <(echo "$before") <(listing) || true
  exit 1
fi
echo "outputs written: $(ls "$outputs" | tr '\n' ' ')"
