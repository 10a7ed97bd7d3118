#!/usr/bin/env bash
# Runs every benchmark and prints the report table; results go to bench/results/ (ignored).
#
#   bash bench/run.sh [options of bench/run.py]     e.g. --sections engine,reuse --reps 3
#
# Sets up as scripts/test.sh does (Debian packages, here with python-docx, and the fetched
# engine). The first run also builds llama.cpp's llama-bench and llama-quantize from the
# fetched source into .cache/ and makes the 2.3 GiB speed-test model
# (scripts/make-speed-model.py); that takes a while and is kept for later runs. Build
# directory: build-bench, or $QUORVEL_BENCH_BUILD.
#
# Other processes on the same cores stall the engine's threads and spoil the figures, so the
# engine runs wait for an idle machine and are repeated when something else ran meanwhile.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
CACHE=$ROOT/.cache
BUILD=${QUORVEL_BENCH_BUILD:-$ROOT/build-bench}

log() { echo "bench: $*" >&2; }

bash scripts/install-deps.sh bench
bash scripts/fetch-engine.sh

log "building the server and the benchmark programs in $BUILD"
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" --target quorvel-translate engine_bench doc_roundtrip

# llama-bench and llama-quantize, built from the fetched source. llama-bench then runs in
# .cache/llama-bench-run against the fetched engine libraries themselves (the ones our server
# loads), so both sides use the very same ggml kernels.
TOOLS_BUILD=$CACHE/llama.cpp-build
RUN_DIR=$CACHE/llama-bench-run
tools_stamp() { echo "$(git -C "$CACHE/llama.cpp-src" rev-parse HEAD) $(cat "$CACHE/engine/.stamp")"; }
if [[ ! -x $RUN_DIR/llama-bench || $(cat "$RUN_DIR/.stamp" 2>/dev/null) != "$(tools_stamp)" ]]; then
  log "building llama-bench and llama-quantize in $TOOLS_BUILD (several minutes)"
  cmake -S "$CACHE/llama.cpp-src" -B "$TOOLS_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DBUILD_SHARED_LIBS=ON -DGGML_BACKEND_DL=ON -DGGML_NATIVE=OFF -DLLAMA_BUILD_TESTS=OFF \
    -DLLAMA_BUILD_EXAMPLES=OFF -DLLAMA_BUILD_SERVER=OFF -DLLAMA_BUILD_APP=OFF \
    -DLLAMA_OPENSSL=OFF -DLLAMA_SUBPROCESS=OFF -DLLAMA_BUILD_TOOLS=ON >/dev/null
  cmake --build "$TOOLS_BUILD" --target llama-bench llama-quantize
  rm -rf "$RUN_DIR"
  mkdir -p "$RUN_DIR"
  # The tool and its own helper libraries are copied; the engine libraries are linked in
  # under both their own names and the names the tool was linked against.
  cp "$TOOLS_BUILD/bin/llama-bench" "$TOOLS_BUILD/bin/libllama-bench-impl.so" "$RUN_DIR/"
  cp -L "$TOOLS_BUILD/bin/libllama-common.so.0" "$RUN_DIR/"
  for lib in "$CACHE"/engine/lib/*.so; do ln -s "$lib" "$RUN_DIR/$(basename "$lib")"; done
  ln -s "$(readlink -f "$CACHE/engine/lib/libllama.so")" "$RUN_DIR/libllama.so.0"
  ln -s "$(readlink -f "$CACHE/engine/lib/libggml.so")" "$RUN_DIR/libggml.so.0"
  ln -s "$CACHE/engine/lib/libggml-base.so" "$RUN_DIR/libggml-base.so.0"
  tools_stamp >"$RUN_DIR/.stamp"
fi

/usr/bin/python3 scripts/make-speed-model.py "$TOOLS_BUILD/bin/llama-quantize"

exec /usr/bin/python3 bench/run.py --build "$BUILD" "$@"
