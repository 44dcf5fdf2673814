// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/demo_loop.h"

#include <algorithm>
#include <cmath>

#include "audio/resample.h"
#include "audio/sample_pages.h"
#include "device/discovery.h"

namespace rendax {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kBpm = 120.0;
constexpr int kBars = 2;

// A small deterministic noise source, so every demo pedal holds the same loop.
class Noise {
 public:
  double Next() {
    state_ = state_ * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<double>(state_ >> 40) / static_cast<double>(1ull << 23) - 1.0;
  }

 private:
  uint64_t state_ = 0x5eed;
};

double NoteHz(int midi) {
  return 440.0 * std::pow(2.0, (midi - 69) / 12.0);
}

// A band-limited sawtooth from its first harmonics.
double Saw(double phase, int harmonics) {
  double s = 0;
  for (int h = 1; h <= harmonics; ++h) s += std::sin(2 * kPi * h * phase) / h;
  return s * 0.6;
}

void Put24(std::vector<uint8_t>& out, double v) {
  const int32_t s = static_cast<int32_t>(std::lround(std::clamp(v, -1.0, 1.0) * 8388607.0));
  out.push_back(static_cast<uint8_t>(s & 0xFF));
  out.push_back(static_cast<uint8_t>((s >> 8) & 0xFF));
  out.push_back(static_cast<uint8_t>((s >> 16) & 0xFF));
}

}  // namespace

std::vector<uint8_t> SynthesizeDemoLoop(uint32_t channels) {
  const double beat = 60.0 / kBpm;
  const size_t frames = static_cast<size_t>(kBars * 4 * beat * kDemoRate);
  std::vector<double> left(frames), right(frames);
  Noise noise;

  // Drums: kick on 1 and 3 (and the "and" of 3), snare on 2 and 4, hats on every eighth.
  const double eighth = beat / 2;
  double hatPrev = 0;
  for (size_t i = 0; i < frames; ++i) {
    const double t = static_cast<double>(i) / kDemoRate;
    const double inBar = std::fmod(t, 4 * beat);
    double kick = 0, snare = 0, hat = 0;
    for (double at : {0.0, 2 * beat, 2.5 * beat}) {
      const double dt = inBar - at;
      if (dt >= 0 && dt < 0.4) {
        // The pitch falls from 160 Hz to 50 Hz: the phase is the integral of that sweep.
        kick +=
            std::sin(2 * kPi * (50 * dt + 110 * (1 - std::exp(-dt * 30)) / 30)) * std::exp(-dt * 9);
      }
    }
    const double n = noise.Next();
    for (double at : {beat, 3 * beat}) {
      const double dt = inBar - at;
      if (dt >= 0 && dt < 0.3) {
        snare += (0.6 * n + 0.4 * std::sin(2 * kPi * 185 * dt)) * std::exp(-dt * 18);
      }
    }
    const double inEighth = std::fmod(t, eighth);
    const double bright = n - hatPrev;  // a first difference keeps only the hiss
    hatPrev = n;
    hat = bright * std::exp(-inEighth * 60) * 0.35;

    // Bass: an eighth-note line in A minor.
    static const int kBassLine[16] = {33, 33, 45, 33, 36, 36, 31, 31,
                                      29, 29, 41, 29, 31, 31, 43, 28};
    const int step = static_cast<int>(t / eighth) % 16;
    const double inNote = inEighth;
    const double bass = Saw(NoteHz(kBassLine[step]) * t, 6) * std::exp(-inNote * 5) * 0.45;

    // Chords: A minor in the first bar, F major in the second, a soft pad.
    const bool firstBar = t < 4 * beat;
    const int chord[3] = {firstBar ? 57 : 53, firstBar ? 60 : 57, firstBar ? 64 : 60};
    double padL = 0, padR = 0;
    for (int note : chord) {
      padL += std::sin(2 * kPi * NoteHz(note) * t);
      padR += std::sin(2 * kPi * NoteHz(note) * 1.003 * t);
    }
    const double swell = 0.5 - 0.5 * std::cos(2 * kPi * inBar / (4 * beat));
    padL *= 0.07 * (0.4 + 0.6 * swell);
    padR *= 0.07 * (0.4 + 0.6 * swell);

    left[i] = 0.9 * kick + 0.5 * snare + 0.6 * hat + bass + padL;
    right[i] = 0.9 * kick + 0.5 * snare + 0.9 * hat + bass + padR;
  }

  double peak = 1e-9;
  for (size_t i = 0; i < frames; ++i) {
    if (channels != 2) left[i] = 0.5 * (left[i] + right[i]);
    peak = std::max({peak, std::fabs(left[i]), std::fabs(right[i])});
  }
  const double gain = 0.7 / peak;  // about -3 dBFS
  std::vector<uint8_t> out;
  out.reserve(frames * 3 * channels);
  for (size_t i = 0; i < frames; ++i) {
    Put24(out, left[i] * gain);
    if (channels == 2) Put24(out, right[i] * gain);
  }
  return out;
}

std::vector<uint8_t> PackDemoStream(const std::vector<uint8_t>& audio, uint16_t blockAlign,
                                    uint8_t model) {
  const uint32_t channels = ModelInfo(model).channels;
  const uint32_t frameBytes = channels * 3;
  const uint64_t inFrames = audio.size() / blockAlign;
  // Room for every output frame (128/125 of the input, plus the ends) and the page filler.
  const uint64_t room = (inFrames * 128 / 125 + 4) * frameBytes * 2 + 8192;
  std::vector<uint8_t> stream(room, 0);
  ResampleState state;
  const uint64_t chunkBytes = uint64_t{kMaxPackerInputFrames} * blockAlign;
  uint64_t written = 0;
  for (uint64_t at = 0; at < audio.size(); at += chunkBytes) {
    const uint64_t len = std::min<uint64_t>(chunkBytes, audio.size() - at);
    uint32_t flags = 0;
    if (at == 0) flags |= ChunkFirst;
    if (at + len >= audio.size()) flags |= ChunkLast;
    const uint32_t pack =
        channels == 2
            ? PackStereo48000(state, blockAlign, audio.data() + at, static_cast<uint32_t>(len),
                              stream.data() + written, flags, static_cast<uint32_t>(written))
            : PackMono48000(state, blockAlign, audio.data() + at, static_cast<uint32_t>(len),
                            stream.data() + written, flags, static_cast<uint32_t>(written));
    written += pack;
  }
  stream.resize(written);
  return stream;
}

}  // namespace rendax
