#!/usr/bin/env bash
# Sets everything up on a fresh Debian 12 machine, builds, and runs every test:
# the GoogleTest suite through CTest, the end-to-end MCP tests through Node, the unit tests
# once more built with AddressSanitizer and UndefinedBehaviorSanitizer, and the server,
# engine and remote-engine tests built with ThreadSanitizer; then the Windows build and its
# tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/install-deps.sh
# The llama.cpp engine and the test models live in the ignored .cache/, made here.
bash scripts/fetch-engine.sh
/usr/bin/python3 scripts/make-test-models.py
# llama-server from the fetched source, for the remote-engine tests (kept in .cache/).
bash scripts/build-llama-server.sh >/dev/null
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build

ctest --test-dir build --output-on-failure -j2

(cd tests/e2e && npm ci --no-audit --no-fund --silent && node --test --test-concurrency=1)

cmake --preset asan >/dev/null
cmake --build --preset asan
ctest --preset asan

# The server, engine and remote-engine tests once more under ThreadSanitizer: the server runs
# a reader, a worker and a progress thread; a cancel wakes the remote engine's transfers.
cmake --preset tsan >/dev/null
cmake --build --preset tsan
ctest --preset tsan

# The Windows build, cross-compiled with mingw-w64, and its tests under Wine.
bash scripts/test-windows.sh
