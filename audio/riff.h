// SPDX-License-Identifier: GPL-3.0-or-later
// The RIFF toolbox: little-endian numbers, the chunks of a RIFF, RF64 or Wave64 file, and the
// format block of a PCM file. Pure functions on memory, no I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "audio/wav_header.h"

namespace rendax {

inline uint16_t GetLe16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
inline uint32_t GetLe24(const uint8_t* p) {
  return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16;
}
inline uint32_t GetLe32(const uint8_t* p) {
  return GetLe24(p) | uint32_t{p[3]} << 24;
}
inline uint64_t GetLe64(const uint8_t* p) {
  return GetLe32(p) | uint64_t{GetLe32(p + 4)} << 32;
}
inline void PutLe16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void PutLe24(uint8_t* p, uint32_t v) {
  PutLe16(p, v);
  p[2] = static_cast<uint8_t>(v >> 16);
}
inline void PutLe32(uint8_t* p, uint32_t v) {
  PutLe16(p, v);
  PutLe16(p + 2, v >> 16);
}
inline void PutLe64(uint8_t* p, uint64_t v) {
  PutLe32(p, static_cast<uint32_t>(v));
  PutLe32(p + 4, static_cast<uint32_t>(v >> 32));
}

// The format block of a PCM file of `channels` x `rate` x `bits`: every derived field filled,
// a 16-byte "fmt " body, the sizes left 0.
WavFormat MakeWavFormat(uint32_t channels, uint32_t rate, uint32_t bits);

enum class RiffForm { None, Riff, Rf64, Wave64 };

// One chunk of a walk. Wave64 chunks are named by the first 4 bytes of their GUID, which are
// the RIFF chunk's name in lower case ("fmt ", "data").
struct RiffChunk {
  char id[5] = {};
  uint64_t headerAt = 0;   // file offset of the chunk's header
  uint64_t bodyAt = 0;     // file offset of its first body byte
  uint64_t size = 0;       // body bytes as the header says (an RF64 chunk's from "ds64")
  uint32_t size32 = 0;     // the 32-bit size field itself (RIFF and RF64)
  bool truncated = false;  // the body runs past the end of the file
};

// A walk over a file's chunks. A file is walked from its first bytes, and continued from
// `next` with more bytes when a chunk header lies past the bytes given.
struct RiffWalk {
  RiffForm form = RiffForm::None;
  std::vector<RiffChunk> chunks;
  uint64_t ds64Riff = 0, ds64Data = 0, ds64Samples = 0;  // an RF64 file's 64-bit sizes
  uint64_t next = 0;       // where the walk goes on; 0 once it has ended
  bool cutHeader = false;  // the file ends inside a chunk header
  // The chunks' names in order: "JUNK fmt  LIST data" (unprintable bytes as '?').
  std::string Names() const;
  const RiffChunk* Find(const char* id) const;
};

// The most chunks a walk takes: a file with more is damaged or hostile.
inline constexpr std::size_t kMaxRiffChunks = 256;

// Begins a walk over `head`, the first bytes of a file of `fileSize` bytes. A chunk whose size
// field is 0 or 0xFFFFFFFF in a plain RIFF "data" chunk (a writer that never finished) ends the
// walk: its audio runs to the end of the file.
RiffWalk WalkRiff(std::span<const uint8_t> head, uint64_t fileSize);
// Goes on with `bytes`, the file's bytes from `walk.next`.
void ContinueRiffWalk(RiffWalk& walk, std::span<const uint8_t> bytes, uint64_t fileSize);

}  // namespace rendax
