// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/resample.h"

#include <algorithm>
#include <atomic>
#include <bit>
#include <cstring>

#include "audio/sample_pages.h"

// The eight-samples-at-a-time kernels need AVX2, which is checked at run time. Not on Windows:
// there g++ does not align the stack for 32-byte spills.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(_WIN32)
#define RENDAX_AVX2_KERNELS 1
#include <immintrin.h>
#endif

namespace rendax {
namespace {

static_assert(std::endian::native == std::endian::little, "samples are stored little-endian");

// One working frame, 64-bit samples as the interpolation works on them.
struct Frame {
  int64_t l;
  int64_t r;
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

// The 24-bit sample in bits `Bit` to `Bit` + 23 of a word, sign-extended.
template <int Bit>
inline int64_t Sample24(uint64_t v) {
  return static_cast<int64_t>(v << (40 - Bit)) >> 40;
}

// The 16-bit sample in bits `Bit` to `Bit` + 15, widened to 24 bits: its low byte becomes 0
// and its sign stays.
template <int Bit>
inline int64_t Sample16(uint64_t v) {
  return (static_cast<int64_t>(v << (48 - Bit)) >> 48) * 256;
}

std::atomic<bool> gVectorKernelsAllowed{true};

#ifdef RENDAX_AVX2_KERNELS
#define RENDAX_AVX2 __attribute__((target("avx2"), always_inline)) inline

bool UseAvx2() {
  static const bool has = [] {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2") != 0;
  }();
  return has && gVectorKernelsAllowed.load(std::memory_order_relaxed);
}

// floor(pos / Span) for 0 <= pos < Span + 7 * Step as a multiply and a shift, so that eight
// lanes divide at once; checked for every such pos at compile time.
template <int Span, int Step>
struct LaneQuotient {
  static constexpr int kShift = 20;
  static constexpr int kMagic = (1 << kShift) / Span + 1;
  static constexpr bool Exact() {
    for (int pos = 0; pos < Span + 7 * Step; ++pos)
      if ((pos * kMagic) >> kShift != pos / Span) return false;
    return true;
  }
  static_assert(Exact());
};

// Eight samples of `Align` bytes (2 or 3: 16 or 24 bits) from `p`, as 24-bit samples in
// 32-bit lanes, reading exactly their 16 or 24 bytes. Each sample lands in the top
// of its lane and one arithmetic shift brings it down with its sign.
template <int Align>
RENDAX_AVX2 __m256i Load8(const uint8_t* p) {
  const __m128i lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  if constexpr (Align == 2) {
    const __m256i v = _mm256_broadcastsi128_si256(lo);
    const __m256i spread =
        _mm256_setr_epi8(-1, -1, 0, 1, -1, -1, 2, 3, -1, -1, 4, 5, -1, -1, 6, 7, -1, -1, 8, 9, -1,
                         -1, 10, 11, -1, -1, 12, 13, -1, -1, 14, 15);
    return _mm256_srai_epi32(_mm256_shuffle_epi8(v, spread), 8);
  } else {
    // The upper four frames (bytes 12 to 23) come from a load at byte 8.
    const __m128i hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 8));
    const __m256i v = _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
    const __m256i spread =
        _mm256_setr_epi8(-1, 0, 1, 2, -1, 3, 4, 5, -1, 6, 7, 8, -1, 9, 10, 11, -1, 4, 5, 6, -1, 7,
                         8, 9, -1, 10, 11, 12, -1, 13, 14, 15);
    return _mm256_srai_epi32(_mm256_shuffle_epi8(v, spread), 8);
  }
}

// Two 16-byte loads as the lower and upper half of a vector.
RENDAX_AVX2 __m256i Load2x16(const uint8_t* lo, const uint8_t* hi) {
  return _mm256_inserti128_si256(
      _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(lo))),
      _mm_loadu_si128(reinterpret_cast<const __m128i*>(hi)), 1);
}

// A byte shuffle that puts frame j of each half (frames of `Align` bytes, the upper half's
// starting `hiOffset` bytes in) into the top bytes of lane j, for a shift to bring down.
template <int Align>
RENDAX_AVX2 __m256i PickMask(int hiOffset) {
  alignas(32) int8_t m[32];
  for (int half = 0; half < 2; ++half)
    for (int j = 0; j < 4; ++j)
      for (int k = 0; k < 4; ++k)
        m[16 * half + 4 * j + k] =
            static_cast<int8_t>(k < 4 - Align ? -1 : half * hiOffset + Align * j + k - (4 - Align));
  return _mm256_load_si256(reinterpret_cast<const __m256i*>(m));
}

// Added to a PickMask lane, moves it on by one frame.
template <int Align>
RENDAX_AVX2 __m256i OneFrameFurther() {
  return _mm256_set1_epi32(Align == 3 ? 0x03030300 : 0x02020000);
}

// x / span truncated toward zero, for integers |x| < 2^34 held exactly in doubles. Write
// |x| / span = q + r / span with 0 <= r < span. Moving x half a unit away from zero (exactly:
// 35 bits) puts the quotient at least 0.5 / span away from every integer, while the one
// rounded multiply by 1 / span (itself rounded) errs by less than |q| * 2^-51 < 2^-27; so
// truncation yields q, as the integer division does.
template <int Span>
RENDAX_AVX2 __m128i DivideToward0(__m256d x) {
  const __m256d away = _mm256_or_pd(_mm256_and_pd(x, _mm256_set1_pd(-0.0)), _mm256_set1_pd(0.5));
  return _mm256_cvttpd_epi32(_mm256_mul_pd(_mm256_add_pd(x, away), _mm256_set1_pd(1.0 / Span)));
}

// Four interpolations (see Lerp) in doubles, for the span 625 whose numerator x can pass 31
// bits. Every operand and x itself (|x| < 2^34) are integers that doubles hold exactly.
template <int Span>
RENDAX_AVX2 __m128i Lerp4(__m128i a, __m128i diff, __m128i phase) {
  const __m256d x =
      _mm256_add_pd(_mm256_mul_pd(_mm256_cvtepi32_pd(a), _mm256_set1_pd(Span)),
                    _mm256_mul_pd(_mm256_cvtepi32_pd(phase), _mm256_cvtepi32_pd(diff)));
  return DivideToward0<Span>(x);
}

template <int Span>
RENDAX_AVX2 __m256i Lerp8(__m256i a, __m256i b, __m256i phase) {
  const __m256i diff = _mm256_sub_epi32(b, a);
  if constexpr (Span <= 128) {
    // x = span * a + phase * (b - a) stays below 2^30 in magnitude, and each product below
    // 2^31, so 32-bit lanes hold it.
    const __m256i x = _mm256_add_epi32(_mm256_mullo_epi32(a, _mm256_set1_epi32(Span)),
                                       _mm256_mullo_epi32(phase, diff));
    if constexpr (Span == 128) {
      // A power-of-two span divides toward zero by a shift once negative numerators are
      // raised by span - 1.
      const __m256i bias = _mm256_srli_epi32(_mm256_srai_epi32(x, 31), 32 - 7);
      return _mm256_srai_epi32(_mm256_add_epi32(x, bias), 7);
    } else {
      const __m128i lo = DivideToward0<Span>(_mm256_cvtepi32_pd(_mm256_castsi256_si128(x)));
      const __m128i hi = DivideToward0<Span>(_mm256_cvtepi32_pd(_mm256_extracti128_si256(x, 1)));
      return _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
    }
  } else {
    const __m128i lo = Lerp4<Span>(_mm256_castsi256_si128(a), _mm256_castsi256_si128(diff),
                                   _mm256_castsi256_si128(phase));
    const __m128i hi =
        Lerp4<Span>(_mm256_extracti128_si256(a, 1), _mm256_extracti128_si256(diff, 1),
                    _mm256_extracti128_si256(phase, 1));
    return _mm256_inserti128_si256(_mm256_castsi128_si256(lo), hi, 1);
  }
}

// Outputs eight samples at a time (eight one-channel frames or four two-channel ones) while
// enough remain that the wide store below stays inside the run and the input allows; the rest
// are left to the caller, with `pin`, `phase`, `p` and `count` moved past the ones made.
// Input frames are `Align` bytes of `Channels` samples of 2 or 3 bytes. The outputs' cursors
// c0 + d stay within c0 + 0..kFrames - 1 when the step is below the span (d taken by a lane
// permute), and within c0 + i + {0, 1} for output i when it is above (a byte shuffle for one
// channel, a blend for two). Inputs read: frames c0 - 1 up to c0 + kFrames - 1 or c0 + kFrames,
// all before `end`.
template <int Span, int Step, int Align, int Channels>
__attribute__((target("avx2"))) uint32_t Vector8(const uint8_t*& pin, uint32_t& phase, uint8_t*& p,
                                                 uint32_t& count, const uint8_t* end) {
  using Q = LaneQuotient<Span, Step>;
  constexpr int kSampleBytes = Align / Channels;
  constexpr uint32_t kFrames = 8 / Channels;
  // The 32-byte store writes 8 bytes past the 24 made: they must belong to later outputs.
  constexpr uint32_t kMinCount = kFrames + (8 + 3 * Channels - 1) / (3 * Channels);
  constexpr int kReadFrames = Step < Span ? kFrames : kFrames + 1;  // from c0 on
  // Lane l serves channel l % Channels of output l / Channels.
  const __m256i output = _mm256_srli_epi32(_mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7), Channels - 1);
  const __m256i channel =
      _mm256_setr_epi32(0, Channels - 1, 0, Channels - 1, 0, Channels - 1, 0, Channels - 1);
  const __m256i steps = _mm256_mullo_epi32(output, _mm256_set1_epi32(Step));
  // 24-bit results back to 24 bytes: three bytes of each lane, then the two halves together.
  const __m256i pack = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1, 0,
                                        1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  const __m256i order = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 7, 7);
  const uint8_t* q = pin;
  uint32_t ph = phase;
  uint32_t passed = 0;
  while (count >= kMinCount && end - q >= kReadFrames * Align) {
    const __m256i pos = _mm256_add_epi32(_mm256_set1_epi32(static_cast<int>(ph)), steps);
    const __m256i d =
        _mm256_srli_epi32(_mm256_mullo_epi32(pos, _mm256_set1_epi32(Q::kMagic)), Q::kShift);
    const __m256i lanePhase = _mm256_sub_epi32(pos, _mm256_mullo_epi32(d, _mm256_set1_epi32(Span)));
    __m256i a, b;
    if constexpr (Step < Span) {
      __m256i sample = d;
      if constexpr (Channels == 2) sample = _mm256_add_epi32(_mm256_slli_epi32(d, 1), channel);
      a = _mm256_permutevar8x32_epi32(Load8<kSampleBytes>(q - Align), sample);
      b = _mm256_permutevar8x32_epi32(Load8<kSampleBytes>(q), sample);
    } else if constexpr (Channels == 1) {
      // Lane i takes frames c0 - 1 + i + e and the one after, e being 0 or 1: a byte shuffle
      // picks them, one frame further where e = 1. The upper four lanes load from where their
      // 16 bytes end at the last frame they may need.
      const __m256i later = _mm256_cmpgt_epi32(d, output);
      const __m256i pick = _mm256_add_epi8(PickMask<Align>(16 - 5 * Align),
                                           _mm256_and_si256(later, OneFrameFurther<Align>()));
      a = _mm256_srai_epi32(_mm256_shuffle_epi8(Load2x16(q - Align, q + 8 * Align - 16), pick), 8);
      b = _mm256_srai_epi32(_mm256_shuffle_epi8(Load2x16(q, q + 9 * Align - 16), pick), 8);
    } else {
      const __m256i later = _mm256_cmpgt_epi32(d, output);
      const __m256i y = Load8<kSampleBytes>(q);
      a = _mm256_blendv_epi8(Load8<kSampleBytes>(q - Align), y, later);
      b = _mm256_blendv_epi8(y, Load8<kSampleBytes>(q + Align), later);
    }
    const __m256i bytes =
        _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(Lerp8<Span>(a, b, lanePhase), pack), order);
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), bytes);
    p += 24;
    count -= kFrames;
    const uint32_t next = ph + kFrames * Step;
    const uint32_t moved = next / Span;
    ph = next - moved * Span;
    q += moved * Align;
    passed += moved;
  }
  pin = q;
  phase = ph;
  return passed;
}
#else
inline bool UseAvx2() {
  return false;
}
#endif

// Exact loads and stores touch only the frame's own bytes.
inline int64_t Load24(const uint8_t* p) {
  return Sample24<0>(LoadAs<uint16_t>(p) | (static_cast<uint64_t>(p[2]) << 16));
}

inline void Store24(uint8_t* p, int64_t v) {
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
  StoreAs<uint32_t>(p, static_cast<uint32_t>(f.l));
  if constexpr (Channels == 2) StoreAs<uint32_t>(p + 3, static_cast<uint32_t>(f.r));
}

// Interpolation between predecessor a and successor b at phase/span, truncated toward zero
// (C++ division): ((span - phase) * a + phase * b) / span, written as span * a + phase * (b - a).
// With span 125 or 128 every term stays below 2^31 (samples are 24-bit), so 32-bit
// arithmetic is exact there and divides faster.
template <int Span>
inline int64_t Lerp(int64_t a, int64_t b, int64_t phase) {
  if constexpr (Span <= 128) {
    const int32_t a32 = static_cast<int32_t>(a);
    const int32_t b32 = static_cast<int32_t>(b);
    return (a32 * Span + static_cast<int32_t>(phase) * (b32 - a32)) / Span;
  } else {
    return (a * Span + phase * (b - a)) / Span;
  }
}

template <int Span, int Channels>
inline Frame Interpolate(Frame a, Frame b, int64_t phase) {
  Frame f{Lerp<Span>(a.l, b.l, phase), 0};
  if constexpr (Channels == 2) f.r = Lerp<Span>(a.r, b.r, phase);
  return f;
}

// WAV frames of `Align` bytes. Two-channel output from a one-channel file gets silence on its
// second channel; one-channel output from a two-channel file drops the second.
template <int Align, int Channels>
struct WavInput {
  const uint8_t* base;
  const uint8_t* end;  // past the chunk's last whole frame
  Frame At(int64_t i) const {
    const uint8_t* p = base + i * Align;
    Frame f{0, 0};
    if constexpr (Align == 2 || Align == 4) {
      f.l = Sample16<0>(LoadAs<uint16_t>(p));
      if constexpr (Align == 4 && Channels == 2) f.r = Sample16<0>(LoadAs<uint16_t>(p + 2));
    } else {
      f.l = Load24(p);
      if constexpr (Align == 6 && Channels == 2) f.r = Load24(p + 3);
    }
    return f;
  }
  // Frames c - 1 and c, with whole-word loads that stay within the two frames.
  static void Pair(const uint8_t* p, Frame& a, Frame& b) {
    a.r = b.r = 0;
    if constexpr (Align == 2) {
      const uint64_t v = LoadAs<uint32_t>(p - 2);
      a.l = Sample16<0>(v);
      b.l = Sample16<16>(v);
    } else if constexpr (Align == 3) {
      // A word that ends with a sample gives it by one arithmetic shift.
      a.l = Sample24<0>(LoadAs<uint32_t>(p - 3));
      b.l = LoadAs<int32_t>(p - 1) >> 8;
    } else if constexpr (Align == 4) {
      const uint64_t v = LoadAs<uint64_t>(p - 4);
      a.l = Sample16<0>(v);
      b.l = Sample16<32>(v);
      if constexpr (Channels == 2) {
        a.r = Sample16<16>(v);
        b.r = Sample16<48>(v);
      }
    } else {
      a.l = Sample24<0>(LoadAs<uint32_t>(p - 6));
      b.l = LoadAs<int32_t>(p - 1) >> 8;
      if constexpr (Channels == 2) {
        a.r = LoadAs<int32_t>(p - 4) >> 8;
        b.r = LoadAs<int32_t>(p + 2) >> 8;
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

// `count` (>= 1) outputs from contiguous input frames, the first between the frames before
// and at `pin`, at phase `phase` < span; written back to back from `p`, whole words for all
// but the last. Each output's place is computed from its index, so no output waits for the one
// before it. Input is read only before `end`. Moves `pin`, `phase` and `p` past the run and
// returns the input frames passed.
template <int Span, int Step, int Align, int Channels>
inline uint32_t Segment(const uint8_t*& pin, uint32_t& phase, uint8_t*& p, uint32_t count,
                        [[maybe_unused]] const uint8_t* end) {
  constexpr uint32_t kFrameBytes = 3 * Channels;
  uint32_t passed = 0;
#ifdef RENDAX_AVX2_KERNELS
  if constexpr (Align / Channels == 2 || Align / Channels == 3) {
    if (UseAvx2()) passed = Vector8<Span, Step, Align, Channels>(pin, phase, p, count, end);
  }
#endif
  const auto one = [&](uint32_t pos, auto store) {
    const uint32_t c = pos / Span;
    Frame a, b;
    WavInput<Align, Channels>::Pair(pin + c * Align, a, b);
    store(p, Interpolate<Span, Channels>(a, b, pos - c * Span));
    p += kFrameBytes;
  };
  uint32_t pos = phase;
  for (uint32_t i = 1; i < count; ++i, pos += Step) one(pos, StoreFrameWide<Channels>);
  one(pos, StoreFrame<Channels>);
  pos += Step;
  passed += pos / Span;
  pin += pos / Span * Align;
  phase = pos % Span;
  return passed;
}

// The bulk of a packer call: `k` outputs, the first at cursor c >= 1 with phase < span, none
// beyond the chunk's second-to-last frame, so both neighbours are real input frames. Output
// goes a page at a time, stepping over the filler between pages.
template <int Span, int Step, int Align, int Channels>
void Run(const WavInput<Align, Channels>& in, int64_t c, int64_t phase, uint32_t k,
         PageSink<Channels>& out) {
  constexpr PageLayout kPage = PageLayoutFor(Channels);
  if (out.t % kPage.frameBytes != 0 || out.t >= kPage.audioBytes) {
    // A running offset off the frame grid: only the rule frame by frame places it right.
    const int64_t pos = c * Span + phase;
    for (uint32_t i = 0; i < k; ++i) {
      const int64_t at = pos + int64_t{i} * Step;
      out.Put(Interpolate<Span, Channels>(in.At(at / Span - 1), in.At(at / Span), at % Span));
    }
    return;
  }
  const uint8_t* pin = in.base + c * Align;
  uint32_t ph = static_cast<uint32_t>(phase);
  while (k > 0) {
    const uint32_t count = std::min(k, (kPage.audioBytes - out.t) / kPage.frameBytes);
    Segment<Span, Step, Align, Channels>(pin, ph, out.p, count, in.end);
    k -= count;
    out.t += count * kPage.frameBytes;
    if (out.t == kPage.audioBytes) {
      out.t = 0;
      out.p += kPage.fillerBytes;
    }
  }
}

// The bulk of an unpacker call, as above. Runs stay within one input page; an output whose
// two frames stand on either side of the filler is made on its own.
template <int Span, int Step, int Channels>
void Run(const PageInput<Channels>& in, int64_t c, int64_t phase, uint32_t k,
         FlatSink<Channels>& out) {
  constexpr PageLayout kPage = PageLayoutFor(Channels);
  constexpr uint32_t kPageSpan = kFramesPerPage * Span;
  const uint8_t* pin = in.Address(c);
  uint32_t inPage = static_cast<uint32_t>(c % kFramesPerPage);
  uint32_t ph = static_cast<uint32_t>(phase);
  while (k > 0) {
    if (inPage == 0) {
      out.Put(Interpolate<Span, Channels>(in.At(c - 1), in.At(c), ph));
      --k;
      ph += Step;
      if (ph >= Span) {
        ph -= Span;
        ++c;
        ++inPage;
        pin += kPage.frameBytes;
      }
      continue;
    }
    const uint32_t pos = inPage * Span + ph;
    const uint32_t count = std::min(k, (kPageSpan - pos + Step - 1) / Step);
    const uint8_t* pageEnd = pin - inPage * kPage.frameBytes + kPage.audioBytes;
    const uint32_t passed =
        Segment<Span, Step, kPage.frameBytes, Channels>(pin, ph, out.p, count, pageEnd);
    k -= count;
    c += passed;
    inPage += passed;
    if (inPage == kFramesPerPage) {
      inPage = 0;
      pin += kPage.fillerBytes;
    }
  }
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
      out.Put(Frame{s.lastLeft, s.lastRight});
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
    a = Frame{s.prevLeft, s.prevRight};
    b = Frame{s.lastLeft, s.lastRight};
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
    out.Put(Interpolate<Span, Channels>(a, b, phase));
    phase += Step;
  }
  {
    // Every output before the cursor reaches the chunk's last frame, known in advance.
    const int64_t limit = int64_t{n - 1} * Span;
    const int64_t pos = c * Span + phase;
    const int64_t k = (limit - pos + Step - 1) / Step;
    Run<Span, Step>(in, c, phase, static_cast<uint32_t>(k), out);
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
      Convert<Span, Step, Channels>(s, WavInput<2, Channels>{in, in + n * 2}, n, sink, flags);
      break;
    case 3:
      Convert<Span, Step, Channels>(s, WavInput<3, Channels>{in, in + n * 3}, n, sink, flags);
      break;
    case 4:
      Convert<Span, Step, Channels>(s, WavInput<4, Channels>{in, in + n * 4}, n, sink, flags);
      break;
    case 6:
      Convert<Span, Step, Channels>(s, WavInput<6, Channels>{in, in + n * 6}, n, sink, flags);
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

void AllowVectorKernels(bool allowed) {
  gVectorKernelsAllowed.store(allowed, std::memory_order_relaxed);
}

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
