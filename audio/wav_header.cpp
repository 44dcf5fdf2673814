// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/wav_header.h"

#include <cstring>

#include "audio/riff.h"

namespace rendax {
namespace {

bool TagAt(const uint8_t* p, const char* tag) {
  return std::memcmp(p, tag, 4) == 0;
}

constexpr uint32_t kDs64BodyBytes = 28;
constexpr std::size_t kRf64HeaderBytes = kWavHeaderBytes + 8 + kDs64BodyBytes;

int Refuse(WavRejection reason, WavRejection* why) {
  if (why) *why = reason;
  return 0;
}

}  // namespace

void BuildWavHeader(std::span<uint8_t, kWavHeaderBytes> out, const WavFormat& f) {
  uint8_t* p = out.data();
  std::memcpy(p + 0, "RIFF", 4);
  PutLe32(p + 4, f.riffSize);
  std::memcpy(p + 8, "WAVE", 4);
  std::memcpy(p + 12, "fmt ", 4);
  PutLe32(p + 16, f.fmtSize);
  PutLe16(p + 20, f.formatTag);
  PutLe16(p + 22, f.channels);
  PutLe32(p + 24, f.sampleRate);
  PutLe32(p + 28, f.byteRate);
  PutLe16(p + 32, f.blockAlign);
  PutLe16(p + 34, f.bitsPerSample);
  std::memcpy(p + 36, "data", 4);
  PutLe32(p + 40, f.dataSize);
}

std::vector<uint8_t> BuildExportHeader(const WavFormat& format, uint64_t dataBytes) {
  WavFormat f = format;
  if (dataBytes <= 0xFFFFFFFFull - (kWavHeaderBytes - 8)) {
    f.dataSize = static_cast<uint32_t>(dataBytes);
    f.riffSize = static_cast<uint32_t>(dataBytes + kWavHeaderBytes - 8);
    std::vector<uint8_t> out(kWavHeaderBytes);
    BuildWavHeader(std::span<uint8_t, kWavHeaderBytes>(out.data(), kWavHeaderBytes), f);
    return out;
  }
  // Too long for 32-bit sizes: "RF64", whose "ds64" chunk holds the real sizes and leaves
  // 0xFFFFFFFF in the 32-bit fields. The "fmt " chunk and the samples are as in a plain file.
  f.dataSize = 0xFFFFFFFFu;
  f.riffSize = 0xFFFFFFFFu;
  f.fmtSize = 16;
  uint8_t plain[kWavHeaderBytes];
  BuildWavHeader(std::span<uint8_t, kWavHeaderBytes>(plain), f);
  std::vector<uint8_t> out(kRf64HeaderBytes);
  uint8_t* p = out.data();
  std::memcpy(p, "RF64", 4);
  std::memcpy(p + 4, plain + 4, 8);  // 0xFFFFFFFF, "WAVE"
  std::memcpy(p + 12, "ds64", 4);
  PutLe32(p + 16, kDs64BodyBytes);
  PutLe64(p + 20, dataBytes + kRf64HeaderBytes - 8);
  PutLe64(p + 28, dataBytes);
  PutLe64(p + 36, f.blockAlign ? dataBytes / f.blockAlign : 0);
  PutLe32(p + 44, 0);                                     // no table of other chunks' sizes
  std::memcpy(p + 48, plain + 12, kWavHeaderBytes - 12);  // "fmt " ... "data" 0xFFFFFFFF
  return out;
}

int ParseWavHeader(const uint8_t* h, std::size_t bytesRead, WavFormat& f, WavRejection* why,
                   bool acceptPedalRate) {
  // The signature is judged first, and nothing is stored for a file that is not RIFF/WAVE.
  if (bytesRead < 16) return Refuse(WavRejection::TooShort, why);
  if (!TagAt(h, "RIFF") || !TagAt(h + 8, "WAVE") || !TagAt(h + 12, "fmt ")) {
    return Refuse(WavRejection::NotRiffWave, why);
  }
  // Every field below lies inside the shortest header; a file cut before its end has no
  // trustworthy fields at all, so it is refused before anything is stored.
  if (bytesRead < kWavHeaderBytes) return Refuse(WavRejection::TooShort, why);

  f.riffSize = GetLe32(h + 4);
  f.fmtSize = GetLe32(h + 16);
  f.formatTag = GetLe16(h + 20);
  f.channels = GetLe16(h + 22);
  f.sampleRate = GetLe32(h + 24);
  f.byteRate = GetLe32(h + 28);
  f.blockAlign = GetLe16(h + 32);
  f.bitsPerSample = GetLe16(h + 34);

  if (f.channels != 1 && f.channels != 2) return Refuse(WavRejection::Channels, why);
  if (f.fmtSize != 16 && f.fmtSize != 18) return Refuse(WavRejection::FmtChunkSize, why);
  if (f.formatTag != 1) return Refuse(WavRejection::NotPcm, why);
  const bool pedalRate = acceptPedalRate && f.sampleRate == 46875 && f.bitsPerSample == 24;
  if (f.sampleRate != 44100 && f.sampleRate != 48000 && !pedalRate) {
    return Refuse(WavRejection::SampleRate, why);
  }
  if (f.bitsPerSample != 16 && f.bitsPerSample != 24) {
    return Refuse(WavRejection::BitsPerSample, why);
  }
  // An 18-byte "fmt " body moves "data" and its size two bytes on, past the 44 bytes.
  if (bytesRead < 28 + f.fmtSize) return Refuse(WavRejection::TooShort, why);
  if (!TagAt(h + 20 + f.fmtSize, "data")) return Refuse(WavRejection::DataNotNext, why);
  const uint32_t byteRate = uint32_t{f.channels} * f.bitsPerSample * f.sampleRate / 8;
  const uint32_t blockAlign = uint32_t{f.channels} * f.bitsPerSample / 8;
  if (f.byteRate != byteRate || f.blockAlign != blockAlign) {
    return Refuse(WavRejection::InconsistentRate, why);
  }
  f.dataSize = GetLe32(h + 24 + f.fmtSize);
  if (why) *why = WavRejection::None;
  return 1;
}

const char* DescribeWavRejection(WavRejection why) {
  switch (why) {
    case WavRejection::None:
      return "The file is a plain PCM WAV file";
    case WavRejection::TooShort:
      return "The file is shorter than a WAV header";
    case WavRejection::NotRiffWave:
      return "The file is not a RIFF/WAVE file";
    case WavRejection::FmtChunkSize:
      return "The WAV header is in the extensible format, not plain PCM";
    case WavRejection::NotPcm:
      return "The audio is not plain integer PCM";
    case WavRejection::Channels:
      return "The file has neither one nor two channels";
    case WavRejection::SampleRate:
      return "The sample rate is neither 44,100 Hz nor 48,000 Hz";
    case WavRejection::BitsPerSample:
      return "The samples are neither 16-bit nor 24-bit";
    case WavRejection::DataNotNext:
      return "Other chunks (such as LIST) stand between the format and the audio";
    case WavRejection::InconsistentRate:
      return "The header's byte rate or frame size does not match its format";
  }
  // A value outside the enumeration: say only what is sure, the job's title says the rest.
  return "The header is not a plain PCM WAV header";
}

}  // namespace rendax
