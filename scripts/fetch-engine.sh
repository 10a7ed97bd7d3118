#!/usr/bin/env bash
# Fetches the pinned llama.cpp engine from the npm registry and lays it out in the ignored
# cache, where the build compiles against its headers and links its libraries to
# <build>/resources/engine:
#
#   .cache/engine/lib/        libggml.so, libggml-base.so, libllama.so, libggml-cpu-*.so
#   .cache/engine/include/    llama.h and the ggml headers
#   .cache/llama.cpp-src/     the matching llama.cpp source (gguf-py, tools for benchmarks)
#
# Usage: scripts/fetch-engine.sh [--gpu vulkan|cuda] [--windows]
#   --gpu also lays out that GPU build in .cache/engine-<gpu>/lib; point TRANSLATE_LLM_DIR at
#   it (or copy it to <install dir>/resources/engine) on a machine with such hardware.
#   --windows also lays out the Windows x64 engine for the cross build (scripts/
#   build-windows.sh): .cache/engine-windows/lib (ggml.dll, ggml-base.dll, llama.dll and the
#   CPU backends) and .cache/engine-windows/include. The newest Windows package is older
#   than the Linux pin, so it has a pin of its own, with the headers of its own release.
#
# Safe to run again: with a warm cache it only compares a stamp and exits.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
CACHE=$ROOT/.cache

VERSION=3.22.1
LLAMA_RELEASE=v0.5.0
SOURCE_PACKAGE=node-llama-cpp
# The Windows pin: the newest release of the Windows package.
WINDOWS_VERSION=3.21.1
WINDOWS_LLAMA_RELEASE=v0.4.0
declare -A WINDOWS_PACKAGE_SHA256=(
  [node-llama-cpp]=7a231d6bafa14142a1cbed9893d4ec5bc6041b2a5f5939a623accaab4203c11f
  [@node-llama-cpp/win-x64]=9e48b1bf39e41c8b955a20006a3bdfd4861bedbb2661c87f7e29a5207f1ff0e8
)
declare -A PACKAGE_SHA256=(
  [node-llama-cpp]=a0d9dd80eacd2ab1cfe71aee57ac8a806487fd70b3d2a38fbec637752d9e5c5f
  [@node-llama-cpp/linux-x64]=0d953e1503d5ab4608d8ed5b739132308c81ac05ffeb760d2a7f30e08a9f90e0
  [@node-llama-cpp/linux-x64-vulkan]=e10577190fc4bd1649d3b655588e5c7a85fc6b6dbf7136fee596cbe9e25521e7
  [@node-llama-cpp/linux-x64-cuda]=d6cd3ff39a43b024816952e0bc6452d6711608d26256ff6eb0fe8cf7ff55bb2c
)

gpu=""
windows=""
while (($#)); do
  case $1 in
    --gpu) gpu=${2:-}; shift 2 ;;
    --gpu=*) gpu=${1#--gpu=}; shift ;;
    --windows) windows=1; shift ;;
    *) echo "usage: $0 [--gpu vulkan|cuda] [--windows]" >&2; exit 2 ;;
  esac
done
case $gpu in "" | vulkan | cuda) ;; *) echo "unknown GPU engine: $gpu" >&2; exit 2 ;; esac

log() { echo "fetch-engine: $*" >&2; }

# The tarball file name npm pack gives a package: scope folded into the name.
tarball_of() {
  local name=${1#@} version=${2:-$VERSION}
  echo "$CACHE/npm/${name//\//-}-$version.tgz"
}

sha256_of() { sha256sum "$1" | cut -d' ' -f1; }

# Downloads one pinned package into .cache/npm unless a copy with the pinned hash is there.
# Usage: fetch_package NAME [VERSION SHA256] (the Linux pin by default).
fetch_package() {
  local package=$1 version=${2:-$VERSION} want=${3:-${PACKAGE_SHA256[$1]:-}} file
  file=$(tarball_of "$package" "$version")
  if [[ -f $file && $(sha256_of "$file") == "$want" ]]; then
    return
  fi
  mkdir -p "$CACHE/npm"
  log "downloading $package@$version"
  rm -f "$file"
  (cd "$CACHE/npm" && npm pack --silent "$package@$version" >/dev/null)
  local got
  got=$(sha256_of "$file")
  if [[ $got != "$want" ]]; then
    rm -f "$file"
    log "checksum mismatch for $package@$version: expected $want, got $got"
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

# The Windows engine as real files (a zip keeps no links): the versioned ggml and llama
# libraries under the names the engine directory uses, llama importing ggml by its new name.
ensure_windows_engine() {
  local dest=$CACHE/engine-windows stamp want
  stamp=$dest/.stamp
  want="$WINDOWS_VERSION $WINDOWS_LLAMA_RELEASE ${WINDOWS_PACKAGE_SHA256[*]}"
  if [[ -f $stamp && $(cat "$stamp") == "$want" && -f $dest/lib/llama.dll &&
        -f $dest/include/llama.h ]]; then
    return
  fi
  local package=@node-llama-cpp/win-x64
  fetch_package "$package" "$WINDOWS_VERSION" "${WINDOWS_PACKAGE_SHA256[$package]}"
  fetch_package "$SOURCE_PACKAGE" "$WINDOWS_VERSION" "${WINDOWS_PACKAGE_SHA256[$SOURCE_PACKAGE]}"
  rm -f "$stamp"
  local tmp
  tmp=$(mktemp -d "$CACHE/unpack.XXXXXX")
  tar -xzf "$(tarball_of "$package" "$WINDOWS_VERSION")" -C "$tmp" --wildcards 'package/bins/*'
  local bins=$tmp/package/bins/win-x64 v=$WINDOWS_LLAMA_RELEASE
  mkdir -p "$tmp/lib"
  cp "$bins"/ggml-base.dll "$bins"/ggml-cpu-*.dll "$tmp/lib/"
  cp "$bins/ggml.$v.dll" "$tmp/lib/ggml.dll"
  cp "$bins/llama.$v.dll" "$tmp/lib/llama.dll"
  /usr/bin/python3 scripts/rename-dll-import.py "$tmp/lib/llama.dll" "ggml.$v.dll" ggml.dll
  tar -xzf "$(tarball_of "$SOURCE_PACKAGE" "$WINDOWS_VERSION")" -C "$tmp" \
    package/llama/gitRelease.bundle
  git clone --quiet "$tmp/package/llama/gitRelease.bundle" "$tmp/src" 2>/dev/null
  mkdir -p "$tmp/include"
  cp "$tmp/src/include/llama.h" "$tmp/src"/ggml/include/*.h "$tmp/include/"
  chmod 755 "$tmp/lib" "$tmp/include"
  rm -rf "$dest"
  mkdir -p "$dest"
  mv "$tmp/lib" "$tmp/include" "$dest/"
  rm -rf "$tmp"
  echo "$want" >"$stamp"
  log "Windows engine ready in .cache/engine-windows"
}

mkdir -p "$CACHE"
ensure_cpu_engine
if [[ -n $gpu ]]; then
  ensure_gpu_engine "$gpu"
fi
if [[ -n $windows ]]; then
  ensure_windows_engine
fi
