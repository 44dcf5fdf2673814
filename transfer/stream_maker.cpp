// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/stream_maker.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>

#include "audio/sample_pages.h"
#include "device/discovery.h"

namespace rendax {

namespace {

constexpr uint32_t kReadBufferBytes = 262144;
constexpr uint32_t kOutputBufferBytes = 1048576;
// One file block of 65,536 frames at 44,100 Hz gives fewer than 69,700 pedal frames of at most
// 6 bytes plus filler; the area behind the carry-over that a conversion may touch.
constexpr uint32_t kMaxPackedBytes = 458752;

using Packer = uint32_t (*)(ResampleState&, uint16_t, const uint8_t*, uint32_t, uint8_t*, uint32_t,
                            uint32_t);

// The pedal's own rate: the samples are laid into pages as they are.
template <uint32_t Channels>
uint32_t PackNative(ResampleState&, uint16_t blockAlign, const uint8_t* in, uint32_t inBytes,
                    uint8_t* out, uint32_t, uint32_t startOffset) {
  return InsertFiller(in, inBytes - inBytes % blockAlign, startOffset, Channels, out);
}

Packer PackerFor(uint32_t sampleRate, uint32_t channels) {
  if (sampleRate == kPedalFrameRate) return channels == 2 ? PackNative<2> : PackNative<1>;
  if (channels == 2) return sampleRate == 44100 ? PackStereo44100 : PackStereo48000;
  return sampleRate == 44100 ? PackMono44100 : PackMono48000;
}

}  // namespace

uint64_t StreamMaker::Count(AudioSource& source, uint8_t model) {
  ResampleState scratch;
  StreamMaker maker(source, model, scratch);
  const Outcome o =
      maker.Run([](const uint8_t*, uint32_t, uint64_t) { return true; }, [](uint64_t) {});
  return o == Outcome::Done ? maker.Total() : 0;
}

StreamMaker::Outcome StreamMaker::Run(const Sink& sink, const Progress& progress) {
  std::unique_ptr<uint8_t[]> in(new (std::nothrow) uint8_t[kReadBufferBytes]);
  std::unique_ptr<uint8_t[]> out(new (std::nothrow) uint8_t[kOutputBufferBytes]);
  if (!in || !out) return Outcome::OutOfMemory;
  std::memset(out.get(), 0, kOutputBufferBytes);

  const WavFormat& wav = source_.Format();
  const uint32_t channels = ModelInfo(model_).channels;
  const uint32_t pageBytes = PageLayoutFor(channels).pageBytes;
  const uint32_t fileBlock = FileBlock(wav);
  // A plain file's length is exact: its last block is known when it is read. A decoded one
  // ends when the decoder runs dry, which may be a block later than its header promised.
  const bool exact = source_.ExactLength();
  const uint64_t d = source_.ExpectedBytes();
  const uint64_t full = d / fileBlock;
  const uint64_t rest = d % fileBlock;
  const uint64_t blocks =
      (full == 0 || (full == 1 && rest == 0)) ? 1 : (rest == 0 ? full : full + 1);
  const Packer pack = PackerFor(wav.sampleRate, channels);

  uint32_t carry = 0;
  uint64_t sent = 0;      // stream bytes handed to the sink in full blocks
  uint64_t consumed = 0;  // bytes of the source converted
  total_ = 0;
  for (uint64_t k = 1;; ++k) {
    const uint32_t want =
        exact && k >= blocks ? static_cast<uint32_t>(d - fileBlock * (blocks - 1)) : fileBlock;
    const int64_t got = source_.Read(in.get(), want);
    if (got < 0) return Outcome::ReadFailed;
    consumed += static_cast<uint64_t>(got);
    // A file that ends before its dataSize ends the stream with what was read.
    const bool last = (exact && k >= blocks) || got < want;
    uint32_t flags = 0;
    if (k == 1) flags |= ChunkFirst;
    if (last) flags |= ChunkLast;
    const uint32_t produced = pack(resample_, wav.blockAlign, in.get(), static_cast<uint32_t>(got),
                                   out.get() + carry, flags, carry);
    total_ += produced;
    const uint32_t waiting = carry + produced;
    const uint32_t blocksReady = waiting / kTransferBlockBytes;
    for (uint32_t s = 0; s < blocksReady; ++s) {
      if (!sink(out.get() + s * kTransferBlockBytes, kTransferBlockBytes, sent)) {
        return Outcome::SinkFailed;
      }
      sent += kTransferBlockBytes;
    }
    carry = waiting % kTransferBlockBytes;
    if (blocksReady > 0) {
      std::memmove(out.get(), out.get() + blocksReady * kTransferBlockBytes, carry);
    }
    // Filler and the tail of the last page go out as zeros, never as an earlier block's bytes.
    std::memset(out.get() + carry, 0, std::min(kMaxPackedBytes, kOutputBufferBytes - carry));
    if (last) break;
    progress(consumed);
  }
  if (carry > 0) {
    const uint32_t length = (carry + pageBytes - 1) / pageBytes * pageBytes;
    if (!sink(out.get(), length, sent)) return Outcome::SinkFailed;
  }
  return Outcome::Done;
}

}  // namespace rendax
