// SPDX-License-Identifier: GPL-3.0-or-later
// The page reading and writing rules and the six converters on arbitrary audio, block lengths
// and chunkings. Every call gets buffers of exactly the size its contract promises, so a read
// or write past them is a finding; and the same stream cut two ways must give the same bytes.
//
// Input: mode byte, chunk count byte, a 24-bit length per chunk, a 16-bit start offset, then
// the audio (repeated when the chunks ask for more).
//   mode bit 0: two channels on the pedal side; bit 1: packer (import) instead of unpacker;
//   bit 2: 44,100 Hz file (packers); bits 3-4: the file's frame size 2, 3, 4 or 6 (packers).
#include <memory>
#include <vector>

#include "audio/resample.h"
#include "audio/sample_pages.h"
#include "fuzz/fuzz_support.h"

using namespace rendax;
using rendax::fuzz::Reader;

namespace {

constexpr uint32_t kMaxChunks = 4;

// `n` bytes of the audio, repeated from its start as often as needed.
std::vector<uint8_t> Stream(const uint8_t* audio, size_t audioBytes, size_t n) {
  std::vector<uint8_t> s(n, 0);
  for (size_t i = 0; audioBytes && i < n; ++i) s[i] = audio[i % audioBytes];
  return s;
}

// Calls an unpacker with a block buffer of exactly inBytes + frameBytes - 1 bytes (the reading
// rule may look that far) and an output buffer of exactly kMaxUnpackOutputBytes; appends what
// it produced to `out`.
void UnpackChunk(uint32_t channels, ResampleState& state, const uint8_t* stream, uint32_t inBytes,
                 uint32_t flags, std::vector<uint8_t>& out) {
  const uint32_t slack = PageLayoutFor(channels).frameBytes - 1;
  std::unique_ptr<uint8_t[]> block(new uint8_t[inBytes + slack]);
  std::memcpy(block.get(), stream, inBytes + slack);
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[kMaxUnpackOutputBytes]);
  const uint32_t produced = channels == 2
                                ? UnpackStereo(state, block.get(), inBytes, buffer.get(), flags)
                                : UnpackMono(state, block.get(), inBytes, buffer.get(), flags);
  FUZZ_CHECK(produced <= kMaxUnpackOutputBytes);
  FUZZ_CHECK(produced % (3 * channels) == 0);
  out.insert(out.end(), buffer.get(), buffer.get() + produced);
}

void FuzzUnpack(uint32_t channels, const uint32_t* specs, uint32_t chunks, const uint8_t* audio,
                size_t audioBytes) {
  const PageLayout page = PageLayoutFor(channels);
  const uint32_t pagesPerBlock = kTransferBlockBytes / page.pageBytes;
  // Every block but the last is whole pages, as the export reads them; the last is any length
  // from 1 byte to a whole transfer block.
  std::vector<uint32_t> lengths;
  uint32_t total = 0;
  for (uint32_t i = 0; i < chunks; ++i) {
    const uint32_t len = i + 1 < chunks ? (specs[i] % pagesPerBlock + 1) * page.pageBytes
                                        : specs[i] % kTransferBlockBytes + 1;
    lengths.push_back(len);
    total += len;
  }
  const std::vector<uint8_t> stream = Stream(audio, audioBytes, total + page.frameBytes);

  std::vector<uint8_t> cut, byPage;
  ResampleState a, b;
  uint32_t at = 0;
  for (uint32_t i = 0; i < chunks; ++i) {
    uint32_t flags = (i == 0 ? ChunkFirst : 0) | (i + 1 == chunks ? ChunkLast : 0);
    UnpackChunk(channels, a, stream.data() + at, lengths[i], flags, cut);
    at += lengths[i];
  }
  // The same stream one page at a time.
  for (at = 0; at < total; at += page.pageBytes) {
    const uint32_t len = total - at < page.pageBytes ? total - at : page.pageBytes;
    uint32_t flags = (at == 0 ? ChunkFirst : 0) | (at + len == total ? ChunkLast : 0);
    UnpackChunk(channels, b, stream.data() + at, len, flags, byPage);
  }
  FUZZ_CHECK(cut == byPage);

  // 46,875 -> 48,000 Hz: one output per 125/128 input frames, the first and perhaps the last
  // frame added.
  const uint64_t framesIn = FramesInStream(total, channels);
  const uint64_t framesOut = cut.size() / (3 * channels);
  const uint64_t grid = (framesIn - 1) * 128 / 125;
  FUZZ_CHECK(framesOut >= grid && framesOut <= grid + 2);
}

using Packer = uint32_t (*)(ResampleState&, uint16_t, const uint8_t*, uint32_t, uint8_t*, uint32_t,
                            uint32_t);

// Output bytes one packer call may produce from `frames` input frames, filler included, with
// room for a start in the middle of a page.
uint32_t PackBound(uint32_t frames, bool from44100, uint32_t channels) {
  const uint64_t out = uint64_t{frames} * (from44100 ? 625 : 125) / (from44100 ? 588 : 128) + 3;
  return static_cast<uint32_t>((out / kFramesPerPage + 2) * PageLayoutFor(channels).pageBytes);
}

uint32_t PackChunk(Packer pack, bool from44100, uint32_t channels, uint16_t align,
                   ResampleState& state, const uint8_t* in, uint32_t inBytes, uint32_t flags,
                   uint32_t offset, std::vector<uint8_t>& out) {
  std::unique_ptr<uint8_t[]> input(new uint8_t[inBytes ? inBytes : 1]);
  if (inBytes) std::memcpy(input.get(), in, inBytes);
  const uint32_t bound = PackBound(inBytes / align, from44100, channels);
  std::unique_ptr<uint8_t[]> buffer(new uint8_t[bound]);
  std::memset(buffer.get(), 0, bound);  // filler is stepped over: keep it equal in both runs
  const uint32_t produced = pack(state, align, input.get(), inBytes, buffer.get(), flags, offset);
  FUZZ_CHECK(produced <= bound);
  out.insert(out.end(), buffer.get(), buffer.get() + produced);
  return produced;
}

void FuzzPack(uint32_t channels, bool from44100, uint16_t align, const uint32_t* specs,
              uint32_t chunks, uint32_t startOffset, const uint8_t* audio, size_t audioBytes) {
  const Packer pack = channels == 2 ? (from44100 ? PackStereo44100 : PackStereo48000)
                                    : (from44100 ? PackMono44100 : PackMono48000);
  // Every chunk but the last is whole frames, as the import's file blocks are; the last may
  // end inside a frame or hold none at all.
  constexpr uint32_t kMaxChunkFrames = 4096;
  std::vector<uint32_t> lengths;
  uint32_t total = 0;
  for (uint32_t i = 0; i < chunks; ++i) {
    const uint32_t len = i + 1 < chunks ? (specs[i] % kMaxChunkFrames + 1) * align
                                        : specs[i] % (kMaxChunkFrames * align + align);
    lengths.push_back(len);
    total += len;
  }
  const std::vector<uint8_t> stream = Stream(audio, audioBytes, total);

  std::vector<uint8_t> cut;
  ResampleState a;
  uint32_t at = 0;
  uint32_t offset = startOffset;
  for (uint32_t i = 0; i < chunks; ++i) {
    uint32_t flags = (i == 0 ? ChunkFirst : 0) | (i + 1 == chunks ? ChunkLast : 0);
    offset += PackChunk(pack, from44100, channels, align, a, stream.data() + at, lengths[i], flags,
                        offset, cut);
    at += lengths[i];
  }
  std::vector<uint8_t> whole;
  ResampleState b;
  PackChunk(pack, from44100, channels, align, b, stream.data(), total, ChunkFirst | ChunkLast,
            startOffset, whole);
  FUZZ_CHECK(cut == whole);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader r(data, size);
  const uint8_t mode = r.U8();
  const uint32_t chunks = r.U8() % kMaxChunks + 1;
  uint32_t specs[kMaxChunks];
  for (uint32_t i = 0; i < kMaxChunks; ++i) specs[i] = i < chunks ? r.U24() : 0;
  const uint32_t startOffset = r.U16();
  const uint32_t channels = mode & 1 ? 2 : 1;
  if (mode & 2) {
    static constexpr uint16_t kAligns[] = {2, 3, 4, 6};
    FuzzPack(channels, (mode & 4) != 0, kAligns[(mode >> 3) & 3], specs, chunks, startOffset,
             r.Rest(), r.Left());
  } else {
    FuzzUnpack(channels, specs, chunks, r.Rest(), r.Left());
  }
  return 0;
}
