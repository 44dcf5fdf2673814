// Any audio file in: what a file is, how it will reach the pedal, and the audio source the
// import reads from.
//
// A plain PCM WAV at 44,100 or 48,000 Hz (16 or 24 bits, 1 or 2 channels, "fmt " then "data")
// and the pedal's own 46,875 Hz lossless form go to the converters as they are. Every other file
// libsndfile reads (WAV in any form, RF64, AIFF, FLAC, Ogg Vorbis, Opus, MP3) is decoded block by
// block into 24-bit PCM at 44,100 or 48,000 Hz with 1 or 2 channels, and then takes the same
// converters and page layout: there is one way into the pedal.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "audio/wav_header.h"

namespace rendax {

// What a file holds, as the import and the command line's "info" tell it.
struct AudioFileInfo {
  // "WAV", "WAV (extensible)", "RF64", "AIFF", "AIFF-C", "FLAC", "Ogg Vorbis", "Opus", "MP3", ...
  std::string container;
  // The sample format: "PCM 16-bit", "PCM 24-bit", "PCM 8-bit", "32-bit float", "MPEG layer III"
  std::string codec;
  uint32_t rate = 0;
  uint32_t bits = 0;  // 0 when the codec has no fixed width (lossy codecs)
  uint32_t channels = 0;
  std::optional<uint64_t> frames;  // unknown for a stream whose length cannot be told
  std::string chunks;              // a RIFF/RF64 file's chunks in order: "JUNK fmt  LIST data"
};

// Reads what `path` (UTF-8) holds without decoding its audio. False when it is no audio file
// this program reads; `reason` then says what it is ("this is an MPEG-4/AAC file, which is not
// supported; convert it to WAV or FLAC first").
bool InspectAudioFile(const std::string& path, AudioFileInfo& info, std::string& reason);

// How a file reaches the pedal's converters.
struct ConversionPlan {
  bool converted = false;    // false: the file's own samples, read as they are (the exact path)
  WavFormat format;          // what the converters take; decoded: 24-bit, 44,100/48,000 Hz, 1/2 ch
  bool resampled = false;    // the rate changes to 48,000 Hz
  bool downmixed = false;    // 3 or more channels mixed to stereo (centre, surrounds at -3 dB)
  bool mixedToMono = false;  // both channels summed, (L+R)/2, for a one-channel pedal
  // One line for the front ends: "FLAC, 96,000 Hz, 24-bit, stereo -> 48,000 Hz, 24-bit, stereo"
  // (", mixed to stereo" or ", both channels mixed to mono" appended when that happens). A file
  // that goes as it is gets its own description alone: "WAV, 48,000 Hz, 24-bit, stereo".
  std::string description;
};

// The plan for a file already inspected, into a pedal with `pedalChannels` channels. `plain` says
// whether the file qualifies for the exact path (a plain WAV as above, its data size neither 0
// nor 0xFFFFFFFF); `mix` sums two channels into one for a one-channel pedal.
ConversionPlan PlanConversion(const AudioFileInfo& info, bool plain, uint32_t pedalChannels,
                              bool mix);

// 96000 -> "96,000": the numbers of the descriptions, as people write them.
std::string GroupThousands(uint64_t v);

// "48,000 Hz", "stereo", "6 channels": the pieces of a description.
std::string DescribeRate(uint32_t rate);
std::string DescribeChannels(uint32_t channels);

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
