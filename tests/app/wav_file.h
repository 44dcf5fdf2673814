// SPDX-License-Identifier: GPL-3.0-or-later
// Small plain PCM WAV files for the window tests, written without any audio tool so that the
// tests run the same on every platform.
#pragma once

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace rendax::testing {

// 4,800 frames of a ramp at `rate`, `bits` and `channels`, written to `path`; returns `path`.
inline std::filesystem::path WriteRampWav(const std::filesystem::path& path, uint32_t rate,
                                          uint16_t bits, uint16_t channels) {
  const uint32_t frames = 4800, block = channels * bits / 8u, data = frames * block;
  std::vector<uint8_t> b;
  auto put = [&b](uint32_t v, int n) {
    for (int i = 0; i < n; ++i) b.push_back(uint8_t(v >> (8 * i)));
  };
  auto tag = [&b](const char* t) {
    for (int i = 0; i < 4; ++i) b.push_back(uint8_t(t[i]));
  };
  tag("RIFF"), put(36 + data, 4), tag("WAVE"), tag("fmt ");
  put(16, 4), put(1, 2), put(channels, 2), put(rate, 4), put(rate * block, 4), put(block, 2);
  put(bits, 2), tag("data"), put(data, 4);
  for (uint32_t i = 0; i < frames * channels; ++i) put(i * 97u << 4, bits / 8);
  std::filesystem::create_directories(path.parent_path());
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
  return path;
}

}  // namespace rendax::testing
