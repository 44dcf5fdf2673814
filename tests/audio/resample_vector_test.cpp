// SPDX-License-Identifier: GPL-3.0-or-later
// The converters give the reference bytes over the whole sample range, with the vector kernels
// and with the portable code alike. Full-scale jumps between neighbours put the
// interpolation's numerator at its largest, where a division done in doubles would first lose
// its last unit; a quarter of a million outputs meet every phase hundreds of times, and the
// numerator lands on a multiple of the span, or one off it, thousands of times.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "audio/resample.h"
#include "audio/sample_pages.h"
#include "tests/audio/reference_converter.h"
#include "tests/audio/test_util.h"

namespace rendax {
namespace {

constexpr uint32_t kFrames = 1 << 18;

std::vector<int64_t> FullRangeSamples(std::mt19937& rng, int channels) {
  std::vector<int64_t> out(size_t{kFrames} * channels);
  for (int64_t& v : out) {
    switch (rng() % 4) {
      case 0:  // the extremes and their neighbours
        v = rng() % 2 ? -8388608 + static_cast<int64_t>(rng() % 4)
                      : 8388607 - static_cast<int64_t>(rng() % 4);
        break;
      case 1:  // near silence, where the sign of small numerators decides the truncation
        v = static_cast<int64_t>(rng() % 7) - 3;
        break;
      default:
        v = static_cast<int64_t>(rng() % 16777216) - 8388608;
    }
  }
  return out;
}

// The whole stream in file blocks, from offset 0 of the page stream.
std::vector<uint8_t> Pack(decltype(&PackMono44100) fn, uint16_t align,
                          const std::vector<uint8_t>& in) {
  std::vector<uint8_t> out(2 * in.size() + 4096);
  ResampleState s;
  uint32_t total = 0;
  const uint32_t block = kMaxPackerInputFrames * align;
  for (uint32_t off = 0; off < in.size(); off += block) {
    const uint32_t len = std::min<uint32_t>(block, static_cast<uint32_t>(in.size()) - off);
    const uint32_t flags = (off == 0 ? uint32_t{ChunkFirst} : 0u) |
                           (off + len == in.size() ? uint32_t{ChunkLast} : 0u);
    total += fn(s, align, in.data() + off, len, out.data() + total, flags, total);
  }
  out.resize(total);
  return out;
}

TEST(VectorKernels, PackersGiveTheReferenceOverTheWholeRange) {
  std::mt19937 rng(8388607);
  struct Case {
    std::string name;
    decltype(&PackMono44100) fn;
    testing::RefRatio ratio;
    int channels;
  };
  for (const Case& c : {Case{"PackMono44100", PackMono44100, testing::kRef44100, 1},
                        Case{"PackMono48000", PackMono48000, testing::kRef48000, 1},
                        Case{"PackStereo44100", PackStereo44100, testing::kRef44100, 2},
                        Case{"PackStereo48000", PackStereo48000, testing::kRef48000, 2}}) {
    const std::vector<int64_t> samples = FullRangeSamples(rng, c.channels);
    for (uint16_t wide : {0, 1}) {
      const uint16_t align = static_cast<uint16_t>(c.channels * (wide ? 3 : 2));
      SCOPED_TRACE(c.name + " blockAlign " + std::to_string(align));
      std::vector<uint8_t> in;
      for (int64_t v : samples) {
        if (wide)
          testing::Append24(in, v);
        else
          testing::Append16(in, v >> 8);
      }
      std::vector<uint8_t> expected(2 * in.size() + 4096);
      expected.resize(testing::RefWritePages(
          testing::RefConvertWhole(c.ratio, testing::RefDecodeWav(in, align, c.channels)),
          c.channels, expected.data(), 0));
      for (bool allowVector : {true, false}) {
        AllowVectorKernels(allowVector);
        EXPECT_EQ(Pack(c.fn, align, in), expected) << (allowVector ? "vector" : "portable");
      }
      AllowVectorKernels(true);
    }
  }
}

TEST(VectorKernels, UnpackersGiveTheReferenceOverTheWholeRange) {
  std::mt19937 rng(46875);
  for (int channels : {1, 2}) {
    std::vector<testing::RefFrame> frames;
    const std::vector<int64_t> samples = FullRangeSamples(rng, channels);
    for (size_t i = 0; i < samples.size(); i += channels)
      frames.push_back({samples[i], channels == 2 ? samples[i + 1] : 0});
    std::vector<uint8_t> stream(StreamBytesForFrames(kFrames, channels) + kTransferBlockBytes);
    const uint32_t length = testing::RefWritePages(frames, channels, stream.data(), 0);
    const std::vector<uint8_t> expected =
        testing::RefWriteFlat(testing::RefConvertWhole(testing::kRefUnpack, frames), channels);
    const auto fn = channels == 1 ? UnpackMono : UnpackStereo;
    for (bool allowVector : {true, false}) {
      SCOPED_TRACE(std::to_string(channels) + " channels, " +
                   (allowVector ? "vector kernels allowed" : "portable code only"));
      AllowVectorKernels(allowVector);
      std::vector<uint8_t> got(expected.size() + kMaxUnpackOutputBytes);
      ResampleState s;
      uint32_t total = 0;
      for (uint32_t off = 0; off < length; off += kTransferBlockBytes) {
        const uint32_t len = std::min(kTransferBlockBytes, length - off);
        const uint32_t flags = (off == 0 ? uint32_t{ChunkFirst} : 0u) |
                               (off + len == length ? uint32_t{ChunkLast} : 0u);
        total += fn(s, stream.data() + off, len, got.data() + total, flags);
      }
      got.resize(total);
      EXPECT_EQ(got, expected);
    }
    AllowVectorKernels(true);
  }
}

}  // namespace
}  // namespace rendax
