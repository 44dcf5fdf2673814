// SPDX-License-Identifier: GPL-3.0-or-later
// Header building and the import's acceptance rules, on headers made in memory.
#include "audio/wav_header.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <string>
#include <vector>

namespace rendax {
namespace {

WavFormat Format(uint16_t channels, uint32_t rate, uint16_t bits) {
  WavFormat f;
  f.channels = channels;
  f.sampleRate = rate;
  f.bitsPerSample = bits;
  f.blockAlign = static_cast<uint16_t>(channels * bits / 8);
  f.byteRate = rate * f.blockAlign;
  f.formatTag = 1;
  f.fmtSize = 16;
  f.dataSize = 6000;
  f.riffSize = f.dataSize + 36;
  return f;
}

std::vector<uint8_t> Header(const WavFormat& f) {
  std::array<uint8_t, kWavHeaderBytes> h{};
  BuildWavHeader(h, f);
  return {h.begin(), h.end()};
}

// The same header with an 18-byte "fmt " body (two extra bytes before "data").
std::vector<uint8_t> With18ByteFmt(std::vector<uint8_t> h) {
  h[16] = 18;
  h.insert(h.begin() + 36, {0, 0});
  return h;
}

TEST(WavHeader, BuildWritesTheFieldsInHeaderOrder) {
  WavFormat f = Format(2, 48000, 24);
  f.dataSize = 0x01020304;
  f.riffSize = 0x0A0B0C0D;  // copied, not computed
  const std::vector<uint8_t> h = Header(f);
  const uint8_t expected[44] = {'R', 'I', 'F',  'F',  0x0D, 0x0C, 0x0B, 0x0A, 'W',  'A', 'V',
                                'E', 'f', 'm',  't',  ' ',  16,   0,    0,    0,    1,   0,
                                2,   0,   0x80, 0xBB, 0,    0,    0x00, 0x65, 0x04, 0,   6,
                                0,   24,  0,    'd',  'a',  't',  'a',  4,    3,    2,   1};
  EXPECT_EQ(0, std::memcmp(h.data(), expected, 44));
}

TEST(WavHeader, AcceptsEveryPlainPcmFormatAndReadsItBack) {
  for (uint16_t ch : {1, 2}) {
    for (uint32_t rate : {44100u, 48000u}) {
      for (uint16_t bits : {16, 24}) {
        SCOPED_TRACE(std::to_string(ch) + "ch " + std::to_string(rate) + " " +
                     std::to_string(bits));
        const WavFormat in = Format(ch, rate, bits);
        for (const auto& h : {Header(in), With18ByteFmt(Header(in))}) {
          WavFormat out;
          WavRejection why = WavRejection::NotPcm;
          ASSERT_EQ(ParseWavHeader(h.data(), h.size(), out, &why), 1);
          EXPECT_EQ(why, WavRejection::None);
          EXPECT_EQ(out.channels, ch);
          EXPECT_EQ(out.sampleRate, rate);
          EXPECT_EQ(out.bitsPerSample, bits);
          EXPECT_EQ(out.blockAlign, in.blockAlign);
          EXPECT_EQ(out.dataSize, 6000u);
          EXPECT_EQ(AudioOffset(out), h.size());
        }
      }
    }
  }
}

TEST(WavHeader, RefusesWhatItCannotConvert) {
  struct Case {
    std::string name;
    size_t offset;
    std::vector<uint8_t> bytes;
    WavRejection why;
  };
  const std::vector<Case> cases = {
      {"not RIFF", 0, {'R', 'I', 'F', 'X'}, WavRejection::NotRiffWave},
      {"not WAVE", 8, {'A', 'V', 'I', ' '}, WavRejection::NotRiffWave},
      {"no fmt", 12, {'J', 'U', 'N', 'K'}, WavRejection::NotRiffWave},
      {"zero channels", 22, {0, 0}, WavRejection::Channels},
      {"three channels", 22, {3, 0}, WavRejection::Channels},
      {"40-byte fmt", 16, {40, 0, 0, 0}, WavRejection::FmtChunkSize},
      {"extensible tag", 20, {0xFE, 0xFF}, WavRejection::NotPcm},
      {"float tag", 20, {3, 0}, WavRejection::NotPcm},
      {"96 kHz", 24, {0x00, 0x77, 0x01, 0x00}, WavRejection::SampleRate},
      {"8 bits", 34, {8, 0}, WavRejection::BitsPerSample},
      {"32 bits", 34, {32, 0}, WavRejection::BitsPerSample},
      {"LIST before data", 36, {'L', 'I', 'S', 'T'}, WavRejection::DataNotNext},
      {"byte rate off by one", 28, {0x01, 0x65, 0x04, 0}, WavRejection::InconsistentRate},
      {"block align 4 for 24-bit stereo", 32, {4, 0}, WavRejection::InconsistentRate},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> h = Header(Format(2, 48000, 24));
    std::copy(c.bytes.begin(), c.bytes.end(), h.begin() + c.offset);
    WavFormat out;
    WavRejection why = WavRejection::None;
    EXPECT_EQ(ParseWavHeader(h.data(), h.size(), out, &why), 0);
    EXPECT_EQ(why, c.why);
    EXPECT_STRNE(DescribeWavRejection(why), "");
  }
}

TEST(WavHeader, IgnoresRiffSizeAndAcceptsEmptyData) {
  WavFormat f = Format(1, 44100, 16);
  f.riffSize = 7;
  f.dataSize = 0;
  const auto h = Header(f);
  WavFormat out;
  EXPECT_EQ(ParseWavHeader(h.data(), h.size(), out), 1);
  EXPECT_EQ(out.dataSize, 0u);
  EXPECT_EQ(out.riffSize, 7u);
}

TEST(WavHeader, NeverTakesUnreadBytesAsHeader) {
  // The buffer holds a whole valid header; only the count of bytes read decides.
  const auto h16 = Header(Format(1, 48000, 24));
  const auto h18 = With18ByteFmt(h16);
  for (size_t read : {size_t{0}, size_t{15}, size_t{16}, size_t{43}}) {
    WavFormat out;
    out.channels = 9;
    WavRejection why = WavRejection::None;
    EXPECT_EQ(ParseWavHeader(h16.data(), read, out, &why), 0) << read;
    EXPECT_EQ(why, WavRejection::TooShort);
    EXPECT_EQ(out.channels, 9) << "nothing is stored from a cut header";
  }
  for (size_t read : {size_t{44}, size_t{45}}) {
    WavFormat out;
    WavRejection why = WavRejection::None;
    EXPECT_EQ(ParseWavHeader(h18.data(), read, out, &why), 0) << read;
    EXPECT_EQ(why, WavRejection::TooShort);
  }
  WavFormat out;
  EXPECT_EQ(ParseWavHeader(h16.data(), 44, out), 1);
  EXPECT_EQ(ParseWavHeader(h18.data(), 46, out), 1);
}

}  // namespace
}  // namespace rendax
