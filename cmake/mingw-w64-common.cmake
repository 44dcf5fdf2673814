# SPDX-License-Identifier: GPL-3.0-or-later
# Shared part of the mingw-w64 toolchain files: set RENDAX_MINGW_TRIPLE, then include this.
# Debian's "-posix" compilers are used because std::thread and std::mutex need the POSIX thread
# model with g++ 12; everything is linked statically, so the programs need no DLL beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 6.1)  # Windows 7 and later

set(CMAKE_C_COMPILER ${RENDAX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${RENDAX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${RENDAX_MINGW_TRIPLE}-windres)

# The audio libraries (libsndfile with its codecs, soxr), built from Debian's sources by
# scripts/mingw-deps into a prefix of their own per triple.
if(DEFINED ENV{RENDAX_MINGW_DEPS} AND NOT "$ENV{RENDAX_MINGW_DEPS}" STREQUAL "")
  set(RENDAX_MINGW_DEPS_PREFIX $ENV{RENDAX_MINGW_DEPS}/${RENDAX_MINGW_TRIPLE})
else()
  set(RENDAX_MINGW_DEPS_PREFIX /var/cache/rendax/mingw-deps/${RENDAX_MINGW_TRIPLE})
endif()

set(CMAKE_FIND_ROOT_PATH /usr/${RENDAX_MINGW_TRIPLE} ${RENDAX_MINGW_DEPS_PREFIX})
set(CMAKE_PREFIX_PATH ${RENDAX_MINGW_DEPS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The host's pkg-config files describe Linux libraries: never offer them to this build.
set(ENV{PKG_CONFIG_LIBDIR}
    ${RENDAX_MINGW_DEPS_PREFIX}/lib/pkgconfig:/usr/${RENDAX_MINGW_TRIPLE}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")
# Static libraries only: their private dependencies (libsndfile's codecs) must be linked too.
set(PKG_CONFIG_ARGN --static)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# -O2 rather than -O3: at -O3 the 32-bit mingw g++ 12 reports a false array-bounds overflow in
# the tests' WAV writer (a vector insert), where the native compiler does not. Shipped programs
# are stripped.
set(CMAKE_C_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "")
set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG" CACHE STRING "")
set(CMAKE_EXE_LINKER_FLAGS_RELEASE_INIT "-s")

# Test programs run under wine (ctest, test discovery), each build in its own wine prefix.
# Debian's /usr/bin/wine always takes the 32-bit loader once wine32 is installed, so each build
# names its own loader.
find_program(RENDAX_WINE_LOADER NAMES ${RENDAX_WINE_LOADER_NAME} PATHS /usr/lib/wine NO_DEFAULT_PATH)
if(RENDAX_WINE_LOADER)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run ${RENDAX_WINE_LOADER}
                                    ${CMAKE_BINARY_DIR}/wine-prefix)
endif()
# Discovering tests at build time would start wine for every test program during the build, and
# the 32-bit programs cannot start at all where the kernel has no 32-bit support.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
