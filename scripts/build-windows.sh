#!/usr/bin/env bash
# Cross-builds quorvel-translate.exe and quorvel.exe for 64-bit Windows on Debian 12, in
# build-windows/: installs the cross compilers and Wine, lays out the pinned Windows engine
# (.cache/engine-windows), builds the libraries from Debian's sources (.cache/windows), then
# the program. The executables link every library and the C and C++ runtimes statically.
#
# Usage: scripts/build-windows.sh [--tests] [--package]
#   --tests    also builds the unit tests (they run under Wine: scripts/test-windows.sh)
#   --package  also makes the release zip (build-windows/quorvel-translate-*-windows-x64.zip)
set -euo pipefail
cd "$(dirname "$0")/.."

tests=OFF
package=""
for arg in "$@"; do
  case $arg in
    --tests) tests=ON ;;
    --package) package=1 ;;
    *) echo "usage: $0 [--tests] [--package]" >&2; exit 2 ;;
  esac
done

bash scripts/install-deps.sh windows
bash scripts/fetch-engine.sh --windows
bash scripts/windows-deps.sh
nice -n 19 cmake -S . -B build-windows -G Ninja \
  -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release \
  -DQUORVEL_ENGINE_CACHE="$PWD/.cache/engine-windows" -DQUORVEL_BENCH=OFF \
  -DQUORVEL_TESTS=$tests >/dev/null
nice -n 19 cmake --build build-windows -j2
if [[ -n $package ]]; then
  (cd build-windows && cpack -G ZIP >/dev/null)
  ls build-windows/quorvel-translate-*-windows-x64.zip
fi
