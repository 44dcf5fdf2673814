// SPDX-License-Identifier: GPL-3.0-or-later
// UTF-8 inside the program, whatever the system's code page: paths and environment values as
// the file system library and the system's wide calls take them, and back.
#pragma once

#include <filesystem>
#include <string>

namespace rendax {

// A UTF-8 path as the file system library takes it, and back. (A plain std::string would be read
// in the ANSI code page on Windows, which spells few names outside English.)
std::filesystem::path U8Path(const std::string& utf8);
std::string U8String(const std::filesystem::path& path);

// An environment variable's value in UTF-8; "" when unset.
std::string Environment(const char* name);

}  // namespace rendax
