// SPDX-License-Identifier: GPL-3.0-or-later
// A plain, slow model of one converter call over a whole stream, written step by step from
// the rules, byte by byte, with nothing shared with the real converters. Tests compare the
// real converters (in any chunking) against it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rendax::testing {

struct RefFrame {
  int64_t l = 0;
  int64_t r = 0;
  bool operator==(const RefFrame&) const = default;
};

struct RefRatio {
  int64_t span;
  int64_t step;
};

inline constexpr RefRatio kRef44100{625, 588};
inline constexpr RefRatio kRef48000{125, 128};
inline constexpr RefRatio kRefUnpack{128, 125};

// WAV frames of `blockAlign` bytes decoded for a converter with `channels` output channels.
std::vector<RefFrame> RefDecodeWav(const std::vector<uint8_t>& bytes, int blockAlign, int channels);

// The frames the reading rule takes from a block of `length` bytes that starts a page.
std::vector<RefFrame> RefReadPages(const uint8_t* block, uint32_t length, int channels);

// One call with ChunkFirst | ChunkLast over all of `x`; `endPhase` receives the final phase.
std::vector<RefFrame> RefConvertWhole(RefRatio ratio, const std::vector<RefFrame>& x,
                                      int64_t* endPhase = nullptr);

// The writing rule from running offset `startOffset`; returns the bytes produced.
uint32_t RefWritePages(const std::vector<RefFrame>& frames, int channels, uint8_t* out,
                       uint32_t startOffset);

// Frames back to back, 24-bit little-endian.
std::vector<uint8_t> RefWriteFlat(const std::vector<RefFrame>& frames, int channels);

}  // namespace rendax::testing
