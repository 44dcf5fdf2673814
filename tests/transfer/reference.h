// SPDX-License-Identifier: GPL-3.0-or-later
// An independent model of the conversions, for checking what the engine sends and writes:
// whole-stream linear interpolation on the exact rate grid, and the page layout.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace rendax::testing {

using Frame = std::array<int64_t, 2>;

struct Grid {
  int64_t span, step;
};
inline constexpr Grid kPack44100{625, 588};
inline constexpr Grid kPack48000{125, 128};
inline constexpr Grid kUnpack{128, 125};

// Output frame k lies at input position -1 + k * step / span (position -1 is a copy of x[0]);
// the stream ends with x[n-1] when the last position falls less than half a frame past x[n-2].
inline std::vector<Frame> Resample(const std::vector<Frame>& x, Grid g) {
  std::vector<Frame> out;
  if (x.empty()) return out;
  out.push_back(x[0]);
  const int64_t n = static_cast<int64_t>(x.size());
  if (n < 2) return out;
  for (int64_t k = 1;; ++k) {
    const int64_t total = k * g.step, c = total / g.span, phase = total % g.span;
    if (c > n - 2) {
      if (total - (n - 1) * g.span < g.span / 2) out.push_back(x[n - 1]);
      return out;
    }
    const Frame& a = c == 0 ? x[0] : x[c - 1];
    Frame f;
    for (int ch = 0; ch < 2; ++ch) f[ch] = ((g.span - phase) * a[ch] + phase * x[c][ch]) / g.span;
    out.push_back(f);
  }
}

inline int64_t Sign24(int64_t v) {
  return (v & 0x800000) ? v - 0x1000000 : v;
}

// WAV audio bytes -> frames as a packer of `pedalChannels` decodes them.
inline std::vector<Frame> DecodeWav(const std::vector<uint8_t>& audio, int bits, int channels) {
  std::vector<Frame> x;
  const size_t sb = bits / 8, fb = sb * channels;
  for (size_t at = 0; at + fb <= audio.size(); at += fb) {
    Frame f{0, 0};
    for (int ch = 0; ch < channels; ++ch) {
      const uint8_t* p = &audio[at + ch * sb];
      f[ch] = bits == 16 ? static_cast<int16_t>(p[0] | p[1] << 8) * 256
                         : Sign24(p[0] | p[1] << 8 | p[2] << 16);
    }
    x.push_back(f);
  }
  return x;
}

// Frames -> page stream (filler zero), exactly as long as the frames need.
inline std::vector<uint8_t> LayOutPages(const std::vector<Frame>& frames, int channels) {
  const size_t fb = 3 * channels, page = channels == 2 ? 4096 : 2048;
  const size_t n = frames.size();
  std::vector<uint8_t> s(n / 682 * page + n % 682 * fb, 0);
  for (size_t j = 0; j < n; ++j) {
    uint8_t* p = &s[j / 682 * page + j % 682 * fb];
    for (int ch = 0; ch < channels; ++ch) {
      const int64_t v = frames[j][ch];
      p[3 * ch] = v & 0xFF, p[3 * ch + 1] = (v >> 8) & 0xFF, p[3 * ch + 2] = (v >> 16) & 0xFF;
    }
  }
  return s;
}

// Page stream -> frames by the reading rule (bytes past the end read as zero).
inline std::vector<Frame> ReadPages(const std::vector<uint8_t>& s, size_t length, int channels) {
  const size_t fb = 3 * channels, page = channels == 2 ? 4096 : 2048, audio = 682 * fb;
  auto at = [&](size_t i) -> int64_t { return i < s.size() ? s[i] : 0; };
  std::vector<Frame> x;
  for (size_t q = 0; q < length;) {
    Frame f{0, 0};
    for (int ch = 0; ch < channels; ++ch) {
      f[ch] = Sign24(at(q + 3 * ch) | at(q + 3 * ch + 1) << 8 | at(q + 3 * ch + 2) << 16);
    }
    x.push_back(f);
    q += fb;
    if (q % page == audio) q += page - audio;
  }
  return x;
}

// The page stream an import of this audio must produce for a pedal of `pedalChannels`.
inline std::vector<uint8_t> ExpectedStream(const std::vector<uint8_t>& audio, int bits,
                                           int channels, int rate, int pedalChannels) {
  auto x = DecodeWav(audio, bits, channels);
  if (pedalChannels == 1) {
    for (auto& f : x) f[1] = 0;
  }
  return LayOutPages(Resample(x, rate == 44100 ? kPack44100 : kPack48000), pedalChannels);
}

// A plain 44-byte-header PCM file (fmtSize 16, or 18 with two extra bytes).
inline std::vector<uint8_t> MakeWav(const std::vector<uint8_t>& audio, int bits, int channels,
                                    uint32_t rate, uint32_t fmtSize = 16,
                                    int64_t dataSizeOverride = -1) {
  const uint32_t data = dataSizeOverride >= 0 ? static_cast<uint32_t>(dataSizeOverride)
                                              : static_cast<uint32_t>(audio.size());
  std::vector<uint8_t> w(28 + fmtSize, 0);
  size_t at = 0;
  auto put = [&](uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) w[at++] = (v >> (8 * i)) & 0xFF;
  };
  auto tag = [&](const char* t) {
    for (int i = 0; i < 4; ++i) w[at++] = static_cast<uint8_t>(t[i]);
  };
  tag("RIFF");
  put(20 + fmtSize + data, 4);
  tag("WAVE");
  tag("fmt ");
  put(fmtSize, 4);
  put(1, 2);
  put(channels, 2);
  put(rate, 4);
  put(rate * channels * bits / 8, 4);
  put(channels * bits / 8, 2);
  put(bits, 2);
  at += fmtSize - 16;  // the extra bytes of an 18-byte chunk stay zero
  tag("data");
  put(data, 4);
  w.insert(w.end(), audio.begin(), audio.end());
  return w;
}

// Deterministic pseudo-random bytes.
inline std::vector<uint8_t> NoiseBytes(size_t n, uint32_t seed) {
  std::vector<uint8_t> v(n);
  uint32_t s = seed * 2654435761u + 1;
  for (auto& b : v) {
    s = s * 1664525u + 1013904223u;
    b = static_cast<uint8_t>(s >> 24);
  }
  return v;
}

}  // namespace rendax::testing
