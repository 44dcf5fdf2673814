// SPDX-License-Identifier: GPL-3.0-or-later
// Small helpers shared by the audio tests: building sample bytes and reading them back.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

namespace rendax::testing {

inline void Append24(std::vector<uint8_t>& out, int64_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
  out.push_back(static_cast<uint8_t>(v >> 16));
}

inline void Append16(std::vector<uint8_t>& out, int64_t v) {
  out.push_back(static_cast<uint8_t>(v));
  out.push_back(static_cast<uint8_t>(v >> 8));
}

inline std::vector<uint8_t> Bytes24(std::initializer_list<int64_t> samples) {
  std::vector<uint8_t> out;
  for (int64_t v : samples) Append24(out, v);
  return out;
}

inline std::vector<uint8_t> Bytes16(std::initializer_list<int64_t> samples) {
  std::vector<uint8_t> out;
  for (int64_t v : samples) Append16(out, v);
  return out;
}

inline int64_t Read24(const uint8_t* p) {
  const int64_t v = p[0] | (p[1] << 8) | (p[2] << 16);
  return v >= 8388608 ? v - 16777216 : v;
}

inline std::vector<int64_t> Samples24(const uint8_t* p, uint32_t bytes) {
  std::vector<int64_t> out;
  for (uint32_t i = 0; i + 3 <= bytes; i += 3) out.push_back(Read24(p + i));
  return out;
}

}  // namespace rendax::testing
