# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (posix threads, for std::thread).
# The libraries come from scripts/windows-deps.sh, built into .cache/windows/prefix.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${MINGW_TRIPLE}-windres)

set(QUORVEL_WINDOWS_PREFIX "${CMAKE_CURRENT_LIST_DIR}/../.cache/windows/prefix"
  CACHE PATH "Windows builds of the libraries")
get_filename_component(QUORVEL_WINDOWS_PREFIX "${QUORVEL_WINDOWS_PREFIX}" ABSOLUTE)

set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_TRIPLE} "${QUORVEL_WINDOWS_PREFIX}")
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# pkg-config sees only the Windows libraries, and lists what static linking needs.
set(ENV{PKG_CONFIG_LIBDIR} "${QUORVEL_WINDOWS_PREFIX}/lib/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
set(PKG_CONFIG_ARGN --static)

# The C and C++ runtimes and winpthread linked in: the executables need no DLL beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static-libgcc -static-libstdc++")

# Programs built here run under Wine (test discovery, CTest).
find_program(QUORVEL_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(QUORVEL_WINE64)
  set(CMAKE_CROSSCOMPILING_EMULATOR "${QUORVEL_WINE64}")
endif()
