# SPDX-License-Identifier: GPL-3.0-or-later
# 64-bit Windows with Debian's mingw-w64 (g++-mingw-w64-x86-64-posix).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(RENDAX_MINGW_TRIPLE x86_64-w64-mingw32)
set(RENDAX_WINE_LOADER_NAME wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
