// SPDX-License-Identifier: GPL-3.0-or-later
// The WAV header validator on arbitrary bytes: it must never read past the bytes it was given
// nor past the 46 it examines, and what it accepts must be a header the converters can take.
#include <cstring>
#include <memory>
#include <vector>

#include "audio/wav_header.h"
#include "fuzz/fuzz_support.h"

using namespace rendax;

namespace {

bool SameFormat(const WavFormat& a, const WavFormat& b) {
  return a.channels == b.channels && a.sampleRate == b.sampleRate &&
         a.bitsPerSample == b.bitsPerSample && a.dataSize == b.dataSize &&
         a.byteRate == b.byteRate && a.blockAlign == b.blockAlign && a.formatTag == b.formatTag;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  WavFormat format;
  WavRejection why = WavRejection::None;
  const int accepted = ParseWavHeader(data, size, format, &why);
  FUZZ_CHECK(accepted == 0 || accepted == 1);
  FUZZ_CHECK(DescribeWavRejection(why) != nullptr && *DescribeWavRejection(why) != '\0');

  if (accepted) {
    FUZZ_CHECK(why == WavRejection::None);
    FUZZ_CHECK(format.channels == 1 || format.channels == 2);
    FUZZ_CHECK(format.sampleRate == 44100 || format.sampleRate == 48000);
    FUZZ_CHECK(format.bitsPerSample == 16 || format.bitsPerSample == 24);
    FUZZ_CHECK(format.formatTag == 1);
    FUZZ_CHECK(format.fmtSize == 16 || format.fmtSize == 18);
    // The import picks its packer by blockAlign: only these four frame sizes exist.
    FUZZ_CHECK(format.blockAlign == format.channels * format.bitsPerSample / 8);
    FUZZ_CHECK(size >= AudioOffset(format));

    // A header built from what was accepted is accepted again with the same fields.
    WavFormat built = format;
    built.fmtSize = 16;
    uint8_t bytes[kWavHeaderBytes];
    BuildWavHeader(std::span<uint8_t, kWavHeaderBytes>(bytes), built);
    WavFormat again;
    FUZZ_CHECK(ParseWavHeader(bytes, sizeof bytes, again) == 1);
    FUZZ_CHECK(SameFormat(again, format));

    // An export's header within the 32-bit sizes is that plain header, byte for byte; past them
    // it is RF64 with the same "fmt " chunk.
    built.dataSize = format.dataSize;
    built.riffSize = format.dataSize + 36;
    BuildWavHeader(std::span<uint8_t, kWavHeaderBytes>(bytes), built);
    const uint64_t dataBytes = format.dataSize;
    if (dataBytes + 36 <= 0xFFFFFFFFu) {
      FUZZ_CHECK(BuildExportHeader(built, dataBytes) == std::vector<uint8_t>(bytes, bytes + 44));
    }
    const std::vector<uint8_t> rf64 = BuildExportHeader(built, dataBytes + (uint64_t{1} << 32));
    FUZZ_CHECK(rf64.size() == 80 && std::memcmp(rf64.data(), "RF64", 4) == 0);
    FUZZ_CHECK(std::memcmp(rf64.data() + 48, bytes + 12, 24) == 0);
  } else {
    FUZZ_CHECK(why != WavRejection::None);
  }

  // Only the first 46 bytes may be looked at, whatever the caller says it read: hand over an
  // exactly sized copy of them with the full length claimed.
  const size_t examined = size < kWavHeaderReadBytes ? size : kWavHeaderReadBytes;
  std::unique_ptr<uint8_t[]> head(new uint8_t[examined ? examined : 1]);
  if (examined) std::memcpy(head.get(), data, examined);
  WavFormat fromHead;
  WavRejection whyHead = WavRejection::None;
  FUZZ_CHECK(ParseWavHeader(head.get(), size, fromHead, &whyHead) == accepted);
  FUZZ_CHECK(whyHead == why);
  if (accepted) FUZZ_CHECK(SameFormat(fromHead, format));

  // A file cut shorter is never read past its end.
  for (size_t cut = 0; cut < examined; ++cut) {
    std::vector<uint8_t> prefix(data, data + cut);
    prefix.shrink_to_fit();
    WavFormat f;
    ParseWavHeader(prefix.data(), prefix.size(), f);
  }
  return 0;
}
