# SPDX-License-Identifier: GPL-3.0-or-later
# Installation layout and packages (CPack): the Debian package on Linux, the NSIS installer and
# zip on Windows.
if(WIN32)
  include(PackagingWindows)
elseif(CMAKE_SYSTEM_NAME STREQUAL "Linux")
  set(RENDAX_PACKAGE_MAINTAINER "Rendax Companion developers <packages@rendax.invalid>"
      CACHE STRING "The Debian package's maintainer: name <address>")
  add_subdirectory(${PROJECT_SOURCE_DIR}/packaging/linux ${PROJECT_BINARY_DIR}/packaging/linux)

  # rendax_VERSION_amd64.deb, from a build configured with -DCMAKE_INSTALL_PREFIX=/usr:
  #   cmake -B build -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr && cmake --build build
  #   cd build && cpack -G DEB
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_NAME rendax)
  set(CPACK_PACKAGE_VENDOR "Rendax Companion")
  # All four parts: CPack's default would drop the fourth.
  set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "companion for the Rendax loop-recording pedals")
  file(READ ${PROJECT_SOURCE_DIR}/packaging/linux/debian/description
       CPACK_DEBIAN_PACKAGE_DESCRIPTION)
  set(CPACK_PACKAGE_CONTACT ${RENDAX_PACKAGE_MAINTAINER})
  # Stripped in the staging folder, symbols and the compiler's notes alike.
  set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/linux/debian/strip.cmake)
  # The udev rule lives outside /usr on Debian 12 (/lib/udev): install into the staging folder
  # with DESTDIR so that absolute destinations land there too, never on the build machine.
  set(CPACK_SET_DESTDIR ON)
  set(CPACK_INSTALL_PREFIX /usr)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  # Modes independent of the umask of whoever builds the package.
  set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
      OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION sound)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  # The About box is in Chinese. A small font is enough for it; a desktop that already has Noto
  # CJK needs nothing more.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk")
  set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
      ${PROJECT_SOURCE_DIR}/packaging/linux/debian/postinst
      ${PROJECT_SOURCE_DIR}/packaging/linux/debian/postrm)

  include(CPack)
endif()
