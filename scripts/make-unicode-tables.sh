#!/usr/bin/env bash
# Regenerates src/platform/unicode_tables.inc from the ICU of this machine (libicu-dev).
set -euo pipefail
cd "$(dirname "$0")/.."
tool=$(mktemp)
trap 'rm -f "$tool"' EXIT
g++ -std=c++23 -O1 -o "$tool" scripts/make-unicode-tables.cc $(pkg-config --cflags --libs icu-uc)
"$tool" > src/platform/unicode_tables.inc
