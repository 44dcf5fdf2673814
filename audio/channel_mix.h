// SPDX-License-Identifier: GPL-3.0-or-later
// How decoded channels become the ones the pedal takes, and decoded samples its 24-bit ones.
// Pure arithmetic on frames of doubles (full scale +-1.0), no I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rendax {

// Where a channel of a file plays.
enum class Speaker : uint8_t {
  Unknown,
  Left,
  Right,
  Centre,
  Lfe,
  RearLeft,
  RearRight,
  RearCentre,
  SideLeft,
  SideRight,
  FrontLeftOfCentre,
  FrontRightOfCentre,
  TopFrontLeft,
  TopFrontRight,
  TopRearLeft,
  TopRearRight,
};

// The usual channel order of a kind of file that does not say where its channels play.
enum class ChannelOrder { Wave, Vorbis, Flac };
std::vector<Speaker> DefaultSpeakers(int channels, ChannelOrder order);

// What happens to channels the pedal does not have, or has more of than the file.
enum class ChannelRule {
  Default,  // two into one: the first channel; one into two: the left side only
  Sum,      // two into one: (L+R)/2
  Both,     // one into two: the channel on both sides
};

// The mixing matrix from channels at `speakers` to `outChannels` (1 or 2), row by output
// channel: out[o] = sum over i of weights[o * in + i] * in[i]. Three or more channels go to
// stereo first: fronts as they are, centre and surrounds at -3 dB, the LFE channel left out.
std::vector<double> MixWeights(const std::vector<Speaker>& speakers, uint32_t outChannels,
                               ChannelRule rule);

// Applies `weights` to `frames` frames of `in` channels into `out` channels. A weight of 0
// leaves its channel out altogether, so that a channel taken alone arrives bit for bit.
void MixFrames(const std::vector<double>& weights, int in, uint32_t out, const double* x, double* y,
               std::size_t frames);

// A decoded sample to 24 bits as sox rounds it (to 32 bits, then to 24, each half away from
// zero and up, clipped; NaN is silence), so that the same file gives the same loop here and there.
int32_t To24(double v);

// `count` samples as 24-bit little-endian, 3 bytes each.
void Write24(const double* samples, std::size_t count, uint8_t* out);

}  // namespace rendax
