# SPDX-License-Identifier: GPL-3.0-or-later
# The program's version, from project(VERSION): a generated header for the code (the interface
# library rendax_version), and the four numbers a Windows version record needs.
foreach(part MAJOR MINOR PATCH TWEAK)
  if("${PROJECT_VERSION_${part}}" STREQUAL "")
    set(RENDAX_VERSION_${part} 0)
  else()
    set(RENDAX_VERSION_${part} ${PROJECT_VERSION_${part}})
  endif()
endforeach()
set(RENDAX_VERSION ${PROJECT_VERSION})

configure_file(${CMAKE_CURRENT_LIST_DIR}/rendax_version.h.in
               ${PROJECT_BINARY_DIR}/generated/rendax_version.h @ONLY)
add_library(rendax_version INTERFACE)
target_include_directories(rendax_version INTERFACE ${PROJECT_BINARY_DIR}/generated)
