// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/u8_path.h"

#include <cstdlib>
#include <cstring>

namespace rendax {

namespace fs = std::filesystem;

fs::path U8Path(const std::string& s) {
  return fs::path(std::u8string(reinterpret_cast<const char8_t*>(s.data()), s.size()));
}

std::string U8String(const fs::path& p) {
  const std::u8string u = p.u8string();
  return std::string(reinterpret_cast<const char*>(u.data()), u.size());
}

std::string Environment(const char* name) {
#ifdef _WIN32
  // The wide environment spells every folder name; the narrow one only the code page's.
  const std::wstring wname(name, name + std::strlen(name));
  const wchar_t* v = _wgetenv(wname.c_str());
  return v && *v ? U8String(fs::path(v)) : std::string();
#else
  const char* v = std::getenv(name);
  return v ? std::string(v) : std::string();
#endif
}

}  // namespace rendax
