// SPDX-License-Identifier: GPL-3.0-or-later
#include "tests/audio/reference_converter.h"

namespace rendax::testing {
namespace {

int64_t Sample(const uint8_t* p, int bytes) {
  int64_t v = 0;
  for (int i = bytes - 1; i >= 0; --i) v = v * 256 + p[i];
  if (bytes == 2) v *= 256;         // widened to 24 bits
  if (v >= 8388608) v -= 16777216;  // sign bit 23
  return v;
}

void Put24(uint8_t* p, int64_t v) {
  const int64_t u = v < 0 ? v + 16777216 : v;
  p[0] = static_cast<uint8_t>(u % 256);
  p[1] = static_cast<uint8_t>(u / 256 % 256);
  p[2] = static_cast<uint8_t>(u / 65536 % 256);
}

int64_t Interp(RefRatio q, int64_t a, int64_t b, int64_t phase) {
  return ((q.span - phase) * a + phase * b) / q.span;
}

}  // namespace

std::vector<RefFrame> RefDecodeWav(const std::vector<uint8_t>& bytes, int blockAlign,
                                   int channels) {
  const int width = (blockAlign == 2 || blockAlign == 4) ? 2 : 3;
  const bool twoInFile = blockAlign == 4 || blockAlign == 6;
  std::vector<RefFrame> x;
  for (std::size_t i = 0; i + blockAlign <= bytes.size(); i += blockAlign) {
    RefFrame f;
    f.l = Sample(&bytes[i], width);
    if (channels == 2 && twoInFile) f.r = Sample(&bytes[i + width], width);
    x.push_back(f);
  }
  return x;
}

std::vector<RefFrame> RefReadPages(const uint8_t* block, uint32_t length, int channels) {
  const uint32_t frameBytes = 3 * channels;
  const uint32_t pageBytes = 2048 * channels;
  const uint32_t fillerBytes = 2 * channels;
  std::vector<RefFrame> x;
  uint32_t q = 0;
  do {
    RefFrame f;
    f.l = Sample(block + q, 3);
    if (channels == 2) f.r = Sample(block + q + 3, 3);
    x.push_back(f);
    q += frameBytes;
    if (q % pageBytes == pageBytes - fillerBytes) q += fillerBytes;
  } while (q < length);
  return x;
}

std::vector<RefFrame> RefConvertWhole(RefRatio q, const std::vector<RefFrame>& x,
                                      int64_t* endPhase) {
  std::vector<RefFrame> y;
  const int64_t n = static_cast<int64_t>(x.size());
  if (n == 0) return y;
  int64_t phase = 0;
  int64_t c = 0;
  RefFrame last = x[0];
  y.push_back(x[0]);
  if (n == 1) {
    // A one-frame stream: its first frame is at once its last.
    phase += q.step;
  } else {
    for (bool done = false; !done;) {
      phase += q.step;
      while (phase >= q.span) {
        phase -= q.span;
        c += 1;
        if (c == n - 1) {
          done = true;
          break;
        }
      }
      if (done) break;
      const RefFrame p = c == 0 ? last : x[c - 1];
      y.push_back(RefFrame{Interp(q, p.l, x[c].l, phase), Interp(q, p.r, x[c].r, phase)});
    }
  }
  if (phase < q.span / 2) y.push_back(x[n - 1]);
  if (endPhase) *endPhase = phase;
  return y;
}

uint32_t RefWritePages(const std::vector<RefFrame>& frames, int channels, uint8_t* out,
                       uint32_t startOffset) {
  const uint32_t frameBytes = 3 * channels;
  const uint32_t pageBytes = 2048 * channels;
  const uint32_t fillerBytes = 2 * channels;
  uint32_t t = startOffset;
  uint32_t p = 0;
  for (const RefFrame& f : frames) {
    Put24(out + p, f.l);
    if (channels == 2) Put24(out + p + 3, f.r);
    p += frameBytes;
    t += frameBytes;
    if (t % pageBytes == pageBytes - fillerBytes) {
      p += fillerBytes;
      t += fillerBytes;
    }
  }
  return p;
}

std::vector<uint8_t> RefWriteFlat(const std::vector<RefFrame>& frames, int channels) {
  std::vector<uint8_t> out(frames.size() * 3 * channels);
  for (std::size_t i = 0; i < frames.size(); ++i) {
    Put24(&out[i * 3 * channels], frames[i].l);
    if (channels == 2) Put24(&out[i * 3 * channels + 3], frames[i].r);
  }
  return out;
}

}  // namespace rendax::testing
