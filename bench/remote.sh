#!/usr/bin/env bash
# The remote engine against the in-process one: the 50-paragraph document of bench/run.py's
# reuse section (speed-test model, 8 generated tokens per paragraph) through llama-server
# processes on 127.0.0.1 built from the fetched llama.cpp source and running on the fetched
# engine libraries, and in our own process. Prints a table; JSON lines go to
# bench/results/remote.jsonl.
#
#   bash bench/remote.sh [PARAGRAPHS]
#
# Runs, each on the machine's 2 threads in all: in-process (engine_bench reuse, prefix reuse
# on) one prompt at a time and with the engine's default number at once; one server with 1
# slot; one server with 4 slots; two servers with 1 slot and 1 thread each. Needs an idle
# machine; bench/run.sh sets up the speed-test model first.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${QUORVEL_BENCH_BUILD:-$ROOT/build-bench}
# QUORVEL_BENCH_MODEL replaces the model, e.g. with a test model to try the script quickly.
MODEL=${QUORVEL_BENCH_MODEL:-$ROOT/.cache/models/speed-4b-q4_k_m.gguf}
PARAGRAPHS=${1:-50}
GEN=8
OUT=$ROOT/bench/results/remote.jsonl

log() { echo "bench-remote: $*" >&2; }

[[ -f $MODEL ]] || { log "no speed-test model: run bash bench/run.sh --sections reuse first"; exit 1; }
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" --target engine_bench >&2
SERVER=$(bash scripts/build-llama-server.sh)
mkdir -p "$(dirname "$OUT")"
: >"$OUT"

PIDS=()
stop_servers() {
  for pid in "${PIDS[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null || true; done
  PIDS=()
}
trap stop_servers EXIT

# start_server PORT SLOTS THREADS: waits until it answers /health. --swa-full: with the model's
# sliding-window layers cached only for the window, llama-server cannot keep a shared prefix and
# reads every prompt whole (cache_n 0); with it, the instructions are read once per slot.
start_server() {
  local port=$1 slots=$2 threads=$3
  LD_LIBRARY_PATH=$(dirname "$SERVER") "$SERVER" -m "$MODEL" --host 127.0.0.1 --port "$port" \
    -np "$slots" -c $((2048 * slots)) -t "$threads" --swa-full --alias translategemma-speed-test \
    >"$ROOT/bench/results/llama-server-$port.log" 2>&1 &
  PIDS+=($!)
  for _ in $(seq 600); do
    curl -sf "http://127.0.0.1:$port/health" >/dev/null && return
    sleep 0.5
  done
  log "llama-server on port $port did not start"
  exit 1
}

# run_remote NAME URLS: one run through the servers, after a warm-up prompt on each (model
# pages in, first-use costs) so that only the document is timed.
run_remote() {
  local name=$1 urls=$2
  "$BUILD/engine_bench" remote "$urls" 2 1 >/dev/null
  log "$name"
  "$BUILD/engine_bench" remote "$urls" "$PARAGRAPHS" "$GEN" |
    python3 -c "import json,sys; r=json.load(sys.stdin); r['run']='$name'; print(json.dumps(r))" >>"$OUT"
}

# in_process NAME [PARALLEL]: without PARALLEL, the engine's own default (not the caller's).
in_process() {
  log "$1"
  env -u AMBREL_PARALLEL ${2:+AMBREL_PARALLEL=$2} \
    "$BUILD/engine_bench" reuse "$MODEL" "$PARAGRAPHS" "$GEN" |
    python3 -c "import json,sys; r=json.load(sys.stdin); print(json.dumps({'run':'$1','seconds':r['on']['seconds'],'paragraphs':r['paragraphs']}))" >>"$OUT"
}
in_process "in-process, 1 prompt at a time" 1
in_process "in-process, default prompts at once"

start_server 18901 1 2
run_remote "1 server, 1 slot" http://127.0.0.1:18901
stop_servers
start_server 18902 4 2
run_remote "1 server, 4 slots" http://127.0.0.1:18902
stop_servers
start_server 18903 1 1
start_server 18904 1 1
run_remote "2 servers, 1 slot and 1 thread each" http://127.0.0.1:18903,http://127.0.0.1:18904
stop_servers

python3 - "$OUT" <<'PY'
import json, sys
rows = [json.loads(line) for line in open(sys.argv[1])]
base = rows[0]["seconds"]
print(f"| {rows[0]['paragraphs']} paragraphs, 8 tokens each | time (s) | against in-process, 1 at a time |")
print("|---|---:|---:|")
for r in rows:
    print(f"| {r['run']} | {r['seconds']:.1f} | {r['seconds'] / base:.2f} |")
PY
