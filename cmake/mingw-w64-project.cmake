# SPDX-License-Identifier: GPL-3.0-or-later
# Included right after project() in the Windows cross builds (CMAKE_PROJECT_INCLUDE in the win64
# and win32 presets). Debian has no GoogleTest for mingw, so it is built here from the sources
# that libgtest-dev installs, and find_package(GTest) is answered with those targets.
# Every project() call includes this file, GoogleTest's own among them: act once.
include_guard(GLOBAL)
# The audio libraries come from a prefix that the toolchain file names (scripts/mingw-deps).
if(NOT EXISTS ${RENDAX_MINGW_DEPS_PREFIX}/lib/pkgconfig/sndfile.pc)
  message(FATAL_ERROR "No audio libraries for ${RENDAX_MINGW_TRIPLE} in "
                      "${RENDAX_MINGW_DEPS_PREFIX}: run scripts/mingw-deps (scripts/setup windows)")
endif()
if(NOT DEFINED RENDAX_BUILD_TESTS OR RENDAX_BUILD_TESTS)
  set(RENDAX_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources for the cross build")
  if(NOT EXISTS ${RENDAX_GTEST_SOURCE}/CMakeLists.txt)
    message(FATAL_ERROR "No GoogleTest sources at ${RENDAX_GTEST_SOURCE}: run scripts/setup windows")
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK ON CACHE BOOL "" FORCE)
  add_subdirectory(${RENDAX_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
  # find_package looks in the redirection folder before anywhere else; an empty package file
  # there hands out the GTest:: targets just made.
  file(WRITE ${CMAKE_FIND_PACKAGE_REDIRECTS_DIR}/gtest-config.cmake
       "# GoogleTest built from source in this tree\nset(GTest_FOUND TRUE)\n")
  file(WRITE ${CMAKE_FIND_PACKAGE_REDIRECTS_DIR}/gtest-config-version.cmake
       "set(PACKAGE_VERSION_COMPATIBLE TRUE)\nset(PACKAGE_VERSION_EXACT TRUE)\n")
endif()
