#!/usr/bin/env bash
# Fetches the pinned llama.cpp engine from the npm registry and lays it out in the ignored
# cache, where the build compiles against its headers and links its libraries to
# <build>/resources/engine:
#
#   .cache/engine/lib/        libggml.so, libggml-base.so, libllama.so, libggml-cpu-*.so
#   .cache/engine/include/    llama.h and the ggml headers
#   .cache/llama.cpp-src/     the matching llama.cpp source (gguf-py, tools for benchmarks)
#
# Usage: scripts/fetch-engine.sh [--gpu vulkan|cuda]
#   --gpu also lays out that GPU build in .cache/engine-<gpu>/lib; point TRANSLATE_LLM_DIR at
#   it (or copy it to <install dir>/resources/engine) on a machine with such hardware.
#
# Safe to run again: with a warm cache it only compares a stamp and exits.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
CACHE=$ROOT/.cache

VERSION=3.22.1
LLAMA_RELEASE=v0.5.0
SOURCE_PACKAGE=node-llama-cpp
declare -A PACKAGE_SHA256=(
  [node-llama-cpp]=a0d9dd80eacd2ab1cfe71aee57ac8a806487fd70b3d2a38fbec637752d9e5c5f
  [@node-llama-cpp/linux-x64]=0d953e1503d5ab4608d8ed5b739132308c81ac05ffeb760d2a7f30e08a9f90e0
  [@node-llama-cpp/linux-x64-vulkan]=e10577190fc4bd1649d3b655588e5c7a85fc6b6dbf7136fee596cbe9e25521e7
  [@node-llama-cpp/linux-x64-cuda]=d6cd3ff39a43b024816952e0bc6452d6711608d26256ff6eb0fe8cf7ff55bb2c
)

gpu=""
while (($#)); do
  case $1 in
    --gpu) gpu=${2:-}; shift 2 ;;
    --gpu=*) gpu=${1#--gpu=}; shift ;;
    *) echo "usage: $0 [--gpu vulkan|cuda]" >&2; exit 2 ;;
  esac
done
case $gpu in "" | vulkan | cuda) ;; *) echo "unknown GPU engine: $gpu" >&2; exit 2 ;; esac

log() { echo "fetch-engine: $*" >&2; }

# The tarball file name npm pack gives a package: scope folded into the name.
tarball_of() {
  local name=${1#@}
  echo "$CACHE/npm/${name//\//-}-$VERSION.tgz"
}

sha256_of() { sha256sum "$1" | cut -d' ' -f1; }

# Downloads one pinned package into .cache/npm unless a copy with the pinned hash is there.
fetch_package() {
  local package=$1 want=${PACKAGE_SHA256[$1]} file
  file=$(tarball_of "$package")
  if [[ -f $file && $(sha256_of "$file") == "$want" ]]; then
    return
  fi
  mkdir -p "$CACHE/npm"
  log "downloading $package@$VERSION"
  rm -f "$file"
  (cd "$CACHE/npm" && npm pack --silent "$package@$VERSION" >/dev/null)
  local got
  got=$(sha256_of "$file")
  if [[ $got != "$want" ]]; then
    rm -f "$file"
    log "checksum mismatch for $package@$VERSION: expected $want, got $got"
    exit 1
  fi
}

# Lays out the engine libraries of one binary package in $2/lib: the backends and ggml-base
# as shipped, plus the unversioned names the engine code looks for.
layout_libraries() {
  local package=$1 dest=$2 tmp
  tmp=$(mktemp -d "$CACHE/unpack.XXXXXX")
  tar -xzf "$(tarball_of "$package")" -C "$tmp" --wildcards 'package/bins/*'
  local bins
  bins=$(find "$tmp/package/bins" -mindepth 1 -maxdepth 1 -type d | head -n1)
  mkdir -p "$tmp/lib"
  cp "$bins"/libggml-*.so "$bins"/libggml.*.so "$bins"/libllama.*.so "$tmp/lib/"
  rm -f "$tmp/lib"/libllama-common.so
  local ggml llama
  ggml=$(cd "$tmp/lib" && ls libggml.*"$LLAMA_RELEASE".so)
  llama=$(cd "$tmp/lib" && ls libllama.*"$LLAMA_RELEASE".so)
  ln -s "$ggml" "$tmp/lib/libggml.so"
  ln -s "$llama" "$tmp/lib/libllama.so"
  chmod 755 "$tmp/lib"
  rm -rf "$dest/lib"
  mkdir -p "$dest"
  mv "$tmp/lib" "$dest/lib"
  rm -rf "$tmp"
}

# Clones the llama.cpp source that the binaries were built from (a git bundle inside the
# node-llama-cpp package).
layout_source() {
  local tmp
  tmp=$(mktemp -d "$CACHE/unpack.XXXXXX")
  tar -xzf "$(tarball_of "$SOURCE_PACKAGE")" -C "$tmp" package/llama/gitRelease.bundle
  git clone --quiet "$tmp/package/llama/gitRelease.bundle" "$tmp/src" 2>/dev/null
  rm -rf "$CACHE/llama.cpp-src"
  mv "$tmp/src" "$CACHE/llama.cpp-src"
  rm -rf "$tmp"
}

layout_headers() {
  local src=$CACHE/llama.cpp-src tmp
  tmp=$(mktemp -d "$CACHE/unpack.XXXXXX")
  cp "$src/include/llama.h" "$src"/ggml/include/*.h "$tmp/"
  chmod 755 "$tmp"
  rm -rf "$CACHE/engine/include"
  mkdir -p "$CACHE/engine"
  mv "$tmp" "$CACHE/engine/include"
}

# Everything a layout depends on, so a changed pin lays the engine out again.
stamp_for() {
  echo "$VERSION $LLAMA_RELEASE ${PACKAGE_SHA256[$1]} ${PACKAGE_SHA256[$SOURCE_PACKAGE]}"
}

ensure_cpu_engine() {
  local stamp=$CACHE/engine/.stamp want
  want=$(stamp_for @node-llama-cpp/linux-x64)
  if [[ -f $stamp && $(cat "$stamp") == "$want" && -e $CACHE/engine/lib/libllama.so &&
        -f $CACHE/engine/include/llama.h && -d $CACHE/llama.cpp-src/gguf-py ]]; then
    return
  fi
  fetch_package "$SOURCE_PACKAGE"
  fetch_package @node-llama-cpp/linux-x64
  rm -f "$stamp"
  layout_source
  layout_headers
  layout_libraries @node-llama-cpp/linux-x64 "$CACHE/engine"
  echo "$want" >"$stamp"
  log "engine ready in .cache/engine"
}

ensure_gpu_engine() {
  local package=@node-llama-cpp/linux-x64-$1 dest=$CACHE/engine-$1
  local stamp=$dest/.stamp want
  want=$(stamp_for "$package")
  if [[ -f $stamp && $(cat "$stamp") == "$want" && -e $dest/lib/libllama.so ]]; then
    return
  fi
  fetch_package "$package"
  rm -f "$stamp"
  layout_libraries "$package" "$dest"
  echo "$want" >"$stamp"
  log "$1 engine ready in .cache/engine-$1 (set TRANSLATE_LLM_DIR=$dest/lib to use it)"
}

mkdir -p "$CACHE"
ensure_cpu_engine
if [[ -n $gpu ]]; then
  ensure_gpu_engine "$gpu"
fi
