#!/usr/bin/env bash
# Builds llama.cpp's llama-server from the fetched source (scripts/fetch-engine.sh) and lays
# it out to run against the fetched engine libraries, the very ones our server loads:
#
#   .cache/llama-server-build/   the build (only the llama-server target and what it needs)
#   .cache/llama-server-run/     llama-server, its helper libraries, links to the engine
#
# The tests that translate through a real llama-server and bench/remote.sh use it. The first
# run takes several minutes; later runs compare a stamp and exit. Prints the binary's path.
set -euo pipefail
cd "$(dirname "$0")/.."
CACHE=$PWD/.cache
BUILD=$CACHE/llama-server-build
RUN_DIR=$CACHE/llama-server-run

log() { echo "build-llama-server: $*" >&2; }

stamp() { echo "$(git -C "$CACHE/llama.cpp-src" rev-parse HEAD) $(cat "$CACHE/engine/.stamp")"; }

if [[ -x $RUN_DIR/llama-server && $(cat "$RUN_DIR/.stamp" 2>/dev/null) == "$(stamp)" ]]; then
  echo "$RUN_DIR/llama-server"
  exit 0
fi

log "building llama-server in $BUILD (several minutes)"
# No web page (it would be fetched or built with npm), no HTTPS, no subprocesses: the
# smallest server that answers completions.
cmake -S "$CACHE/llama.cpp-src" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DBUILD_SHARED_LIBS=ON -DGGML_BACKEND_DL=ON -DGGML_NATIVE=OFF -DLLAMA_BUILD_TESTS=OFF \
  -DLLAMA_BUILD_EXAMPLES=OFF -DLLAMA_BUILD_TOOLS=ON -DLLAMA_BUILD_SERVER=ON \
  -DLLAMA_BUILD_APP=OFF -DLLAMA_BUILD_UI=OFF -DLLAMA_USE_PREBUILT_UI=OFF \
  -DLLAMA_OPENSSL=OFF -DLLAMA_SUBPROCESS=OFF >/dev/null
cmake --build "$BUILD" --target llama-server ${LLAMA_SERVER_JOBS:+-j "$LLAMA_SERVER_JOBS"} >&2

rm -rf "$RUN_DIR"
mkdir -p "$RUN_DIR"
# The server and its own helper libraries are copied; the engine libraries are linked in under
# both their own names and the names the server was linked against.
cp "$BUILD/bin/llama-server" "$RUN_DIR/"
for lib in "$BUILD"/bin/*.so*; do
  case $(basename "$lib") in
    libllama.so* | libggml*) ;;
    *) cp -L "$lib" "$RUN_DIR/" ;;
  esac
done
# Relative links: the cache stays usable when the checkout moves or is reached through a link.
for lib in "$CACHE"/engine/lib/*.so; do ln -s "../engine/lib/$(basename "$lib")" "$RUN_DIR/"; done
ln -s "../engine/lib/$(basename "$(readlink -f "$CACHE/engine/lib/libllama.so")")" "$RUN_DIR/libllama.so.0"
ln -s "../engine/lib/$(basename "$(readlink -f "$CACHE/engine/lib/libggml.so")")" "$RUN_DIR/libggml.so.0"
ln -s ../engine/lib/libggml-base.so "$RUN_DIR/libggml-base.so.0"
stamp >"$RUN_DIR/.stamp"
log "llama-server ready in $RUN_DIR"
echo "$RUN_DIR/llama-server"
