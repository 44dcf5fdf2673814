// SPDX-License-Identifier: GPL-3.0-or-later
#include "audio/channel_mix.h"

#include <algorithm>
#include <cstdint>

#include "audio/riff.h"

namespace rendax {
namespace {

constexpr double kMinus3dB = 0.70710678118654752;

// How much of a channel at `s` goes left and right in a mix to stereo.
void StereoWeights(Speaker s, double& left, double& right) {
  left = right = 0;
  switch (s) {
    case Speaker::Left:
    case Speaker::FrontLeftOfCentre:
      left = 1;
      break;
    case Speaker::Right:
    case Speaker::FrontRightOfCentre:
      right = 1;
      break;
    case Speaker::RearLeft:
    case Speaker::SideLeft:
    case Speaker::TopFrontLeft:
    case Speaker::TopRearLeft:
      left = kMinus3dB;
      break;
    case Speaker::RearRight:
    case Speaker::SideRight:
    case Speaker::TopFrontRight:
    case Speaker::TopRearRight:
      right = kMinus3dB;
      break;
    case Speaker::Lfe:
      break;
    default:  // centres, and channels whose place is not known
      left = right = kMinus3dB;
      break;
  }
}

}  // namespace

std::vector<Speaker> DefaultSpeakers(int channels, ChannelOrder order) {
  using S = Speaker;
  using P = std::vector<Speaker>;
  constexpr S L = S::Left, R = S::Right, C = S::Centre, LFE = S::Lfe, BL = S::RearLeft,
              BR = S::RearRight, BC = S::RearCentre, SL = S::SideLeft, SR = S::SideRight;
  static const P kVorbis[9] = {{},
                               {C},
                               {L, R},
                               {L, C, R},
                               {L, R, BL, BR},
                               {L, C, R, BL, BR},
                               {L, C, R, BL, BR, LFE},
                               {L, C, R, SL, SR, BC, LFE},
                               {L, C, R, SL, SR, BL, BR, LFE}};
  static const P kFlac[9] = {{},
                             {C},
                             {L, R},
                             {L, R, C},
                             {L, R, BL, BR},
                             {L, R, C, BL, BR},
                             {L, R, C, LFE, BL, BR},
                             {L, R, C, LFE, BC, SL, SR},
                             {L, R, C, LFE, BL, BR, SL, SR}};
  // WAVE's speaker order, as a channel mask would list them.
  static const P kWave = {L,  R,  C, LFE, BL, BR, S::FrontLeftOfCentre, S::FrontRightOfCentre,
                          BC, SL, SR};
  P p;
  if (order == ChannelOrder::Vorbis && channels <= 8) {
    p = kVorbis[std::max(channels, 0)];
  } else if (order == ChannelOrder::Flac && channels <= 8) {
    p = kFlac[std::max(channels, 0)];
  } else {
    p.assign(kWave.begin(), kWave.begin() + std::clamp<int>(channels, 0, int(kWave.size())));
  }
  p.resize(static_cast<size_t>(std::max(channels, 0)), S::Unknown);
  return p;
}

std::vector<double> MixWeights(const std::vector<Speaker>& speakers, uint32_t outChannels,
                               ChannelRule rule) {
  const size_t in = speakers.size();
  std::vector<double> left(in, 0.0), right(in, 0.0);
  if (in == 1) {
    left[0] = 1;
    right[0] = rule == ChannelRule::Both ? 1 : 0;
  } else if (in == 2) {
    left[0] = right[1] = 1;
  } else {
    for (size_t i = 0; i < in; ++i) StereoWeights(speakers[i], left[i], right[i]);
  }
  std::vector<double> w(outChannels * in, 0.0);
  for (size_t i = 0; i < in; ++i) {
    if (outChannels == 1) {
      // One channel from several: the left side, or both sides summed, (L+R)/2.
      w[i] = rule == ChannelRule::Sum ? (left[i] + right[i]) / 2 : left[i];
    } else {
      w[i] = left[i];
      w[in + i] = right[i];
    }
  }
  // One channel into one, or two into two, passes as it is.
  if (in == outChannels && in <= 2) {
    std::fill(w.begin(), w.end(), 0.0);
    for (size_t i = 0; i < in; ++i) w[i * in + i] = 1;
  }
  return w;
}

void MixFrames(const std::vector<double>& weights, int in, uint32_t out, const double* x, double* y,
               std::size_t frames) {
  for (std::size_t k = 0; k < frames; ++k) {
    const double* from = x + k * in;
    for (uint32_t o = 0; o < out; ++o) {
      const double* w = weights.data() + o * in;
      double sum = 0;
      for (int i = 0; i < in; ++i) {
        if (w[i] != 0) sum += w[i] * from[i];
      }
      y[k * out + o] = sum;
    }
  }
}

int32_t To24(double v) {
  const double x = v * 2147483648.0;
  int64_t s;
  if (!(x == x)) {
    s = 0;  // NaN
  } else if (x < 0) {
    s = x <= -2147483648.5 ? INT32_MIN : static_cast<int64_t>(x - 0.5);
  } else {
    s = x >= 2147483647.5 ? INT32_MAX : static_cast<int64_t>(x + 0.5);
  }
  const int64_t t = (s + 128) >> 8;
  return static_cast<int32_t>(std::clamp<int64_t>(t, -8388608, 8388607));
}

void Write24(const double* samples, std::size_t count, uint8_t* out) {
  for (std::size_t i = 0; i < count; ++i) {
    PutLe24(out + 3 * i, static_cast<uint32_t>(To24(samples[i])));
  }
}

}  // namespace rendax
