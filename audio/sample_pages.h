// SPDX-License-Identifier: GPL-3.0-or-later
// The pedal's page stream: 682 frames of 24-bit audio per sample page, then filler bytes.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>

namespace rendax {

inline constexpr uint32_t kFramesPerPage = 682;
inline constexpr uint32_t kTransferBlockBytes = 65536;
inline constexpr uint32_t kPedalFrameRate = 46875;

// Layout of one page for a channel count (1 or 2).
struct PageLayout {
  uint32_t channels;
  uint32_t frameBytes;   // 3 or 6
  uint32_t pageBytes;    // 2,048 or 4,096
  uint32_t audioBytes;   // 2,046 or 4,092
  uint32_t fillerBytes;  // 2 or 4
};

constexpr PageLayout PageLayoutFor(uint32_t channels) {
  return channels == 2 ? PageLayout{2, 6, 4096, 4092, 4} : PageLayout{1, 3, 2048, 2046, 2};
}

// Bytes of page stream holding `frames` frames (filler of every completed page included).
constexpr uint64_t StreamBytesForFrames(uint64_t frames, uint32_t channels) {
  const PageLayout p = PageLayoutFor(channels);
  return p.pageBytes * (frames / kFramesPerPage) + p.frameBytes * (frames % kFramesPerPage);
}

// Frames that the reading rule takes from a stream of `bytes` bytes (the partial frame at the
// end, if any, counts as one, as the reading rule takes it).
constexpr uint64_t FramesInStream(uint64_t bytes, uint32_t channels) {
  const PageLayout p = PageLayoutFor(channels);
  const uint64_t rest = bytes % p.pageBytes;
  const uint64_t inLast =
      rest >= p.audioBytes ? kFramesPerPage : (rest + p.frameBytes - 1) / p.frameBytes;
  return kFramesPerPage * (bytes / p.pageBytes) + inLast;
}

// `bytes` rounded up to whole sample pages: the length of the last LoopData command.
constexpr uint32_t RoundUpToPages(uint32_t bytes, uint32_t channels) {
  const uint32_t page = PageLayoutFor(channels).pageBytes;
  return (bytes + page - 1) / page * page;
}

// The pedal's own form, neither resampled nor repacked: the page stream with its filler
// dropped, frames back to back. `in` is stream from `streamOffset` on (only its place within a
// page counts). Returns the bytes written to `out` (at most `inBytes`).
inline uint32_t DropFiller(const uint8_t* in, uint32_t inBytes, uint64_t streamOffset,
                           uint32_t channels, uint8_t* out) {
  const PageLayout p = PageLayoutFor(channels);
  uint32_t at = static_cast<uint32_t>(streamOffset % p.pageBytes);
  uint32_t written = 0;
  for (uint32_t i = 0; i < inBytes;) {
    const uint32_t run = at < p.audioBytes ? std::min(p.audioBytes - at, inBytes - i)
                                           : std::min(p.pageBytes - at, inBytes - i);
    if (at < p.audioBytes) {
      std::memcpy(out + written, in + i, run);
      written += run;
    }
    i += run;
    at = (at + run) % p.pageBytes;
  }
  return written;
}

// The reverse: frames back to back laid into the page stream from `streamOffset` on, filler
// stepped over (never written, so the caller's zeros stay). Returns the stream bytes covered,
// the filler after a completed page included.
inline uint32_t InsertFiller(const uint8_t* in, uint32_t inBytes, uint64_t streamOffset,
                             uint32_t channels, uint8_t* out) {
  const PageLayout p = PageLayoutFor(channels);
  uint32_t at = static_cast<uint32_t>(streamOffset % p.pageBytes);
  uint32_t written = 0;
  for (uint32_t i = 0; i < inBytes;) {
    if (at >= p.audioBytes) {
      written += p.pageBytes - at;
      at = 0;
      continue;
    }
    const uint32_t run = std::min(p.audioBytes - at, inBytes - i);
    std::memcpy(out + written, in + i, run);
    written += run;
    i += run;
    at += run;
    if (at == p.audioBytes) {
      written += p.fillerBytes;
      at = 0;
    }
  }
  return written;
}

}  // namespace rendax
