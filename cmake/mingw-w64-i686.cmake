# SPDX-License-Identifier: GPL-3.0-or-later
# 32-bit Windows with Debian's mingw-w64 (g++-mingw-w64-i686-posix).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(RENDAX_MINGW_TRIPLE i686-w64-mingw32)
set(RENDAX_WINE_LOADER_NAME wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
