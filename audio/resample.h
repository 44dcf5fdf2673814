// SPDX-License-Identifier: GPL-3.0-or-later
// The six converters between WAV frames and the pedal's page stream: linear interpolation
// on an exact rational grid, integer arithmetic only.
//
// A stream is converted in chunks, one call per chunk, in order; the first call passes
// ChunkFirst, the last ChunkLast. Output is independent of how the stream is cut: any chunking
// gives the same bytes as one call with ChunkFirst | ChunkLast over the whole stream.
#pragma once

#include <cstdint>

namespace rendax {

enum ChunkFlags : uint32_t { ChunkFirst = 1, ChunkLast = 2 };

// Carried from one chunk to the next. Every ChunkFirst call resets it.
struct ResampleState {
  int64_t lastLeft = 0;   // first channel of the last input frame seen
  int64_t lastRight = 0;  // second channel of that frame (two-channel converters)
  int64_t phase = 0;      // next output's distance past the predecessor frame, in 1/span units
  int64_t prevLeft = 0;   // the frame before the last: the pending output lies between the two
  int64_t prevRight = 0;
  uint32_t started = 0;  // 1 once the stream has had its first whole frame
};

// Packers (import). `in` holds WAV audio whose frames are `blockAlign` bytes (2, 3, 4 or 6);
// a trailing partial frame is ignored. A call without a whole frame writes nothing, except
// that with ChunkLast it still ends the stream (it may append the last frame). Output goes to `out`
// by the page writing rule, starting at running offset `startOffset` (only its value modulo the
// page size counts). Filler bytes are stepped over, never written. Returns the bytes produced,
// filler included.
uint32_t PackMono44100(ResampleState& state, uint16_t blockAlign, const uint8_t* in,
                       uint32_t inBytes, uint8_t* out, uint32_t flags, uint32_t startOffset);
uint32_t PackStereo44100(ResampleState& state, uint16_t blockAlign, const uint8_t* in,
                         uint32_t inBytes, uint8_t* out, uint32_t flags, uint32_t startOffset);
uint32_t PackMono48000(ResampleState& state, uint16_t blockAlign, const uint8_t* in,
                       uint32_t inBytes, uint8_t* out, uint32_t flags, uint32_t startOffset);
uint32_t PackStereo48000(ResampleState& state, uint16_t blockAlign, const uint8_t* in,
                         uint32_t inBytes, uint8_t* out, uint32_t flags, uint32_t startOffset);

// Unpackers (export). `in` is page stream beginning at a page boundary, `inBytes` at most
// 65,536; the reading rule takes at least one frame and may read up to frame size - 1 bytes
// past `inBytes`, which must lie inside the caller's buffer. Output is 24-bit 48,000 Hz frames
// back to back. Returns the bytes produced (3 or 6 per frame).
uint32_t UnpackMono(ResampleState& state, const uint8_t* in, uint32_t inBytes, uint8_t* out,
                    uint32_t flags);
uint32_t UnpackStereo(ResampleState& state, const uint8_t* in, uint32_t inBytes, uint8_t* out,
                      uint32_t flags);

// Where the processor offers them, the converters make eight samples at a time with vector
// instructions; the bytes are the same. With false, only the portable code runs, so
// that tests can check both on one machine. Not to be changed while a conversion runs.
void AllowVectorKernels(bool allowed);

// Upper bounds on the output of one call, for sizing buffers.
inline constexpr uint32_t kMaxPackerInputFrames = 65536;   // one file block
inline constexpr uint32_t kMaxUnpackOutputBytes = 262144;  // one transfer block's output fits

}  // namespace rendax
