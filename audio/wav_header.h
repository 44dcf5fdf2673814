// SPDX-License-Identifier: GPL-3.0-or-later
// The RIFF/WAVE header: the 44-byte header the export writes and the validator the
// import applies to the first bytes of a file. Pure functions on memory, no I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace rendax {

// A WAV file's format as it travels through one job.
struct WavFormat {
  uint16_t channels = 0;       // 1 or 2 in an accepted file
  uint32_t sampleRate = 0;     // 44,100 or 48,000 in an accepted file
  uint16_t bitsPerSample = 0;  // 16 or 24 in an accepted file
  uint32_t dataSize = 0;       // bytes of audio in the "data" chunk
  uint32_t byteRate = 0;       // channels * bitsPerSample * sampleRate / 8
  uint16_t blockAlign = 0;     // bytes per frame; the packers' input frame size
  uint32_t riffSize = 0;       // file length minus 8
  uint32_t fmtSize = 0;        // 16 or 18
  uint16_t formatTag = 0;      // 1 (PCM) in an accepted file
};

inline constexpr std::size_t kWavHeaderBytes = 44;      // what the export writes
inline constexpr std::size_t kWavHeaderReadBytes = 46;  // what the import reads and examines

// Why a header was refused, so front ends can say what is wrong with a file.
enum class WavRejection {
  None,
  TooShort,         // fewer bytes than the header needs
  NotRiffWave,      // no "RIFF" ... "WAVEfmt " signature
  FmtChunkSize,     // "fmt " body neither 16 nor 18 bytes (extensible headers land here)
  NotPcm,           // format tag other than 1
  Channels,         // neither 1 nor 2 channels
  SampleRate,       // neither 44,100 nor 48,000 Hz
  BitsPerSample,    // neither 16 nor 24 bits
  DataNotNext,      // another chunk (LIST, fact, ...) stands between "fmt " and "data"
  InconsistentRate  // byteRate or blockAlign disagree with the other fields
};

// Fills `out` from `format` in header order; every field is copied as set by the caller.
void BuildWavHeader(std::span<uint8_t, kWavHeaderBytes> out, const WavFormat& format);

// The header of an export that holds `dataBytes` bytes of audio in `format`: the plain 44-byte
// header (BuildWavHeader) while the file stays within the 32-bit sizes, an RF64 header past that.
std::vector<uint8_t> BuildExportHeader(const WavFormat& format, uint64_t dataBytes);

// Validates the first `bytesRead` bytes of a file (at most kWavHeaderReadBytes are looked at)
// and fills `format`. Returns 1 when the file is accepted, 0 when not; `why` (optional) tells
// the reason. Bytes at or past `bytesRead` are never read. With `acceptPedalRate`, 24-bit audio
// at the pedal's own 46,875 Hz is accepted too (the lossless form of backups).
int ParseWavHeader(const uint8_t* header, std::size_t bytesRead, WavFormat& format,
                   WavRejection* why = nullptr, bool acceptPedalRate = false);

// Offset of the first audio byte of an accepted file: 28 + fmtSize (44 or 46).
inline constexpr uint32_t AudioOffset(const WavFormat& f) {
  return 28 + f.fmtSize;
}

// A short English description of a rejection: what the header has that the plain form does not
// ("The samples are neither 16-bit nor 24-bit", ...).
const char* DescribeWavRejection(WavRejection why);

}  // namespace rendax
