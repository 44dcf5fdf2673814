// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/loop_outline.h"

#include <algorithm>
#include <limits>

#include "audio/sample_pages.h"

namespace rendax {

namespace {

// Whole frames in a stream of `bytes` bytes: a frame the stream ends inside holds no sample
// worth drawing.
uint64_t WholeFrames(uint64_t bytes, uint32_t channels) {
  const PageLayout p = PageLayoutFor(channels);
  const uint64_t rest = std::min<uint64_t>(bytes % p.pageBytes, p.audioBytes);
  return kFramesPerPage * (bytes / p.pageBytes) + rest / p.frameBytes;
}

int32_t Sample24(const uint8_t* p) {
  const uint32_t u = uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16;
  return static_cast<int32_t>(u ^ 0x800000u) - 0x800000;
}

}  // namespace

LoopOutlineBuilder::LoopOutlineBuilder(uint64_t streamLength, uint32_t channels, std::size_t slices)
    : streamLength_(streamLength),
      channels_(channels),
      slices_(slices),
      low_(slices, std::numeric_limits<int32_t>::max()),
      high_(slices, std::numeric_limits<int32_t>::min()),
      touched_(slices, false) {}

void LoopOutlineBuilder::AddStream(const uint8_t* data, std::size_t length, uint64_t offset) {
  const uint64_t totalFrames = WholeFrames(streamLength_, channels_);
  if (slices_ == 0 || totalFrames == 0 || offset >= streamLength_) return;
  const PageLayout p = PageLayoutFor(channels_);
  const uint64_t end = std::min<uint64_t>(offset + length, streamLength_);
  uint64_t pos = offset;
  while (pos < end) {
    const uint32_t at = static_cast<uint32_t>(pos % p.pageBytes);
    // Filler, and the rest of a frame a run starts inside, carry no sample.
    if (at >= p.audioBytes) {
      pos += p.pageBytes - at;
      continue;
    }
    if (at % p.frameBytes != 0) {
      pos += p.frameBytes - at % p.frameBytes;
      continue;
    }
    const uint64_t first = pos / p.pageBytes * kFramesPerPage + at / p.frameBytes;
    if (first >= totalFrames) return;
    // The frames of this page that lie whole inside the run and the loop.
    const uint64_t frames = std::min({uint64_t{(p.audioBytes - at) / p.frameBytes},
                                      (end - pos) / p.frameBytes, totalFrames - first});
    if (frames == 0) return;
    const uint8_t* q = data + (pos - offset);
    std::size_t slice = static_cast<std::size_t>(first * slices_ / totalFrames);
    // The first frame of the next slice: the smallest i with i * slices >= (slice + 1) * total.
    uint64_t next = ((slice + 1) * totalFrames + slices_ - 1) / slices_;
    int32_t low = low_[slice], high = high_[slice];
    for (uint64_t i = first; i < first + frames; ++i, q += p.frameBytes) {
      if (i >= next) {
        low_[slice] = low;
        high_[slice] = high;
        touched_[slice] = true;
        slice = static_cast<std::size_t>(i * slices_ / totalFrames);
        next = ((slice + 1) * totalFrames + slices_ - 1) / slices_;
        low = low_[slice];
        high = high_[slice];
      }
      for (uint32_t c = 0; c < channels_; ++c) {
        const int32_t v = Sample24(q + 3 * c);
        low = std::min(low, v);
        high = std::max(high, v);
      }
    }
    low_[slice] = low;
    high_[slice] = high;
    touched_[slice] = true;
    pos += frames * p.frameBytes;
  }
}

LoopOutline LoopOutlineBuilder::Result() const {
  constexpr float kFullScale = 8388608.0f;  // 2^23
  LoopOutline outline;
  outline.low.assign(slices_, 0.0f);
  outline.high.assign(slices_, 0.0f);
  for (std::size_t s = 0; s < slices_; ++s) {
    if (!touched_[s]) continue;
    outline.low[s] = static_cast<float>(low_[s]) / kFullScale;
    outline.high[s] = static_cast<float>(high_[s]) / kFullScale;
  }
  return outline;
}

}  // namespace rendax
