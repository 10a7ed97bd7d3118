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
  cmake --build build --target quorvel-translate
} >&2

exec build/quorvel-translate
