// SPDX-License-Identifier: GPL-3.0-or-later
// Any cutting of a stream into chunks gives the bytes of one call over the whole stream, and
// that call gives what the step-by-step reference model gives.
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "audio/resample.h"
#include "audio/sample_pages.h"
#include "tests/audio/reference_converter.h"
#include "tests/audio/test_util.h"

namespace rendax {
namespace {

using PackFn = uint32_t (*)(ResampleState&, uint16_t, const uint8_t*, uint32_t, uint8_t*, uint32_t,
                            uint32_t);
using UnpackFn = uint32_t (*)(ResampleState&, const uint8_t*, uint32_t, uint8_t*, uint32_t);

constexpr uint8_t kPattern = 0x5A;

// Every property holds for the vector kernels (where the processor has them) and for the
// portable code.
const std::pair<const char*, bool> kKernelChoices[] = {{" (vector kernels allowed)", true},
                                                       {" (portable code only)", false}};

struct KernelChoice {
  explicit KernelChoice(bool allowVector) { AllowVectorKernels(allowVector); }
  ~KernelChoice() { AllowVectorKernels(true); }
};

int64_t RandomSample(std::mt19937& rng) {
  switch (rng() % 8) {
    case 0:
      return -8388608;
    case 1:
      return 8388607;
    case 2:
      return static_cast<int64_t>(rng() % 2001) - 1000;
    default:
      return static_cast<int64_t>(rng() % 16777216) - 8388608;
  }
}

// Chunk lengths in frames: many single frames (the carried phase then often passes the
// chunk's end before anything is emitted), small chunks and whole file blocks.
std::vector<uint32_t> RandomChunking(std::mt19937& rng, uint32_t frames, uint32_t maxChunk) {
  std::vector<uint32_t> chunks;
  const int style = static_cast<int>(rng() % 4);
  while (frames > 0) {
    uint32_t n = 1;
    if (style == 1) n = 1 + rng() % 4;
    if (style == 2) n = 1 + rng() % maxChunk;
    if (style == 3) n = rng() % 3 == 0 ? 1 : 1 + rng() % maxChunk;
    n = std::min(n, frames);
    chunks.push_back(n);
    frames -= n;
  }
  return chunks;
}

struct Packer {
  std::string name;
  PackFn fn;
  testing::RefRatio ratio;
  int channels;
};

const std::vector<Packer> kPackers = {
    {"PackMono44100", PackMono44100, testing::kRef44100, 1},
    {"PackStereo44100", PackStereo44100, testing::kRef44100, 2},
    {"PackMono48000", PackMono48000, testing::kRef48000, 1},
    {"PackStereo48000", PackStereo48000, testing::kRef48000, 2},
};

TEST(ChunkIndependence, PackersMatchTheReferenceInAnyChunking) {
  std::mt19937 rng(20261207);
  int silentCalls = 0;  // calls whose carried phase took them past their chunk unemitted
  for (const auto& [kernels, allowVector] : kKernelChoices) {
    KernelChoice choice(allowVector);
    for (const Packer& p : kPackers) {
      const uint32_t frameBytes = 3 * p.channels;
      for (uint16_t align : {2, 3, 4, 6}) {
        for (int round = 0; round < 40; ++round) {
          SCOPED_TRACE(p.name + " blockAlign " + std::to_string(align) + " round " +
                       std::to_string(round) + kernels);
          const uint32_t frames = round < 4 ? round + 1 : 1 + rng() % 3000;
          const uint32_t tailBytes = rng() % 3 == 0 ? rng() % align : 0;  // a partial frame
          std::vector<uint8_t> in;
          const bool wide = align == 3 || align == 6;
          const int fileChannels = align >= 4 ? 2 : 1;
          for (uint32_t i = 0; i < frames; ++i) {
            for (int ch = 0; ch < fileChannels; ++ch) {
              if (wide)
                testing::Append24(in, RandomSample(rng));
              else
                testing::Append16(in, RandomSample(rng) >> 8);
            }
          }
          for (uint32_t i = 0; i < tailBytes; ++i) in.push_back(static_cast<uint8_t>(rng()));

          // The stream may begin anywhere a frame may stand in its page, in any 64 KiB block.
          const uint32_t start = (rng() % kFramesPerPage) * frameBytes +
                                 (rng() % 2) * PageLayoutFor(p.channels).pageBytes +
                                 (rng() % 2) * kTransferBlockBytes;
          const std::vector<testing::RefFrame> x = testing::RefDecodeWav(in, align, p.channels);
          std::vector<uint8_t> expected(4 * in.size() + 64, kPattern);
          const uint32_t expectedBytes = testing::RefWritePages(
              testing::RefConvertWhole(p.ratio, x), p.channels, expected.data(), start);

          // Chunks as the import cuts them: whole frames, the trailing partial frame in the
          // last chunk or alone in an extra last chunk; sometimes an empty first chunk.
          std::vector<uint32_t> chunkBytes;
          if (rng() % 8 == 0) chunkBytes.push_back(0);
          for (uint32_t n : RandomChunking(rng, frames, 700)) chunkBytes.push_back(n * align);
          if (tailBytes && rng() % 2)
            chunkBytes.push_back(tailBytes);
          else
            chunkBytes.back() += tailBytes;
          if (rng() % 4 == 0) chunkBytes.push_back(0);  // a final call with no whole frame

          ResampleState s;
          s.started = 1;  // leftovers of an earlier stream must not leak in
          s.phase = 77;
          s.lastLeft = s.prevLeft = 999;
          std::vector<uint8_t> got(expected.size(), kPattern);
          uint32_t total = 0;
          size_t offset = 0;
          for (size_t k = 0; k < chunkBytes.size(); ++k) {
            const uint32_t flags = (k == 0 ? uint32_t{ChunkFirst} : 0u) |
                                   (k + 1 == chunkBytes.size() ? uint32_t{ChunkLast} : 0u);
            const int64_t carried = s.phase;
            // An exactly sized copy, so a sanitizer build sees any read past the chunk.
            const std::unique_ptr<uint8_t[]> chunk(new uint8_t[chunkBytes[k]]);
            std::copy_n(in.data() + offset, chunkBytes[k], chunk.get());
            const uint32_t n = p.fn(s, align, chunk.get(), chunkBytes[k], got.data() + total, flags,
                                    (start + total) % kTransferBlockBytes);
            if (k > 0 && chunkBytes[k] >= align && n == 0 && carried >= p.ratio.span) ++silentCalls;
            total += n;
            offset += chunkBytes[k];
          }
          ASSERT_EQ(total, expectedBytes);
          ASSERT_EQ(got, expected);
        }
      }
    }
  }
  EXPECT_GT(silentCalls, 0);
}

struct Unpacker {
  std::string name;
  UnpackFn fn;
  int channels;
};

TEST(ChunkIndependence, UnpackersMatchTheReferenceInAnyBlocking) {
  std::mt19937 rng(4687548);
  for (const auto& [kernels, allowVector] : kKernelChoices) {
    KernelChoice choice(allowVector);
    for (const Unpacker& u :
         {Unpacker{"UnpackMono", UnpackMono, 1}, Unpacker{"UnpackStereo", UnpackStereo, 2}}) {
      const PageLayout page = PageLayoutFor(u.channels);
      const uint32_t pagesPerBlock = kTransferBlockBytes / page.pageBytes;
      for (int round = 0; round < 60; ++round) {
        SCOPED_TRACE(u.name + " round " + std::to_string(round) + kernels);
        const uint32_t frames =
            round < 3 ? round + 1 : 1 + rng() % (round % 10 == 0 ? 80000 : 3 * kFramesPerPage);
        const uint32_t length = static_cast<uint32_t>(StreamBytesForFrames(frames, u.channels));
        // Random filler: the reading rule must never look at it.
        std::vector<uint8_t> stream(length + 8);
        for (auto& b : stream) b = static_cast<uint8_t>(rng());

        const auto decoded = testing::RefReadPages(stream.data(), length, u.channels);
        const std::vector<uint8_t> expected = testing::RefWriteFlat(
            testing::RefConvertWhole(testing::kRefUnpack, decoded), u.channels);
        ASSERT_EQ(decoded.size(), frames);

        // Blocks of whole pages, as in transfer blocks, and a final partial one.
        std::vector<uint32_t> blocks;
        for (uint32_t left = length; left > 0;) {
          const uint32_t pages = rng() % 3 == 0 ? pagesPerBlock : 1 + rng() % 3;
          const uint32_t len = std::min(left, pages * page.pageBytes);
          blocks.push_back(len);
          left -= len;
        }
        ResampleState s;
        std::vector<uint8_t> got(expected.size() + 64, kPattern);
        uint32_t total = 0, offset = 0;
        for (size_t k = 0; k < blocks.size(); ++k) {
          const uint32_t flags = (k == 0 ? uint32_t{ChunkFirst} : 0u) |
                                 (k + 1 == blocks.size() ? uint32_t{ChunkLast} : 0u);
          total += u.fn(s, stream.data() + offset, blocks[k], got.data() + total, flags);
          offset += blocks[k];
        }
        ASSERT_EQ(total, expected.size());
        got.resize(total);
        ASSERT_EQ(got, expected);
      }
    }
  }
}

}  // namespace
}  // namespace rendax
