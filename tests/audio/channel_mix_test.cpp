// SPDX-License-Identifier: GPL-3.0-or-later
// The channel rules and the rounding of decoded samples, without any decoder.
#include "audio/channel_mix.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace rendax {
namespace {

TEST(ChannelMix, EachRuleGivesThePedalItsChannels) {
  using S = Speaker;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double c = 0.1 * 0.70710678118654752;  // a centre at -3 dB
  struct Row {
    const char* name;
    std::vector<Speaker> in;
    uint32_t out;
    ChannelRule rule;
    std::vector<double> frame, want;
  };
  const Row rows[] = {
      {"mono as it is", {S::Centre}, 1, ChannelRule::Default, {0.25}, {0.25}},
      {"stereo as it is", {S::Left, S::Right}, 2, ChannelRule::Sum, {0.25, -0.5}, {0.25, -0.5}},
      {"first channel", {S::Left, S::Right}, 1, ChannelRule::Default, {0.25, -0.5}, {0.25}},
      {"first channel, the other never read",
       {S::Left, S::Right},
       1,
       ChannelRule::Default,
       {0.25, nan},
       {0.25}},
      {"(L+R)/2", {S::Left, S::Right}, 1, ChannelRule::Sum, {0.25, -0.5}, {-0.125}},
      {"left side only", {S::Centre}, 2, ChannelRule::Default, {0.25}, {0.25, 0}},
      {"both sides", {S::Centre}, 2, ChannelRule::Both, {0.25}, {0.25, 0.25}},
      {"centre at -3 dB on both sides",
       {S::Left, S::Right, S::Centre},
       2,
       ChannelRule::Default,
       {0.5, 0.25, 0.1},
       {0.5 + c, 0.25 + c}},
      {"LFE left out",
       {S::Left, S::Right, S::Lfe},
       2,
       ChannelRule::Default,
       {0.5, 0.25, 0.9},
       {0.5, 0.25}},
      {"three summed to one",
       {S::Left, S::Right, S::Centre},
       1,
       ChannelRule::Sum,
       {0.5, 0.25, 0.1},
       {(0.5 + 0.25) / 2 + c}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const std::vector<double> w = MixWeights(r.in, r.out, r.rule);
    std::vector<double> got(r.out);
    MixFrames(w, static_cast<int>(r.in.size()), r.out, r.frame.data(), got.data(), 1);
    ASSERT_EQ(got.size(), r.want.size());
    for (size_t i = 0; i < got.size(); ++i) EXPECT_DOUBLE_EQ(got[i], r.want[i]) << i;
  }
}

TEST(ChannelMix, DecodedSamplesRoundToTwentyFourBitsAsSoxDoes) {
  const double lsb = 1.0 / 8388608;
  struct Row {
    double in;
    int32_t want;
  };
  const Row rows[] = {
      {0, 0},          {1000 * lsb, 1000}, {-1000 * lsb, -1000}, {0.5 * lsb, 1},
      {-0.5 * lsb, 0}, {0.49 * lsb, 0},    {1.0, 8388607},       {-1.0, -8388608},
      {7.5, 8388607},  {-7.5, -8388608},   {std::nan(""), 0},    {-(1 - lsb), -8388607},
  };
  for (const Row& r : rows) EXPECT_EQ(To24(r.in), r.want) << r.in;
  uint8_t bytes[6] = {};
  const double two[2] = {-lsb, 0x123456 * lsb};
  Write24(two, 2, bytes);
  EXPECT_EQ(std::vector<uint8_t>(bytes, bytes + 6),
            (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0x56, 0x34, 0x12}));
}

}  // namespace
}  // namespace rendax
