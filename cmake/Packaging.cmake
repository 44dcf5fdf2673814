# Installation layout and packages (CPack): the Debian package on Linux, the NSIS installer and
# zip on Windows.
if(WIN32)
  include(PackagingWindows)
endif()
