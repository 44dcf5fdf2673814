# SPDX-License-Identifier: GPL-3.0-or-later
# Windows installer (NSIS) and zip, one of each per architecture:
#   rendax-<version>-win64.exe / .zip   and   rendax-<version>-win32.exe / .zip
# Both hold bin\rendax.exe, bin\rendax-cli.exe, README.txt, LICENSE.txt and the audio libraries'
# licences. The installer puts them under
# Program Files\Rendax Companion, adds a Start-menu entry for the window program and an
# uninstaller registered in the system's list of programs. `cpack -G "NSIS;ZIP"` in a Windows
# build folder makes both (makensis from Debian's nsis package).
include(GNUInstallDirs)

# Windows line ends, so that every Notepad shows the text as lines.
configure_file(${PROJECT_SOURCE_DIR}/packaging/windows/README.txt.in
               ${PROJECT_BINARY_DIR}/packaging/README.txt @ONLY NEWLINE_STYLE CRLF)
install(FILES ${PROJECT_BINARY_DIR}/packaging/README.txt DESTINATION .)
# The licence (shown by the installer too), and those of the audio libraries linked in, as
# scripts/mingw-deps keeps them beside the libraries.
configure_file(${PROJECT_SOURCE_DIR}/LICENSE ${PROJECT_BINARY_DIR}/packaging/LICENSE.txt @ONLY
               NEWLINE_STYLE CRLF)
install(FILES ${PROJECT_BINARY_DIR}/packaging/LICENSE.txt DESTINATION .)
install(DIRECTORY ${RENDAX_MINGW_DEPS_PREFIX}/share/rendax-licenses/ DESTINATION .)

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(_rdx_arch win64)
else()
  set(_rdx_arch win32)
endif()

set(CPACK_GENERATOR "NSIS;ZIP")
set(CPACK_PACKAGE_NAME "Rendax Companion")
set(CPACK_PACKAGE_VENDOR "Rendax Companion")
# All four parts: CPack's default would drop the fourth.
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Desktop companion for the Rendax loop-recording pedals")
set(CPACK_SYSTEM_NAME ${_rdx_arch})
set(CPACK_PACKAGE_FILE_NAME "rendax-${PROJECT_VERSION}-${_rdx_arch}")
set(CPACK_PACKAGE_INSTALL_DIRECTORY "Rendax Companion")
# Without the version, so that a newer installer finds and replaces the older installation.
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY "Rendax Companion")
set(CPACK_PACKAGE_EXECUTABLES rendax "Rendax")
set(CPACK_STRIP_FILES OFF) # the release programs are linked stripped already

set(_rdx_icon ${PROJECT_BINARY_DIR}/app/win32/pictures/icon.ico)
set(CPACK_NSIS_PACKAGE_NAME "Rendax Companion")
set(CPACK_NSIS_DISPLAY_NAME "Rendax Companion")
set(CPACK_NSIS_MUI_ICON ${_rdx_icon})
set(CPACK_NSIS_MUI_UNIICON ${_rdx_icon})
# The header of every installer page shows the program's own picture (made by app/win32).
set(CPACK_NSIS_MUI_HEADERIMAGE ${PROJECT_BINARY_DIR}/app/win32/pictures/installer_header.bmp)
set(CPACK_NSIS_EXECUTABLES_DIRECTORY ${CMAKE_INSTALL_BINDIR})
set(CPACK_NSIS_INSTALLED_ICON_NAME "${CMAKE_INSTALL_BINDIR}\\\\rendax.exe")
set(CPACK_NSIS_MUI_FINISHPAGE_RUN rendax.exe)
set(CPACK_NSIS_MANIFEST_DPI_AWARE ON)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_BINARY_DIR}/packaging/LICENSE.txt)
set(CPACK_NSIS_COMPRESSOR "/SOLID lzma")
# The uninstaller removes Software\<vendor>\<key> but not the vendor's key above it; these lines
# run after that removal. (Backslashes doubled: the value is written into CPackConfig.cmake.)
set(CPACK_NSIS_DELETE_ICONS_EXTRA
    "DeleteRegKey /ifempty SHCTX 'Software\\\\${CPACK_PACKAGE_VENDOR}'")
# The size Settings > Apps shows: the installed files of the one section, in KiB.
set(CPACK_NSIS_EXTRA_INSTALL_COMMANDS
    "SectionGetSize 0 $0
  WriteRegDWORD SHCTX 'Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Uninstall\\\\${CPACK_PACKAGE_INSTALL_REGISTRY_KEY}' 'EstimatedSize' $0")

# The 64-bit installer is itself a 64-bit program: it writes the 64-bit Program Files and the
# 64-bit registry, where Windows looks for a 64-bit program's uninstaller, and 32-bit Windows
# refuses to start it. The version record is the installer's Properties > Details.
if(_rdx_arch STREQUAL win64)
  set(_rdx_target amd64-unicode)
  set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
else()
  set(_rdx_target x86-unicode)
  set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES")
endif()
# A version record's numbers are four, whatever project() was given.
string(REGEX MATCH "^[0-9]+\\.[0-9]+\\.[0-9]+\\.[0-9]+" _rdx_version4 "${PROJECT_VERSION}.0.0.0")
string(CONCAT CPACK_NSIS_DEFINES
  "Target ${_rdx_target}\n"
  "VIProductVersion ${_rdx_version4}\n"
  "VIFileVersion ${_rdx_version4}\n"
  "VIAddVersionKey /LANG=1033 ProductName 'Rendax Companion'\n"
  "VIAddVersionKey /LANG=1033 ProductVersion ${PROJECT_VERSION}\n"
  "VIAddVersionKey /LANG=1033 FileDescription 'Rendax Companion Setup'\n"
  "VIAddVersionKey /LANG=1033 FileVersion ${PROJECT_VERSION}\n"
  "VIAddVersionKey /LANG=1033 OriginalFilename ${CPACK_PACKAGE_FILE_NAME}.exe\n")

include(CPack)
