// SPDX-License-Identifier: GPL-3.0-or-later
// The loop's outline: which frames fall into which slice, and that filler, a partial last frame
// and bytes past the loop never show in the drawing.
#include "audio/loop_outline.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "audio/sample_pages.h"
#include "tests/audio/test_util.h"

namespace rendax {
namespace {

TEST(LoopOutline, SlicesHoldTheLowestAndHighestSampleOfTheirFrames) {
  using Sample = int32_t (*)(uint32_t frame, uint32_t channel);
  const Sample perPage = [](uint32_t i, uint32_t) {
    return int32_t(i / 682 + 1) * (i % 2 ? 1000 : -1000);
  };
  const Sample perChannel = [](uint32_t i, uint32_t c) {
    return c ? -int32_t(i / 682 + 1) : int32_t(i % 682);
  };
  const Sample twoThenLoud = [](uint32_t i, uint32_t) {
    return i < 2 ? int32_t(i) * 12 - 5 : 1 << 22;
  };
  const Sample index = [](uint32_t i, uint32_t) { return int32_t(i); };
  const Sample fullScale = [](uint32_t i, uint32_t) { return i ? 8388607 : -8388608; };
  struct Row {
    const char* what;
    uint32_t channels;
    uint32_t length;  // the loop's stream bytes; the data given runs 4 bytes further
    std::size_t slices;
    Sample sample;
    bool backwards;    // the second half of the stream given first
    const char* want;  // per slice, "low..high" in 24-bit steps
  };
  const Row rows[] = {
      {"a slice per page, filler skipped", 1, 3 * 2048, 3, perPage, false,
       "-1000..1000 -2000..2000 -3000..3000"},
      {"both channels, runs out of order", 2, 2 * 4096, 2, perChannel, true, "-1..681 -2..681"},
      {"a partial last frame and bytes past the loop", 1, 2 * 3 + 2, 2, twoThenLoud, false,
       "-5..-5 7..7"},
      {"fewer frames than slices", 1, 2 * 3, 4, twoThenLoud, false, "-5..-5 0..0 7..7 0..0"},
      {"uneven slices", 1, 10 * 3, 3, index, false, "0..3 4..6 7..9"},
      {"full scale", 1, 2 * 3, 1, fullScale, false, "-8388608..8388607"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const PageLayout p = PageLayoutFor(row.channels);
    // Filler and everything past the frames hold near full scale: any of it read shows.
    std::vector<uint8_t> stream(row.length + 4, 0x7F);
    for (uint32_t i = 0; StreamBytesForFrames(i, row.channels) + p.frameBytes <= stream.size();
         ++i) {
      std::vector<uint8_t> frame;
      for (uint32_t c = 0; c < row.channels; ++c) testing::Append24(frame, row.sample(i, c));
      std::copy(
          frame.begin(), frame.end(),
          stream.begin() + static_cast<std::ptrdiff_t>(StreamBytesForFrames(i, row.channels)));
    }
    LoopOutlineBuilder builder(row.length, row.channels, row.slices);
    const std::size_t half = row.backwards ? row.length / 2 : 0;
    builder.AddStream(stream.data() + half, stream.size() - half, half);
    builder.AddStream(stream.data(), half, 0);
    const LoopOutline outline = builder.Result();
    std::string got;
    for (std::size_t s = 0; s < outline.low.size(); ++s) {
      // Appended piece by piece: g++ 12 at -O3 takes a chain of + for an overlapping copy.
      if (s) got += ' ';
      got += std::to_string(std::lround(outline.low[s] * 8388608.0));
      got += "..";
      got += std::to_string(std::lround(outline.high[s] * 8388608.0));
    }
    EXPECT_EQ(got, row.want);
    EXPECT_EQ(outline.high.size(), row.slices);
  }
}

}  // namespace
}  // namespace rendax
