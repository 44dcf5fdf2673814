# SPDX-License-Identifier: GPL-3.0-or-later
# Runs in CPack's staging folder before the package is made: strips the programs as Debian's own
# packages are stripped, symbols and the compiler's notes alike.
find_program(STRIP_PROGRAM strip REQUIRED)
file(GLOB _rdx_programs ${CPACK_TEMPORARY_INSTALL_DIRECTORY}/usr/bin/*)
foreach(program IN LISTS _rdx_programs)
  execute_process(COMMAND ${STRIP_PROGRAM} --remove-section=.comment --remove-section=.note
                          ${program}
                  COMMAND_ERROR_IS_FATAL ANY)
endforeach()
