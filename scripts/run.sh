#!/usr/bin/env bash
# Sets up what is missing (Debian packages, the llama.cpp engine, the build) and then starts
# the MCP server on this process's stdin/stdout. Set-up output goes to stderr only, so an
# MCP client may start this script directly.
set -euo pipefail
cd "$(dirname "$0")/.."

{
  bash scripts/install-deps.sh
  bash scripts/fetch-engine.sh
  if [[ ! -x build/quorvel-translate ]]; then
    cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUORVEL_TESTS=OFF
  fi
  cmake --build build --target quorvel-translate quorvel
} >&2

# In a terminal, say what is running and how to use it for real: a host should start the
# built binary itself (this script spends a second or two checking the build first).
if [[ -t 2 ]]; then
  echo "quorvel-translate is ready and reads MCP requests here (Ctrl-D ends it)." >&2
  echo "Register $(pwd)/build/quorvel-translate as the command of an MCP server in your host;" \
    "see the README." >&2
fi
exec build/quorvel-translate
