// SPDX-License-Identifier: GPL-3.0-or-later
// The converters' worked examples: one call per stream, exact samples and final state.
#include "audio/resample.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/audio/reference_converter.h"
#include "tests/audio/test_util.h"

namespace rendax {
namespace {

using testing::Bytes16;
using testing::Bytes24;
using testing::Samples24;

using PackFn = uint32_t (*)(ResampleState&, uint16_t, const uint8_t*, uint32_t, uint8_t*, uint32_t,
                            uint32_t);
using UnpackFn = uint32_t (*)(ResampleState&, const uint8_t*, uint32_t, uint8_t*, uint32_t);

struct PackCase {
  std::string name;
  PackFn pack;
  uint16_t blockAlign;
  std::vector<uint8_t> in;
  std::vector<int64_t> expected;  // interleaved output samples
  int64_t endPhase;
  int64_t lastLeft;
};

TEST(Packers, WorkedExamplesInOneCall) {
  const std::vector<PackCase> cases = {
      {"mono 44.1k ramp",
       PackMono44100,
       3,
       Bytes24({0, 1000, 2000, 3000, 4000, 5000}),
       {0, 0, 881, 1822, 2763, 3704},
       403,
       5000},
      {"stereo 44.1k ramp truncates toward zero",
       PackStereo44100,
       6,
       Bytes24({0, 0, 1000, -1000, 2000, -2000, 3000, -3000, 4000, -4000, 5000, -5000}),
       {0, 0, 0, 0, 881, -881, 1822, -1822, 2763, -2763, 3704, -3704},
       403,
       5000},
      {"mono 48k falling ramp ends on its last frame",
       PackMono48000,
       3,
       Bytes24({0, -1000, -2000, -3000, -4000, -5000, -6000, -7000, -8000, -9000}),
       {0, -24, -1048, -2072, -3096, -4120, -5144, -6168, -7192, -9000},
       27,
       -9000},
      {"mono from 16-bit stereo drops the second channel",
       PackMono44100,
       4,
       Bytes16({-1, 5, 100, -7, -32768, 9}),
       {-256, -256, 22538},
       0,
       0},
      {"stereo from 16-bit mono gets a silent second channel",
       PackStereo48000,
       2,
       Bytes16({1, 2, 3, 4}),
       {256, 0, 262, 0, 524, 0, 1024, 0},
       9,
       1024},
  };
  for (const PackCase& c : cases) {
    SCOPED_TRACE(c.name);
    ResampleState s;
    std::vector<uint8_t> out(256, 0xAA);
    const uint32_t n = c.pack(s, c.blockAlign, c.in.data(), static_cast<uint32_t>(c.in.size()),
                              out.data(), ChunkFirst | ChunkLast, 0);
    EXPECT_EQ(Samples24(out.data(), n), c.expected);
    if (c.lastLeft != 0) {
      EXPECT_EQ(s.phase, c.endPhase);
      EXPECT_EQ(s.lastLeft, c.lastLeft);
    }
  }
}

TEST(Unpackers, WorkedExampleInOneCall) {
  const std::vector<uint8_t> block =
      Bytes24({0, 1000, 2000, 3000, 4000, 5000, 6000, 7000, 8000, 9000});
  ResampleState s;
  std::vector<uint8_t> out(64);
  const uint32_t n = UnpackMono(s, block.data(), 30, out.data(), ChunkFirst | ChunkLast);
  EXPECT_EQ(n, 30u);
  EXPECT_EQ(Samples24(out.data(), n),
            (std::vector<int64_t>{0, 0, 953, 1929, 2906, 3882, 4859, 5835, 6812, 7789}));
  EXPECT_EQ(s.phase, 98);
  EXPECT_EQ(s.lastLeft, 9000);

  // The two-channel twin gives the same first channel.
  std::vector<uint8_t> stereo;
  for (int i = 0; i < 10; ++i) {
    testing::Append24(stereo, 1000 * i);
    testing::Append24(stereo, -1000 * i);
  }
  ResampleState t;
  std::vector<uint8_t> out2(128);
  ASSERT_EQ(UnpackStereo(t, stereo.data(), 60, out2.data(), ChunkFirst | ChunkLast), 60u);
  for (int i = 0; i < 10; ++i) {
    EXPECT_EQ(testing::Read24(&out2[6 * i]), testing::Read24(&out[3 * i]));
    EXPECT_EQ(testing::Read24(&out2[6 * i + 3]), -testing::Read24(&out[3 * i]));
  }
}

TEST(Packers, FirstChunkExamples) {
  {
    SCOPED_TRACE("start offset 2,040 steps over the filler pair");
    for (uint32_t start : {2040u, 67576u}) {
      ResampleState s;
      std::vector<uint8_t> out(16, 0xEE);
      const std::vector<uint8_t> in = Bytes24({7, 8, 9});
      EXPECT_EQ(PackMono44100(s, 3, in.data(), 9, out.data(), ChunkFirst, start), 11u);
      EXPECT_EQ(testing::Read24(&out[0]), 7);
      EXPECT_EQ(testing::Read24(&out[3]), 7);
      EXPECT_EQ(testing::Read24(&out[8]), 7);
      EXPECT_EQ(out[6], 0xEE);
      EXPECT_EQ(out[7], 0xEE);
      EXPECT_EQ(out[11], 0xEE);
    }
  }
  {
    SCOPED_TRACE("two stereo frames at 48k: one output, the rest carried");
    ResampleState s;
    std::vector<uint8_t> out(16, 0xEE);
    const std::vector<uint8_t> in = Bytes24({11, 12, 21, 22});
    EXPECT_EQ(PackStereo48000(s, 6, in.data(), 12, out.data(), ChunkFirst, 0), 6u);
    EXPECT_EQ(Samples24(out.data(), 6), (std::vector<int64_t>{11, 12}));
    EXPECT_EQ(s.lastLeft, 21);
    EXPECT_EQ(s.lastRight, 22);
    EXPECT_EQ(s.phase, 3);
  }
}

TEST(Packers, LessThanOneFrameWritesNothing) {
  ResampleState s;
  s.started = 1;
  s.phase = 100;
  s.lastLeft = 5;
  s.prevLeft = 4;
  std::vector<uint8_t> out(8, 0xEE);
  const uint8_t in[2] = {1, 2};
  for (PackFn pack : {PackMono44100, PackStereo44100, PackMono48000, PackStereo48000}) {
    ResampleState t = s;
    EXPECT_EQ(pack(t, 3, in, 2, out.data(), 0, 0), 0u);
    EXPECT_EQ(t.phase, 100);
    EXPECT_EQ(t.lastLeft, 5);
    EXPECT_EQ(t.prevLeft, 4);
  }
  EXPECT_EQ(out, std::vector<uint8_t>(8, 0xEE));
}

// The final frame is repeated only when the stream ends less than half an input frame past
// its second-to-last frame. Stream lengths that end exactly at and just below the threshold
// are found with the reference model, then run through the real converters.
TEST(Converters, EndThresholdDecidesTheFinalFrame) {
  struct Variant {
    std::string name;
    testing::RefRatio ratio;
    std::function<uint32_t(const std::vector<uint8_t>&, std::vector<uint8_t>&)> run;
  };
  const auto packer = [](PackFn f) {
    return [f](const std::vector<uint8_t>& in, std::vector<uint8_t>& out) {
      ResampleState s;
      return f(s, 3, in.data(), static_cast<uint32_t>(in.size()), out.data(),
               ChunkFirst | ChunkLast, 0);
    };
  };
  const std::vector<Variant> variants = {
      {"44.1k", testing::kRef44100, packer(PackMono44100)},
      {"48k", testing::kRef48000, packer(PackMono48000)},
      {"unpack", testing::kRefUnpack,
       [](const std::vector<uint8_t>& in, std::vector<uint8_t>& out) {
         ResampleState s;
         return UnpackMono(s, in.data(), static_cast<uint32_t>(in.size()), out.data(),
                           ChunkFirst | ChunkLast);
       }},
  };
  for (const Variant& v : variants) {
    const int64_t threshold = v.ratio.span / 2;
    for (int64_t wanted : {threshold - 1, threshold}) {
      SCOPED_TRACE(v.name + " ending at phase " + std::to_string(wanted));
      // Short streams stay inside one page, so the unpacker reads them as plain frames.
      bool found = false;
      for (int frames = 2; frames < 600 && !found; ++frames) {
        std::vector<testing::RefFrame> x;
        std::vector<uint8_t> in;
        for (int i = 0; i < frames; ++i) {
          x.push_back({10 * i + 1, 0});
          testing::Append24(in, 10 * i + 1);
        }
        int64_t endPhase = -1;
        const auto expected = testing::RefConvertWhole(v.ratio, x, &endPhase);
        if (endPhase != wanted) continue;
        found = true;
        std::vector<uint8_t> out(4 * in.size() + 64);
        const uint32_t n = v.run(in, out);
        const auto got = Samples24(out.data(), n);
        ASSERT_EQ(got.size(), expected.size());
        const bool appended = got.back() == x.back().l && got[got.size() - 2] != x.back().l;
        EXPECT_EQ(appended, wanted < threshold);
      }
      EXPECT_TRUE(found);
    }
  }
}

TEST(Packers, ThousandFramesGiveTheSameLoopInOneCallOrTwo) {
  std::vector<uint8_t> in;
  for (int i = 0; i < 1000; ++i) testing::Append24(in, (i * 7919) % 100000 - 50000);
  ResampleState one;
  std::vector<uint8_t> whole(4096, 0), split(4096, 0);
  const uint32_t n =
      PackMono44100(one, 3, in.data(), 3000, whole.data(), ChunkFirst | ChunkLast, 0);
  EXPECT_EQ(n, 3191u);  // 1,063 frames and one filler pair

  ResampleState two;
  const uint32_t a = PackMono44100(two, 3, in.data(), 1500, split.data(), ChunkFirst, 0);
  const uint32_t b = PackMono44100(two, 3, in.data() + 1500, 1500, split.data() + a, ChunkLast, a);
  EXPECT_EQ(a + b, 3191u);
  EXPECT_EQ(split, whole);
}

TEST(Converters, OneFrameStreamGivesOneFrame) {
  const std::vector<uint8_t> in = Bytes24({-123456});
  for (PackFn pack : {PackMono44100, PackMono48000}) {
    ResampleState s;
    std::vector<uint8_t> out(8, 0);
    EXPECT_EQ(pack(s, 3, in.data(), 3, out.data(), ChunkFirst | ChunkLast, 0), 3u);
    EXPECT_EQ(testing::Read24(out.data()), -123456);
  }
  ResampleState s;
  std::vector<uint8_t> out(8, 0);
  EXPECT_EQ(UnpackMono(s, in.data(), 3, out.data(), ChunkFirst | ChunkLast), 3u);
  EXPECT_EQ(testing::Read24(out.data()), -123456);
}

}  // namespace
}  // namespace rendax
