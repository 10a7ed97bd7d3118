#!/usr/bin/env bash
# Installs the Debian 12 packages the build and the tests need. Safe to run again.
set -euo pipefail

PACKAGES=(
  g++ cmake ninja-build pkg-config git
  nlohmann-json3-dev libzip-dev libexpat1-dev libcld2-dev libicu-dev libfmt-dev
  libsqlite3-dev libxxhash-dev libcli11-dev libcurl4-openssl-dev libssl-dev
  libgtest-dev libgmock-dev
  python3 python3-numpy
  pandoc libreoffice-writer-nogui libreoffice-calc-nogui libreoffice-impress-nogui
  python3-docx python3-openpyxl
)
# scripts/fuzz.sh: clang with libFuzzer (clang 19 is the first whose C++23 mode offers
# std::expected with this libstdc++).
if [[ "${1:-}" == fuzz ]]; then
  PACKAGES+=(clang-19 libclang-rt-19-dev)
fi
# scripts/build-windows.sh: the mingw-w64 cross compilers (posix threads, for std::thread),
# Windows zlib, Wine to run the results, and what building the other libraries from their
# Debian source packages takes (dpkg-source, tclsh for SQLite's single-file form, zip).
if [[ "${1:-}" == windows ]]; then
  PACKAGES+=(g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix libz-mingw-w64-dev
    wine64 dpkg-dev tcl zip)
fi

missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
# Node.js may come from elsewhere than Debian (a newer build is often preinstalled); Debian's
# npm would conflict with it, so it is only installed where there is no node or npm at all.
command -v node >/dev/null || missing+=(nodejs)
command -v npm >/dev/null || missing+=(npm)
SUDO=""
[[ $(id -u) -ne 0 ]] && SUDO=sudo
# The Windows build takes its libraries' sources from Debian (apt-get source): add deb-src
# entries beside the binary ones the machine already has.
if [[ "${1:-}" == windows ]] && ! apt-get indextargets --format '$(CREATED_BY)' 2>/dev/null |
  grep -q '^Sources$'; then
  for list in /etc/apt/sources.list.d/*.sources; do
    [[ -f $list && $list != *-src.sources ]] || continue
    sed 's/^Types: deb$/Types: deb-src/' "$list" | $SUDO tee "${list%.sources}-src.sources" >/dev/null
  done
  if [[ -f /etc/apt/sources.list ]] && grep -q '^deb ' /etc/apt/sources.list; then
    sed -n 's/^deb /deb-src /p' /etc/apt/sources.list |
      $SUDO tee /etc/apt/sources.list.d/quorvel-src.list >/dev/null
  fi
  $SUDO apt-get update -qq
fi
if ((${#missing[@]})); then
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
