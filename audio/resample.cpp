#include "audio/resample.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "audio/sample_pages.h"

namespace rendax {
namespace {

static_assert(std::endian::native == std::endian::little, "samples are stored little-endian");

// One working frame. Samples stay inside 24 bits, so 32 bits hold them; the products of the
// interpolation are widened where they can pass 31 bits.
struct Frame {
  int32_t l;
  int32_t r;
};

template <class T>
inline T LoadAs(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

template <class T>
inline void StoreAs(uint8_t* p, T v) {
  std::memcpy(p, &v, sizeof v);
}

inline int32_t SignExtend24(uint32_t v) {
  return static_cast<int32_t>(v << 8) >> 8;
}

// Exact loads and stores touch only the frame's own bytes.
inline int32_t Load24(const uint8_t* p) {
  return SignExtend24(LoadAs<uint16_t>(p) | (static_cast<uint32_t>(p[2]) << 16));
}

// A 16-bit sample widened to 24 bits: its low byte becomes 0 and its sign stays.
inline int32_t Widen16(uint32_t v) {
  return static_cast<int32_t>(static_cast<int16_t>(v)) * 256;
}

inline void Store24(uint8_t* p, int32_t v) {
  StoreAs<uint16_t>(p, static_cast<uint16_t>(v));
  p[2] = static_cast<uint8_t>(v >> 16);
}

template <int Channels>
inline void StoreFrame(uint8_t* p, Frame f) {
  Store24(p, f.l);
  if constexpr (Channels == 2) Store24(p + 3, f.r);
}

// One word per frame; the bytes written past the frame belong to the next frame, which is
// stored right after. Never used for the last frame before filler or the end of the output.
template <int Channels>
inline void StoreFrameWide(uint8_t* p, Frame f) {
  if constexpr (Channels == 1) {
    StoreAs<uint32_t>(p, static_cast<uint32_t>(f.l));
  } else {
    StoreAs<uint64_t>(p, (static_cast<uint64_t>(static_cast<uint32_t>(f.l)) & 0xFFFFFF) |
                             (static_cast<uint64_t>(static_cast<uint32_t>(f.r)) << 24));
  }
}

// Interpolation between predecessor a and successor b at phase/span, truncated toward zero:
// ((span - phase) * a + phase * b) / span, written as span * a + phase * (b - a). With span 125
// or 128 every term stays below 2^31, so 32-bit arithmetic is exact; span 625 needs 64 bits.
template <int Span>
inline int32_t Lerp(int32_t a, int32_t b, int32_t phase) {
  if constexpr (Span <= 128) {
    return (a * Span + phase * (b - a)) / Span;
  } else {
    return static_cast<int32_t>(
        (static_cast<int64_t>(a) * Span + static_cast<int64_t>(phase) * (b - a)) / Span);
  }
}

template <int Span, int Channels>
inline Frame Interpolate(Frame a, Frame b, int32_t phase) {
  Frame f{Lerp<Span>(a.l, b.l, phase), 0};
  if constexpr (Channels == 2) f.r = Lerp<Span>(a.r, b.r, phase);
  return f;
}

// WAV frames of `Align` bytes. Two-channel output from a one-channel file gets silence on its
// second channel; one-channel output from a two-channel file drops the second.
template <int Align, int Channels>
struct WavInput {
  const uint8_t* base;
  Frame At(int64_t i) const {
    const uint8_t* p = base + i * Align;
    Frame f{0, 0};
    if constexpr (Align == 2 || Align == 4) {
      f.l = Widen16(LoadAs<uint16_t>(p));
      if constexpr (Align == 4 && Channels == 2) f.r = Widen16(LoadAs<uint16_t>(p + 2));
    } else {
      f.l = Load24(p);
      if constexpr (Align == 6 && Channels == 2) f.r = Load24(p + 3);
    }
    return f;
  }
  // Frames c - 1 and c at once, with whole-word loads. Needs frame c + 1 to exist: the
  // 24-bit loads reach up to 2 bytes into it.
  static void Pair(const uint8_t* p, Frame& a, Frame& b) {
    a.r = b.r = 0;
    if constexpr (Align == 2) {
      const uint32_t v = LoadAs<uint32_t>(p - 2);
      a.l = Widen16(v);
      b.l = Widen16(v >> 16);
    } else if constexpr (Align == 3) {
      const uint64_t v = LoadAs<uint64_t>(p - 3);
      a.l = SignExtend24(static_cast<uint32_t>(v));
      b.l = SignExtend24(static_cast<uint32_t>(v >> 24));
    } else if constexpr (Align == 4) {
      const uint64_t v = LoadAs<uint64_t>(p - 4);
      a.l = Widen16(static_cast<uint32_t>(v));
      b.l = Widen16(static_cast<uint32_t>(v >> 32));
      if constexpr (Channels == 2) {
        a.r = Widen16(static_cast<uint32_t>(v >> 16));
        b.r = Widen16(static_cast<uint32_t>(v >> 48));
      }
    } else {
      const uint64_t v = LoadAs<uint64_t>(p - 6);
      const uint64_t w = LoadAs<uint64_t>(p);
      a.l = SignExtend24(static_cast<uint32_t>(v));
      b.l = SignExtend24(static_cast<uint32_t>(w));
      if constexpr (Channels == 2) {
        a.r = SignExtend24(static_cast<uint32_t>(v >> 24));
        b.r = SignExtend24(static_cast<uint32_t>(w >> 24));
      }
    }
  }
};

// Frames of a page-stream block that begins at a page boundary; filler is stepped over.
template <int Channels>
struct PageInput {
  static constexpr PageLayout kPage = PageLayoutFor(Channels);
  const uint8_t* base;
  const uint8_t* Address(int64_t i) const {
    return base + i / kFramesPerPage * kPage.pageBytes + i % kFramesPerPage * kPage.frameBytes;
  }
  Frame At(int64_t i) const {
    const uint8_t* p = Address(i);
    Frame f{Load24(p), 0};
    if constexpr (Channels == 2) f.r = Load24(p + 3);
    return f;
  }
};

// Page-stream output by the writing rule: `t` is the running offset within the page; the
// filler after a page's last frame is skipped, never stored.
template <int Channels>
struct PageSink {
  static constexpr PageLayout kPage = PageLayoutFor(Channels);
  uint8_t* begin;
  uint8_t* p;
  uint32_t t;
  void Put(Frame f) {
    StoreFrame<Channels>(p, f);
    p += kPage.frameBytes;
    t = (t + kPage.frameBytes) & (kPage.pageBytes - 1);
    if (t == kPage.audioBytes) {
      t = 0;
      p += kPage.fillerBytes;
    }
  }
  uint32_t Bytes() const { return static_cast<uint32_t>(p - begin); }
};

// Frames back to back, as in a WAV file.
template <int Channels>
struct FlatSink {
  uint8_t* begin;
  uint8_t* p;
  void Put(Frame f) {
    StoreFrame<Channels>(p, f);
    p += 3 * Channels;
  }
  uint32_t Bytes() const { return static_cast<uint32_t>(p - begin); }
};

// How many input frames the cursor moves after an output: the phase is brought back below
// span without a branch (at 48 kHz the step exceeds the span, so it may move two).
template <int Span, int Step>
inline int32_t Advance(int32_t& phase) {
  phase += Step;
  int32_t d = phase >= Span;
  if constexpr (Step > Span) d += phase >= 2 * Span;
  phase -= d * Span;
  return d;
}

// The bulk of a packer call: `k` outputs, the first at cursor c >= 1 with phase < span, none
// beyond the chunk's second-to-last frame, so both neighbours are real input frames. Output is
// written a page at a time, whole words for every frame but a page's or the call's last.
template <int Span, int Step, int Align, int Channels>
void Run(const WavInput<Align, Channels>& in, int64_t c, int32_t phase, uint32_t k, Frame, Frame,
         PageSink<Channels>& out) {
  constexpr PageLayout kPage = PageLayoutFor(Channels);
  if (out.t % kPage.frameBytes != 0 || out.t >= kPage.audioBytes) {
    // A running offset off the frame grid: only the rule frame by frame places it right.
    const int64_t pos = c * Span + phase;
    for (uint32_t i = 0; i < k; ++i) {
      const int64_t at = pos + int64_t{i} * Step;
      out.Put(Interpolate<Span, Channels>(in.At(at / Span - 1), in.At(at / Span),
                                          static_cast<int32_t>(at % Span)));
    }
    return;
  }
  const uint8_t* pin = in.base + c * Align;
  uint8_t* p = out.p;
  uint32_t t = out.t;
  const auto one = [&](auto store) {
    Frame a, b;
    WavInput<Align, Channels>::Pair(pin, a, b);
    store(p, Interpolate<Span, Channels>(a, b, phase));
    p += kPage.frameBytes;
    pin += Advance<Span, Step>(phase) * Align;
  };
  while (k > 0) {
    const uint32_t count = std::min(k, (kPage.audioBytes - t) / kPage.frameBytes);
    for (uint32_t i = 1; i < count; ++i) one(StoreFrameWide<Channels>);
    one(StoreFrame<Channels>);
    k -= count;
    t += count * kPage.frameBytes;
    if (t == kPage.audioBytes) {
      t = 0;
      p += kPage.fillerBytes;
    }
  }
  out.p = p;
  out.t = t;
}

// The bulk of an unpacker call, as above. The input frames stay in registers and the cursor
// steps over filler as it passes a page's end.
template <int Span, int Step, int Channels>
void Run(const PageInput<Channels>& in, int64_t c, int32_t phase, uint32_t k, Frame a, Frame b,
         FlatSink<Channels>& out) {
  static_assert(Step < Span, "the cursor moves at most one frame per output");
  constexpr PageLayout kPage = PageLayoutFor(Channels);
  const uint8_t* pin = in.Address(c);
  uint32_t inPage = static_cast<uint32_t>(c % kFramesPerPage);
  uint8_t* p = out.p;
  const auto one = [&](auto store) {
    store(p, Interpolate<Span, Channels>(a, b, phase));
    p += kPage.frameBytes;
    const int32_t d = Advance<Span, Step>(phase);
    pin += d * kPage.frameBytes;
    inPage += d;
    if (inPage == kFramesPerPage) {
      inPage = 0;
      pin += kPage.fillerBytes;
    }
    a = d ? b : a;
    // The word ends with the frame's sample; its first byte belongs to what precedes it.
    b.l = LoadAs<int32_t>(pin - 1) >> 8;
    if constexpr (Channels == 2) b.r = LoadAs<int32_t>(pin + 2) >> 8;
  };
  for (uint32_t i = 1; i < k; ++i) one(StoreFrameWide<Channels>);
  if (k > 0) one(StoreFrame<Channels>);
  out.p = p;
}

// Converts one chunk of `n` frames. The output frames lie on the grid step/span input frames
// apart; the cursor c walks the input and a, b are the frames c - 1 and c. The chunk's last
// frame is reached when c becomes n - 1: the call stops there and carries that frame and the
// one before it, so the next chunk resumes on the same grid without losing the stretch between
// them, and any chunking gives the output of one call over the whole stream.
template <int Span, int Step, int Channels, class Input, class Sink>
void Convert(ResampleState& s, const Input& in, uint32_t n, Sink& out, uint32_t flags) {
  constexpr int64_t kEndThreshold = Span / 2;

  if (flags & ChunkFirst) s = ResampleState{};
  if (n == 0) {
    // A final call without a whole frame still ends a stream that has begun.
    if ((flags & ChunkLast) && s.started && s.phase < kEndThreshold) {
      out.Put(Frame{static_cast<int32_t>(s.lastLeft), static_cast<int32_t>(s.lastRight)});
    }
    return;
  }

  Frame a, b;
  int64_t phase;
  int64_t c;
  if (!s.started) {
    // The stream begins at a copy of its first frame, which is also the first output.
    a = b = in.At(0);
    out.Put(a);
    phase = Step;
    c = 0;
    if (n == 1) goto end;
  } else {
    // Resume between the carried frames: they stand at c = -2 and -1 before this chunk.
    a = Frame{static_cast<int32_t>(s.prevLeft), static_cast<int32_t>(s.prevRight)};
    b = Frame{static_cast<int32_t>(s.lastLeft), static_cast<int32_t>(s.lastRight)};
    phase = s.phase;
    c = -1;
  }
  // Outputs that lean on the carried frames, until both neighbours lie in this chunk.
  for (;;) {
    while (phase >= Span) {
      phase -= Span;
      ++c;
      a = b;
      b = in.At(c);
      if (c == n - 1) goto end;
    }
    if (c >= 1) break;
    out.Put(Interpolate<Span, Channels>(a, b, static_cast<int32_t>(phase)));
    phase += Step;
  }
  {
    // Every output before the cursor reaches the chunk's last frame, known in advance.
    const int64_t limit = int64_t{n - 1} * Span;
    const int64_t pos = c * Span + phase;
    const int64_t k = (limit - pos + Step - 1) / Step;
    Run<Span, Step>(in, c, static_cast<int32_t>(phase), static_cast<uint32_t>(k), a, b, out);
    phase = pos + k * Step - limit;
    a = in.At(n - 2);
    b = in.At(n - 1);
  }
end:
  s.prevLeft = a.l;
  s.prevRight = a.r;
  s.lastLeft = b.l;
  s.lastRight = b.r;
  s.phase = phase;
  s.started = 1;
  if ((flags & ChunkLast) && phase < kEndThreshold) out.Put(b);
}

template <int Span, int Step, int Channels>
uint32_t Pack(ResampleState& s, uint16_t blockAlign, const uint8_t* in, uint32_t inBytes,
              uint8_t* out, uint32_t flags, uint32_t startOffset) {
  constexpr PageLayout kPage = PageLayoutFor(Channels);
  PageSink<Channels> sink{out, out, startOffset & (kPage.pageBytes - 1)};
  const uint32_t n = blockAlign == 0 ? 0 : inBytes / blockAlign;
  switch (blockAlign) {
    case 2:
      Convert<Span, Step, Channels>(s, WavInput<2, Channels>{in}, n, sink, flags);
      break;
    case 3:
      Convert<Span, Step, Channels>(s, WavInput<3, Channels>{in}, n, sink, flags);
      break;
    case 4:
      Convert<Span, Step, Channels>(s, WavInput<4, Channels>{in}, n, sink, flags);
      break;
    case 6:
      Convert<Span, Step, Channels>(s, WavInput<6, Channels>{in}, n, sink, flags);
      break;
    default:
      break;  // no other frame size is ever accepted
  }
  return sink.Bytes();
}

template <int Channels>
uint32_t Unpack(ResampleState& s, const uint8_t* in, uint32_t inBytes, uint8_t* out,
                uint32_t flags) {
  // The reading rule takes the block's first frame whatever its length.
  uint64_t n = FramesInStream(inBytes, Channels);
  if (n == 0) n = 1;
  FlatSink<Channels> sink{out, out};
  Convert<128, 125, Channels>(s, PageInput<Channels>{in}, static_cast<uint32_t>(n), sink, flags);
  return sink.Bytes();
}

}  // namespace

uint32_t PackMono44100(ResampleState& state, uint16_t blockAlign, const uint8_t* in,
                       uint32_t inBytes, uint8_t* out, uint32_t flags, uint32_t startOffset) {
  return Pack<625, 588, 1>(state, blockAlign, in, inBytes, out, flags, startOffset);
}
uint32_t PackStereo44100(ResampleState& state, uint16_t blockAlign, const uint8_t* in,
                         uint32_t inBytes, uint8_t* out, uint32_t flags, uint32_t startOffset) {
  return Pack<625, 588, 2>(state, blockAlign, in, inBytes, out, flags, startOffset);
}
uint32_t PackMono48000(ResampleState& state, uint16_t blockAlign, const uint8_t* in,
                       uint32_t inBytes, uint8_t* out, uint32_t flags, uint32_t startOffset) {
  return Pack<125, 128, 1>(state, blockAlign, in, inBytes, out, flags, startOffset);
}
uint32_t PackStereo48000(ResampleState& state, uint16_t blockAlign, const uint8_t* in,
                         uint32_t inBytes, uint8_t* out, uint32_t flags, uint32_t startOffset) {
  return Pack<125, 128, 2>(state, blockAlign, in, inBytes, out, flags, startOffset);
}
uint32_t UnpackMono(ResampleState& state, const uint8_t* in, uint32_t inBytes, uint8_t* out,
                    uint32_t flags) {
  return Unpack<1>(state, in, inBytes, out, flags);
}
uint32_t UnpackStereo(ResampleState& state, const uint8_t* in, uint32_t inBytes, uint8_t* out,
                      uint32_t flags) {
  return Unpack<2>(state, in, inBytes, out, flags);
}

}  // namespace rendax
