// SPDX-License-Identifier: GPL-3.0-or-later
// The page layout: stream lengths, and filler bytes that writing never touches and reading
// never looks at.
#include "audio/sample_pages.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "audio/resample.h"
#include "tests/audio/reference_converter.h"
#include "tests/audio/test_util.h"

namespace rendax {
namespace {

TEST(SamplePages, StreamLengths) {
  struct Case {
    uint64_t frames;
    uint32_t channels;
    uint64_t bytes;
  };
  for (const Case& c : {Case{682, 1, 2048}, Case{683, 1, 2051}, Case{1364, 1, 4096},
                        Case{682, 2, 4096}, Case{683, 2, 4102}, Case{21824, 1, 65536},
                        Case{10912, 2, 65536}, Case{0, 1, 0}, Case{1, 2, 6}}) {
    EXPECT_EQ(StreamBytesForFrames(c.frames, c.channels), c.bytes) << c.frames;
    EXPECT_EQ(FramesInStream(c.bytes, c.channels), c.frames) << c.bytes;
  }
  EXPECT_EQ(FramesInStream(3, 1), 1u);
  EXPECT_EQ(FramesInStream(2047, 1), 682u);  // a cut inside the filler adds no frame
  EXPECT_EQ(RoundUpToPages(2051, 1), 4096u);
  EXPECT_EQ(RoundUpToPages(4096, 2), 4096u);
  EXPECT_EQ(RoundUpToPages(1, 2), 4096u);
}

// One output frame (a one-frame stream at 48 kHz) written at a given running offset.
uint32_t WriteOneFrame(uint32_t channels, uint32_t start, std::vector<uint8_t>& out) {
  ResampleState s;
  const std::vector<uint8_t> in = testing::Bytes24({0x123456, 0x654321});
  return channels == 1 ? PackMono48000(s, 3, in.data(), 3, out.data(), ChunkFirst, start)
                       : PackStereo48000(s, 6, in.data(), 6, out.data(), ChunkFirst, start);
}

TEST(SamplePages, WritingStepsOverTheFillerAfterAPagesLastFrame) {
  struct Case {
    uint32_t channels;
    uint32_t start;
    uint32_t bytes;
  };
  for (const Case& c : {Case{1, 2043, 5}, Case{1, 0, 3}, Case{1, 2040, 3}, Case{2, 4086, 10},
                        Case{2, 4080, 6}, Case{1, 65536 + 2043, 5}, Case{2, 65536 + 4086, 10}}) {
    std::vector<uint8_t> out(16, 0xC3);
    EXPECT_EQ(WriteOneFrame(c.channels, c.start, out), c.bytes) << c.start;
    EXPECT_EQ(testing::Read24(out.data()), 0x123456);
    for (uint32_t i = 3 * c.channels; i < out.size(); ++i) EXPECT_EQ(out[i], 0xC3) << i;
  }
}

TEST(SamplePages, FillerIsNeverWrittenAndNeverRead) {
  // A long stream through both page sizes, from a running offset that is not a page start.
  for (uint32_t channels : {1u, 2u}) {
    const PageLayout page = PageLayoutFor(channels);
    std::vector<uint8_t> in;
    for (int i = 0; i < 20000; ++i) testing::Append24(in, (i * 2654435761u) % 16777216);
    for (uint32_t start : {3u * 100, 65536u + 3 * 100}) {
      const uint32_t startInPage = start % page.pageBytes;
      std::vector<uint8_t> out(4 * in.size(), 0xA5);
      ResampleState s;
      const uint32_t n = channels == 1
                             ? PackMono48000(s, 3, in.data(), static_cast<uint32_t>(in.size()),
                                             out.data(), ChunkFirst | ChunkLast, start)
                             : PackStereo48000(s, 6, in.data(), static_cast<uint32_t>(in.size()),
                                               out.data(), ChunkFirst | ChunkLast, start);
      int fillers = 0;
      for (uint32_t p = 0; p < n; ++p) {
        if ((startInPage + p) % page.pageBytes >= page.audioBytes) {
          EXPECT_EQ(out[p], 0xA5) << p;
          ++fillers;
        }
      }
      EXPECT_GT(fillers, 0);

      // Reading from the first whole page on: changing the filler changes nothing read.
      const uint32_t pageStart = page.pageBytes - startInPage;
      const uint32_t len = std::min<uint32_t>(n - pageStart, kTransferBlockBytes);
      std::vector<uint8_t> block(out.begin() + pageStart, out.begin() + pageStart + len + 8);
      std::vector<uint8_t> a(3 * kMaxUnpackOutputBytes / 2), b(a.size());
      ResampleState ra, rb;
      const auto unpack = channels == 1 ? UnpackMono : UnpackStereo;
      const uint32_t na = unpack(ra, block.data(), len, a.data(), ChunkFirst | ChunkLast);
      for (uint32_t p = page.audioBytes; p < len; p += page.pageBytes) {
        for (uint32_t i = 0; i < page.fillerBytes; ++i) block[p + i] ^= 0xFF;
      }
      const uint32_t nb = unpack(rb, block.data(), len, b.data(), ChunkFirst | ChunkLast);
      EXPECT_EQ(na, nb);
      EXPECT_EQ(a, b);
    }
  }
}

TEST(SamplePages, ReadingAFullBlockTakesEveryFrameOfItsPages) {
  // The block's frames, built in page order, must come through exactly as the same frames
  // given to the model without any page layout.
  for (uint32_t channels : {1u, 2u}) {
    const PageLayout page = PageLayoutFor(channels);
    std::vector<uint8_t> block(kTransferBlockBytes + 8, 0x7F);
    std::vector<testing::RefFrame> frames;
    for (uint32_t p = 0; p < kTransferBlockBytes; p += page.pageBytes) {
      for (uint32_t f = 0; f < kFramesPerPage; ++f) {
        const int64_t v = static_cast<int64_t>(frames.size() * 37 % 9973) - 4000;
        frames.push_back({v, channels == 2 ? -v : 0});
        uint8_t* at = &block[p + f * page.frameBytes];
        const std::vector<uint8_t> bytes = testing::Bytes24({v, -v});
        std::copy(bytes.begin(), bytes.begin() + 3 * channels, at);
      }
    }
    EXPECT_EQ(frames.size(), channels == 1 ? 21824u : 10912u);
    std::vector<uint8_t> out(kMaxUnpackOutputBytes);
    ResampleState s;
    const uint32_t n = (channels == 1 ? UnpackMono : UnpackStereo)(
        s, block.data(), kTransferBlockBytes, out.data(), ChunkFirst | ChunkLast);
    out.resize(n);
    EXPECT_EQ(out, testing::RefWriteFlat(testing::RefConvertWhole(testing::kRefUnpack, frames),
                                         static_cast<int>(channels)));
  }
}

TEST(SamplePages, AShortBlockStillGivesItsFirstFrame) {
  const std::vector<uint8_t> block = testing::Bytes24({4242});
  std::vector<uint8_t> out(16);
  ResampleState s;
  EXPECT_EQ(UnpackMono(s, block.data(), 3, out.data(), ChunkFirst | ChunkLast), 3u);
  EXPECT_EQ(testing::Read24(out.data()), 4242);
}

}  // namespace
}  // namespace rendax
