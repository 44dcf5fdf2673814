// SPDX-License-Identifier: GPL-3.0-or-later
// The write side of the pedal's loop, beside the loop reader: the audio of a source converted
// into page stream and handed on in transfer blocks. The import writes through it, and the check
// after an import compares what the loop reader reads back with it.
#pragma once

#include <cstdint>
#include <functional>

#include "audio/resample.h"
#include "audio/wav_header.h"
#include "transfer/decode.h"

namespace rendax {

// Converts the audio of a source into page stream and hands it on in transfer blocks: full
// 65,536-byte blocks as they fill, then the rest rounded up to whole sample pages (the bytes
// past the stream's end are zero, as are the filler bytes). Stops at the first block the sink
// refuses.
class StreamMaker {
 public:
  // `sink(data, length, streamOffset)` returns false to stop.
  using Sink = std::function<bool(const uint8_t*, uint32_t, uint64_t)>;
  // Bytes of the source converted so far, after every file block but the last.
  using Progress = std::function<void(uint64_t)>;

  enum class Outcome { Done, SinkFailed, ReadFailed, OutOfMemory };

  // Bytes of page stream the source makes, from a run that writes nothing (for a length check).
  static uint64_t Count(AudioSource& source, uint8_t model);

  StreamMaker(AudioSource& source, uint8_t model, ResampleState& resample)
      : source_(source), model_(model), resample_(resample) {}

  // Converts the whole source: `sink` takes each transfer block, `progress` hears of each file
  // block but the last.
  Outcome Run(const Sink& sink, const Progress& progress);

  uint64_t Total() const { return total_; }
  // The bytes of the source one step of the bar counts: a file block of 65,536 samples.
  static uint32_t FileBlock(const WavFormat& wav) {
    return wav.bitsPerSample == 24 ? 196608 : 131072;
  }

 private:
  AudioSource& source_;
  uint8_t model_;
  ResampleState& resample_;
  uint64_t total_ = 0;
};

}  // namespace rendax
