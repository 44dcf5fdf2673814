// SPDX-License-Identifier: GPL-3.0-or-later
// What a file is: its kind as libsndfile names it, the reason a file that is no audio of ours
// is refused, and the plan by which its audio reaches the pedal, with the line that says so.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "audio/channel_mix.h"
#include "audio/wav_header.h"

namespace rendax {

// What a file holds, as the import and the command line's "info" tell it.
struct AudioFileInfo {
  // "WAV", "WAV (extensible)", "RF64", "W64", "AIFF", "AIFF-C", "FLAC", "Ogg Vorbis", "Opus",
  // "MP3", ...
  std::string container;
  // The sample format: "PCM 16-bit", "PCM 24-bit", "PCM 8-bit", "32-bit float", "MPEG layer III"
  std::string codec;
  uint32_t rate = 0;
  uint32_t bits = 0;  // 0 when the codec has no fixed width (lossy codecs)
  uint32_t channels = 0;
  std::optional<uint64_t> frames;  // unknown for a stream whose length cannot be told
  std::string chunks;              // a RIFF/RF64/W64 file's chunks in order: "JUNK fmt  LIST data"
};

// The names of a file's kind and sample format, from libsndfile's format code.
// ContainerName is null for a kind the import does not take.
const char* ContainerName(int sfFormat, const uint8_t* head, std::size_t n);
struct Codec {
  const char* text;
  uint32_t bits;
  bool lossy;
};
Codec CodecOf(int sfFormat);

// True for kinds whose first bytes libsndfile might take for a stream of MPEG frames: they are
// refused by name before it looks.
bool NamedBeforeDecoding(const uint8_t* head, std::size_t n);
// What a file that cannot be decoded is, from its first `n` bytes: "this is an MPEG-4/AAC file,
// which is not supported; convert it to WAV or FLAC first".
std::string NameTheFile(const uint8_t* head, std::size_t n);

// How a file reaches the pedal's converters.
struct ConversionPlan {
  bool decoded = false;      // false: the file's own samples, read as they are (the exact path)
  bool changes = false;      // the pedal gets other audio than the file's: the line says how
  WavFormat format;          // what the converters take; decoded: 24-bit PCM
  bool resampled = false;    // the rate changes to 48,000 Hz
  bool downmixed = false;    // 3 or more channels mixed to stereo (centre, surrounds at -3 dB)
  bool mixedToMono = false;  // both channels summed, (L+R)/2, for a one-channel pedal
  ChannelRule rule = ChannelRule::Default;
  // One line for the front ends: "FLAC, 96,000 Hz, 24-bit, stereo -> 48,000 Hz, 24-bit, stereo",
  // with what happens to the channels appended (", both channels mixed to mono", ", one channel:
  // the file's first channel", ...). A file whose audio goes in as it is, even if decoded from
  // another container, gets its own description alone: "WAV, 48,000 Hz, 24-bit, stereo".
  std::string description;
};

// The plan for a file already inspected, into a pedal with `pedalChannels` channels. `plain` says
// whether the file qualifies for the exact path; `mix` sums two channels into one for a
// one-channel pedal, `both` plays one channel on both sides of the two-channel pedal. Files at
// the pedal's own rate are decoded to the pedal's channels, never resampled.
ConversionPlan PlanConversion(const AudioFileInfo& info, bool plain, uint32_t pedalChannels,
                              bool mix, bool both = false);

// 96000 -> "96,000": the numbers of the descriptions, as people write them.
std::string GroupThousands(uint64_t v);

// "48,000 Hz", "stereo", "6 channels": the pieces of a description.
std::string DescribeRate(uint32_t rate);
std::string DescribeChannels(uint32_t channels);

}  // namespace rendax
