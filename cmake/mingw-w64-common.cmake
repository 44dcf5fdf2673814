# Shared part of the mingw-w64 toolchain files: set RENDAX_MINGW_TRIPLE, then include this.
# Debian's "-posix" compilers are used because std::thread and std::mutex need the POSIX thread
# model with g++ 12; everything is linked statically, so the programs need no DLL beside them.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 6.1)  # Windows 7 and later

set(CMAKE_C_COMPILER ${RENDAX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${RENDAX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${RENDAX_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${RENDAX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The host's pkg-config files describe Linux libraries: never offer them to this build.
set(ENV{PKG_CONFIG_LIBDIR} /usr/${RENDAX_MINGW_TRIPLE}/lib/pkgconfig)
set(ENV{PKG_CONFIG_PATH} "")

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Test programs run under wine: at test time (ctest) and for test discovery.
find_program(RENDAX_WINE NAMES wine)
if(RENDAX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${RENDAX_WINE})
endif()
# Discovering tests at build time would start wine for every test program during the build.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
