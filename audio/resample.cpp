#include "audio/resample.h"

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

inline int32_t SignExtend24(uint32_t v) {
  return static_cast<int32_t>(v << 8) >> 8;
}

inline int32_t Load24(const uint8_t* p) {
  uint16_t low;
  std::memcpy(&low, p, 2);
  return SignExtend24(low | (static_cast<uint32_t>(p[2]) << 16));
}

// A 16-bit sample widened to 24 bits: its low byte becomes 0 and its sign stays.
inline int32_t Load16(const uint8_t* p) {
  int16_t v;
  std::memcpy(&v, p, 2);
  return static_cast<int32_t>(v) * 256;
}

inline void Store24(uint8_t* p, int32_t v) {
  const uint16_t low = static_cast<uint16_t>(v);
  std::memcpy(p, &low, 2);
  p[2] = static_cast<uint8_t>(v >> 16);
}

// Interpolation between predecessor a and successor b at phase/span, truncated toward zero.
// With span 125 or 128 the numerator stays within 2^30, so 32-bit arithmetic is exact.
template <int Span>
inline int32_t Lerp(int32_t a, int32_t b, int32_t phase) {
  if constexpr (int64_t{Span} << 23 < (int64_t{1} << 31)) {
    return ((Span - phase) * a + phase * b) / Span;
  } else {
    return static_cast<int32_t>(
        (static_cast<int64_t>(Span - phase) * a + static_cast<int64_t>(phase) * b) / Span);
  }
}

// WAV frames of `Align` bytes, read in order. Two-channel output from a one-channel file gets
// silence on its second channel; one-channel output from a two-channel file drops the second.
template <int Align, int Channels>
struct WavCursor {
  const uint8_t* p;
  Frame Next() {
    Frame f{0, 0};
    if constexpr (Align == 2 || Align == 4) {
      f.l = Load16(p);
      if constexpr (Align == 4 && Channels == 2) f.r = Load16(p + 2);
    } else {
      f.l = Load24(p);
      if constexpr (Align == 6 && Channels == 2) f.r = Load24(p + 3);
    }
    p += Align;
    return f;
  }
};

// Frames of a page-stream block that begins at a page boundary; filler is stepped over unread.
template <int Channels>
struct PageCursor {
  static constexpr PageLayout kPage = PageLayoutFor(Channels);
  const uint8_t* p;
  uint32_t inPage = 0;
  Frame Next() {
    Frame f{Load24(p), 0};
    if constexpr (Channels == 2) f.r = Load24(p + 3);
    p += kPage.frameBytes;
    if (++inPage == kFramesPerPage) {
      inPage = 0;
      p += kPage.fillerBytes;
    }
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
    Store24(p, f.l);
    if constexpr (Channels == 2) Store24(p + 3, f.r);
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
    Store24(p, f.l);
    if constexpr (Channels == 2) Store24(p + 3, f.r);
    p += 3 * Channels;
  }
  uint32_t Bytes() const { return static_cast<uint32_t>(p - begin); }
};

template <int Channels>
inline Frame Interpolate(Frame a, Frame b, int32_t phase, auto lerp) {
  Frame f{lerp(a.l, b.l, phase), 0};
  if constexpr (Channels == 2) f.r = lerp(a.r, b.r, phase);
  return f;
}

// Converts one chunk of `n` frames. The output frames lie on the grid step/span input frames
// apart; the cursor c walks the input and a, b are the frames c - 1 and c. The chunk's last
// frame is reached when c becomes n - 1: the call stops there and carries that frame and the
// one before it, so the next chunk resumes on the same grid without losing the stretch between
// them, and any chunking gives the output of one call over the whole stream.
template <int Span, int Step, int Channels, class Cursor, class Sink>
void Convert(ResampleState& s, Cursor in, uint32_t n, Sink& out, uint32_t flags) {
  constexpr int32_t kEndThreshold = Span / 2;
  const auto lerp = [](int32_t a, int32_t b, int32_t ph) { return Lerp<Span>(a, b, ph); };

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
  uint32_t left;  // input frames still to take before the chunk's last frame is reached
  if (!s.started) {
    // The stream begins at a copy of its first frame, which is also the first output.
    a = b = in.Next();
    out.Put(a);
    phase = Step;
    left = n - 1;
    if (left == 0) goto end;
  } else {
    a = Frame{static_cast<int32_t>(s.prevLeft), static_cast<int32_t>(s.prevRight)};
    b = Frame{static_cast<int32_t>(s.lastLeft), static_cast<int32_t>(s.lastRight)};
    phase = s.phase;
    left = n;
  }
  for (;;) {
    while (phase >= Span) {
      phase -= Span;
      a = b;
      b = in.Next();
      if (--left == 0) goto end;
    }
    out.Put(Interpolate<Channels>(a, b, static_cast<int32_t>(phase), lerp));
    phase += Step;
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
      Convert<Span, Step, Channels>(s, WavCursor<2, Channels>{in}, n, sink, flags);
      break;
    case 3:
      Convert<Span, Step, Channels>(s, WavCursor<3, Channels>{in}, n, sink, flags);
      break;
    case 4:
      Convert<Span, Step, Channels>(s, WavCursor<4, Channels>{in}, n, sink, flags);
      break;
    case 6:
      Convert<Span, Step, Channels>(s, WavCursor<6, Channels>{in}, n, sink, flags);
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
  Convert<128, 125, Channels>(s, PageCursor<Channels>{in}, static_cast<uint32_t>(n), sink, flags);
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
