# Windows installer (NSIS) and zip.
