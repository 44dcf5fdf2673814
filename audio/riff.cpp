// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/riff.h"

#include <cstring>

namespace rendax {
namespace {

bool TagIs(const uint8_t* p, const char* tag) {
  return std::memcmp(p, tag, 4) == 0;
}

// Wave64 names its file "riff" and its form "wave", each followed by 12 GUID bytes.
constexpr uint8_t kW64Riff[16] = {'r',  'i',  'f',  'f',  0x2E, 0x91, 0xCF, 0x11,
                                  0xA5, 0xD6, 0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00};
constexpr uint8_t kW64Wave[16] = {'w',  'a',  'v',  'e',  0xF3, 0xAC, 0xD3, 0x11,
                                  0x8C, 0xD1, 0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};
constexpr uint64_t kW64HeadBytes = 40;
constexpr uint64_t kW64ChunkHeader = 24;

// One chunk header at `p` (bytes from file offset `at`); false when it is not whole in `n`.
bool ReadChunk(RiffWalk& w, const uint8_t* p, uint64_t n, uint64_t at, uint64_t fileSize) {
  const bool w64 = w.form == RiffForm::Wave64;
  const uint64_t headerBytes = w64 ? kW64ChunkHeader : 8;
  if (n < headerBytes) return false;
  RiffChunk c;
  std::memcpy(c.id, p, 4);
  c.headerAt = at;
  c.bodyAt = at + headerBytes;
  if (w64) {
    const uint64_t total = GetLe64(p + 16);
    c.size = total < kW64ChunkHeader ? 0 : total - kW64ChunkHeader;
  } else {
    c.size32 = GetLe32(p + 4);
    c.size = c.size32;
  }
  if (w.form == RiffForm::Rf64 && TagIs(p, "ds64") && c.size >= 24 && n >= headerBytes + 24) {
    w.ds64Riff = GetLe64(p + 8);
    w.ds64Data = GetLe64(p + 16);
    w.ds64Samples = GetLe64(p + 24);
  }
  const bool data = TagIs(p, "data");
  if (w.form == RiffForm::Rf64 && data && c.size32 == 0xFFFFFFFFu) c.size = w.ds64Data;
  // A plain "data" chunk whose writer never filled in its size runs to the end of the file.
  const bool unfinished = w.form == RiffForm::Riff && data && (c.size32 == 0 || c.size32 == ~0u);
  c.truncated = c.bodyAt + c.size > fileSize;
  w.chunks.push_back(c);
  const uint64_t align = w64 ? 8 : 2;
  const uint64_t next = (c.bodyAt + c.size + align - 1) / align * align;
  if (unfinished || next < c.bodyAt || next + headerBytes > fileSize) {
    w.cutHeader = !unfinished && next < fileSize;
    w.next = 0;
  } else {
    w.next = next;
  }
  return true;
}

}  // namespace

WavFormat MakeWavFormat(uint32_t channels, uint32_t rate, uint32_t bits) {
  WavFormat f;
  f.channels = static_cast<uint16_t>(channels);
  f.sampleRate = rate;
  f.bitsPerSample = static_cast<uint16_t>(bits);
  f.blockAlign = static_cast<uint16_t>(channels * bits / 8);
  f.byteRate = rate * f.blockAlign;
  f.formatTag = 1;
  f.fmtSize = 16;
  return f;
}

std::string RiffWalk::Names() const {
  std::string names;
  for (const RiffChunk& c : chunks) {
    if (!names.empty()) names += ' ';
    for (int i = 0; i < 4; ++i) {
      const char ch = c.id[i];
      names += ch < 0x20 || ch > 0x7E ? '?' : ch;
    }
  }
  return names;
}

const RiffChunk* RiffWalk::Find(const char* id) const {
  for (const RiffChunk& c : chunks) {
    if (std::memcmp(c.id, id, 4) == 0) return &c;
  }
  return nullptr;
}

RiffWalk WalkRiff(std::span<const uint8_t> head, uint64_t fileSize) {
  RiffWalk w;
  const uint8_t* p = head.data();
  if (head.size() >= kW64HeadBytes && std::memcmp(p, kW64Riff, 16) == 0 &&
      std::memcmp(p + 24, kW64Wave, 16) == 0) {
    w.form = RiffForm::Wave64;
    w.next = kW64HeadBytes;
  } else if (head.size() >= 12 && (TagIs(p, "RIFF") || TagIs(p, "RF64")) && TagIs(p + 8, "WAVE")) {
    w.form = TagIs(p, "RIFF") ? RiffForm::Riff : RiffForm::Rf64;
    w.next = 12;
  } else {
    return w;
  }
  if (w.next >= fileSize) {
    w.next = 0;
    return w;
  }
  if (w.next + (w.form == RiffForm::Wave64 ? kW64ChunkHeader : 8) > fileSize) {
    w.cutHeader = true;
    w.next = 0;
    return w;
  }
  ContinueRiffWalk(w, head.subspan(static_cast<std::size_t>(w.next)), fileSize);
  return w;
}

void ContinueRiffWalk(RiffWalk& w, std::span<const uint8_t> bytes, uint64_t fileSize) {
  const uint64_t base = w.next;
  while (w.next != 0 && w.chunks.size() < kMaxRiffChunks) {
    const uint64_t at = w.next - base;
    if (at >= bytes.size() ||
        !ReadChunk(w, bytes.data() + at, bytes.size() - at, w.next, fileSize)) {
      return;  // the caller reads on from w.next
    }
  }
  if (w.chunks.size() >= kMaxRiffChunks) w.next = 0;
}

}  // namespace rendax
