// The pedal's page stream: 682 frames of 24-bit audio per sample page, then filler bytes.
#pragma once

#include <cstdint>

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

}  // namespace rendax
