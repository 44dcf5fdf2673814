// SPDX-License-Identifier: GPL-3.0-or-later
// Any audio file in: what a file is, how it will reach the pedal, and the audio source the
// import reads from.
//
// A plain PCM WAV at 44,100 or 48,000 Hz (16 or 24 bits, 1 or 2 channels, "fmt " then "data")
// and the pedal's own 46,875 Hz lossless form go to the converters as they are. Every other file
// libsndfile reads (WAV in any form, RF64, W64, AIFF, FLAC, Ogg Vorbis, Opus, MP3) is decoded
// block by block into 24-bit PCM at 44,100, 48,000 or the pedal's own 46,875 Hz with 1 or 2
// channels, and then takes the same converters and page layout: there is one way into the pedal.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "audio/wav_header.h"
#include "transfer/file_kind.h"

namespace rendax {

// Reads what `path` (UTF-8) holds without decoding its audio. False when it is no audio file
// this program reads; `reason` then says what it is ("this is an MPEG-4/AAC file, which is not
// supported; convert it to WAV or FLAC first").
bool InspectAudioFile(const std::string& path, AudioFileInfo& info, std::string& reason);

// The audio the import converts, block by block in constant memory.
class AudioSource {
 public:
  virtual ~AudioSource() = default;
  // The form of the bytes Read gives: the file's own for the exact path, else 24-bit PCM at
  // 44,100 or 48,000 Hz with 1 or 2 channels (blockAlign 3 or 6).
  virtual const WavFormat& Format() const = 0;
  // Up to `bytes` bytes of audio (room for at least one frame). Fewer only at the end of the
  // audio; 0 once it is over; -1 on a read or decode error (Reason() says why).
  virtual int64_t Read(uint8_t* buffer, uint32_t bytes) = 0;
  // Bytes of audio the source is expected to give: exact for the exact path, an estimate for a
  // decoded file (its length as the file tells it, at the output rate).
  virtual uint64_t ExpectedBytes() const = 0;
  // True when ExpectedBytes is exact and Read gives exactly that many.
  virtual bool ExactLength() const = 0;
  virtual const std::string& Reason() const = 0;
};

// The exact path: `audioBytes` bytes from `audioOffset` of a plain WAV whose header gave `wav`.
std::unique_ptr<AudioSource> OpenPlainSource(const std::string& path, const WavFormat& wav,
                                             uint32_t audioOffset, uint32_t audioBytes,
                                             std::string& reason);
// Everything else: the file decoded as `plan` says. Null with `reason` when it cannot be opened.
std::unique_ptr<AudioSource> OpenDecodedSource(const std::string& path, const ConversionPlan& plan,
                                               std::string& reason);

}  // namespace rendax
