# SPDX-License-Identifier: GPL-3.0-or-later
# Turns the three firmware images into a C++ source file.
#   cmake -DIMAGE_DIR=<folder with model0.bin..model2.bin> -DOUTPUT=<file.cpp>
#         -DREPO_IMAGE_DIR=<the repository's own image folder> -P embed_images.cmake
# The images count as development images when they are the repository's own, or when any of
# them carries the development marker (a copy of them elsewhere is no maker's image).
set(_marker_hex "52454e4441582d444556454c4f504d454e542d494d414745")  # RENDAX-DEVELOPMENT-IMAGE
get_filename_component(_dir "${IMAGE_DIR}" REALPATH)
get_filename_component(_repo "${REPO_IMAGE_DIR}" REALPATH)
set(_development false)
if(_dir STREQUAL _repo)
  set(_development true)
endif()

set(_body "")
foreach(_model 0 1 2)
  set(_file "${_dir}/model${_model}.bin")
  if(NOT EXISTS "${_file}")
    message(FATAL_ERROR "Firmware image missing: ${_file}")
  endif()
  file(SIZE "${_file}" _size)
  if(NOT _size EQUAL 24576)
    message(FATAL_ERROR "Firmware image ${_file} has ${_size} bytes, not 24576")
  endif()
  file(READ "${_file}" _hex HEX)
  string(FIND "${_hex}" "${_marker_hex}" _at)
  if(NOT _at EQUAL -1)
    set(_development true)
  endif()
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," _bytes "${_hex}")
  string(APPEND _body "  {${_bytes}},\n")
endforeach()

file(WRITE "${OUTPUT}.tmp"
  "// Generated from ${_dir} at build time; do not edit.\n"
  "#include <cstdint>\n\n"
  "namespace rendax {\n"
  "extern const uint8_t kEmbeddedFirmwareImages[3][24576];\n"
  "extern const bool kEmbeddedFirmwareDevelopment;\n"
  "const uint8_t kEmbeddedFirmwareImages[3][24576] = {\n${_body}};\n"
  "const bool kEmbeddedFirmwareDevelopment = ${_development};\n"
  "}  // namespace rendax\n")
file(COPY_FILE "${OUTPUT}.tmp" "${OUTPUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUTPUT}.tmp")
