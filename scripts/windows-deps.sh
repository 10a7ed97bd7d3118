#!/usr/bin/env bash
# Builds the C and C++ libraries the Windows build links, from Debian's own source packages
# (apt-get source), with the mingw-w64 cross compilers: static libraries, headers and
# pkg-config files in .cache/windows/prefix. Header-only libraries (nlohmann-json, CLI11) are
# copied from the Debian packages the Linux build uses; zlib is Debian's libz-mingw-w64-dev.
# Each library is built once; a stamp with its source version skips it afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
WIN=$ROOT/.cache/windows
SRC=$WIN/src
BUILD=$WIN/build
PREFIX=$WIN/prefix
TOOLCHAIN=$ROOT/cmake/mingw-w64-x86_64.cmake
HOST=x86_64-w64-mingw32
CC=$HOST-gcc-posix
CXX=$HOST-g++-posix
JOBS=${JOBS:-2}
mkdir -p "$SRC" "$BUILD" "$PREFIX"/{lib/pkgconfig,include}

log() { echo "windows-deps: $*" >&2; }

# The unpacked source tree of Debian source package $1 (printed). When this machine's
# mirror lacks a file of the newest version, older versions are tried, and as a last resort
# the upstream tarball alone (without Debian's patches).
fetch_source() {
  local package=$1 dir
  dir=$(find "$SRC" -maxdepth 1 -type d -name "$package-[0-9]*" | head -n1)
  if [[ -n $dir ]]; then
    echo "$dir"
    return
  fi
  (
    cd "$SRC"
    for version in "" $(apt-cache showsrc "$package" | sed -n 's/^Version: //p'); do
      apt-get source -qq "$package${version:+=$version}" >/dev/null 2>&1 && exit 0
    done
    orig=$(ls "$package"_*.orig.tar.* 2>/dev/null | head -n1)
    [[ -n $orig ]] || { log "no source for $package"; exit 1; }
    upstream=${orig#"$package"_}
    upstream=${upstream%.orig.tar.*}
    mkdir -p "$package-$upstream"
    tar -xf "$orig" -C "$package-$upstream" --strip-components=1
  ) || exit 1
  find "$SRC" -maxdepth 1 -type d -name "$package-[0-9]*" | head -n1
}

done_already() { [[ -f $PREFIX/.stamp-$1 && $(cat "$PREFIX/.stamp-$1") == "$2" ]]; }
mark_done() { echo "$2" >"$PREFIX/.stamp-$1"; }

cmake_library() {
  local name=$1 source=$2
  shift 2
  nice -n 19 cmake -S "$source" -B "$BUILD/$name" -G Ninja -Wno-dev \
    -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_INSTALL_PREFIX="$PREFIX" -DBUILD_SHARED_LIBS=OFF "$@" >"$BUILD/$name.log"
  nice -n 19 cmake --build "$BUILD/$name" -j"$JOBS" >>"$BUILD/$name.log"
  cmake --install "$BUILD/$name" >>"$BUILD/$name.log"
}

build_expat() {
  local src
  src=$(fetch_source expat)
  done_already expat "$src" && return
  log "expat"
  # Debian's patches test the features' macros for 1, as its autotools build defines them;
  # CMake defines them empty.
  nice -n 19 cmake -S "$src/expat" -B "$BUILD/expat" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$TOOLCHAIN" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$PREFIX" -DEXPAT_SHARED_LIBS=OFF \
    -DEXPAT_BUILD_TOOLS=OFF -DEXPAT_BUILD_EXAMPLES=OFF -DEXPAT_BUILD_TESTS=OFF \
    -DEXPAT_BUILD_DOCS=OFF -DEXPAT_BUILD_FUZZERS=OFF >"$BUILD/expat.log"
  sed -i -E 's/^#define (XML_DTD|XML_NS)$/#define \1 1/' "$BUILD/expat/expat_config.h"
  nice -n 19 cmake --build "$BUILD/expat" -j"$JOBS" >>"$BUILD/expat.log"
  cmake --install "$BUILD/expat" >>"$BUILD/expat.log"
  mark_done expat "$src"
}

build_libzip() {
  local src
  src=$(fetch_source libzip)
  done_already libzip "$src" && return
  log "libzip"
  cmake_library libzip "$src" -DZLIB_LIBRARY=/usr/$HOST/lib/libz.a \
    -DZLIB_INCLUDE_DIR=/usr/$HOST/include -DENABLE_BZIP2=OFF -DENABLE_LZMA=OFF \
    -DENABLE_ZSTD=OFF -DENABLE_COMMONCRYPTO=OFF -DENABLE_GNUTLS=OFF -DENABLE_MBEDTLS=OFF \
    -DENABLE_OPENSSL=OFF -DENABLE_WINDOWS_CRYPTO=OFF -DBUILD_TOOLS=OFF -DBUILD_REGRESS=OFF \
    -DBUILD_EXAMPLES=OFF -DBUILD_DOC=OFF
  mark_done libzip "$src"
}

build_fmt() {
  local src
  src=$(fetch_source fmtlib)
  done_already fmt "$src" && return
  log "fmt"
  cmake_library fmt "$src" -DFMT_DOC=OFF -DFMT_TEST=OFF -DFMT_INSTALL=ON
  mark_done fmt "$src"
}

build_curl() {
  local src
  src=$(fetch_source curl)
  done_already curl "$src" && return
  log "curl (HTTP and HTTPS through Windows' own TLS, Schannel; nothing else)"
  cmake_library curl "$src" -DBUILD_CURL_EXE=OFF -DBUILD_TESTING=OFF -DENABLE_MANUAL=OFF \
    -DHTTP_ONLY=ON -DCURL_USE_SCHANNEL=ON -DCURL_USE_OPENSSL=OFF -DCURL_ZLIB=OFF \
    -DCURL_BROTLI=OFF -DCURL_ZSTD=OFF -DUSE_NGHTTP2=OFF -DUSE_LIBIDN2=OFF -DUSE_WIN32_IDN=OFF \
    -DCURL_USE_LIBSSH2=OFF -DCURL_USE_LIBPSL=OFF -DCURL_DISABLE_LDAP=ON -DENABLE_UNIX_SOCKETS=OFF \
    -DCURL_CA_BUNDLE=none -DCURL_CA_PATH=none
  mark_done curl "$src"
}

# Only the library; its own build wants more than the one C file it holds.
build_xxhash() {
  local src
  src=$(fetch_source xxhash)
  done_already xxhash "$src" && return
  log "xxhash"
  mkdir -p "$BUILD/xxhash"
  nice -n 19 $CC -O2 -c "$src/xxhash.c" -o "$BUILD/xxhash/xxhash.o"
  rm -f "$PREFIX/lib/libxxhash.a"
  $HOST-ar rcs "$PREFIX/lib/libxxhash.a" "$BUILD/xxhash/xxhash.o"
  cp "$src/xxhash.h" "$src/xxh3.h" "$PREFIX/include/"
  cat >"$PREFIX/lib/pkgconfig/libxxhash.pc" <<PC
prefix=$PREFIX
Name: libxxhash
Description: xxHash
Version: 0.8
Libs: -L\${prefix}/lib -lxxhash
Cflags: -I\${prefix}/include
PC
  mark_done xxhash "$src"
}

# SQLite's single-file form is generated from its tree by tools built for this machine (the
# file itself is the same for every system).
build_sqlite() {
  local src
  src=$(fetch_source sqlite3)
  done_already sqlite "$src" && return
  log "sqlite"
  rm -rf "$BUILD/sqlite"
  mkdir -p "$BUILD/sqlite"
  (cd "$BUILD/sqlite" && "$src/configure" --disable-tcl >configure.log 2>&1 &&
    nice -n 19 make -j"$JOBS" sqlite3.c >make.log 2>&1)
  nice -n 19 $CC -O2 -DSQLITE_THREADSAFE=1 -DSQLITE_OMIT_LOAD_EXTENSION -c \
    "$BUILD/sqlite/sqlite3.c" -o "$BUILD/sqlite/sqlite3.o"
  rm -f "$PREFIX/lib/libsqlite3.a"
  $HOST-ar rcs "$PREFIX/lib/libsqlite3.a" "$BUILD/sqlite/sqlite3.o"
  cp "$BUILD/sqlite/sqlite3.h" "$PREFIX/include/"
  cat >"$PREFIX/lib/pkgconfig/sqlite3.pc" <<PC
prefix=$PREFIX
Name: SQLite
Description: SQL database engine
Version: 3
Libs: -L\${prefix}/lib -lsqlite3
Cflags: -I\${prefix}/include
PC
  mark_done sqlite "$src"
}

# The library with the larger detection tables (the Linux build loads libcld2_full too).
build_cld2() {
  local src
  src=$(fetch_source cld2)
  done_already cld2 "$src" && return
  log "cld2"
  local out=$BUILD/cld2
  rm -rf "$out"
  mkdir -p "$out"
  local file
  for file in cldutil cldutil_shared compact_lang_det compact_lang_det_hint_code \
    compact_lang_det_impl debug fixunicodevalue generated_entities generated_language \
    generated_ulscript getonescriptspan lang_script offsetmap scoreonescriptspan tote \
    utf8statetable cld_generated_cjk_uni_prop_80 cld2_generated_cjk_compatible \
    cld_generated_cjk_delta_bi_32 generated_distinct_bi_0 cld2_generated_quad0122 \
    cld2_generated_deltaocta0122 cld2_generated_distinctocta0122 \
    cld_generated_score_quad_octa_0122; do
    echo "$src/internal/$file.cc"
  done | nice -n 19 xargs -P"$JOBS" -I{} sh -c \
    '$0 -O2 -std=gnu++98 -Wno-narrowing -c "$1" -o "$2/$(basename "$1" .cc).o"' "$CXX" {} "$out"
  rm -f "$PREFIX/lib/libcld2.a"
  $HOST-ar rcs "$PREFIX/lib/libcld2.a" "$out"/*.o
  # The public header includes one of the internal ones.
  mkdir -p "$PREFIX/include/cld2/public" "$PREFIX/include/cld2/internal"
  cp "$src"/public/*.h "$PREFIX/include/cld2/public/"
  cp "$src"/internal/*.h "$PREFIX/include/cld2/internal/"
  mark_done cld2 "$src"
}

copy_headers() {
  rm -rf "$PREFIX/include/nlohmann" "$PREFIX/include/CLI" "$PREFIX/share/cmake/nlohmann_json"
  cp -r /usr/include/nlohmann /usr/include/CLI "$PREFIX/include/"
  mkdir -p "$PREFIX/share/cmake"
  cp -r /usr/share/cmake/nlohmann_json "$PREFIX/share/cmake/"
}

build_googletest() {
  done_already googletest "$(dpkg-query -W -f='${Version}' googletest)" && return
  log "googletest"
  cmake_library googletest /usr/src/googletest -Dgtest_disable_pthreads=OFF
  mark_done googletest "$(dpkg-query -W -f='${Version}' googletest)"
}

copy_headers
build_expat
build_libzip
build_fmt
build_xxhash
build_sqlite
build_cld2
build_curl
build_googletest
log "libraries ready in $PREFIX"
