// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/window_geometry.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace rendax {

Rgb PictureGround(double x, double y, double width, double height) {
  using P = PictureLook;
  const double t = (x / width + y / height) / 2;
  const double d = std::hypot(x - P::kDiscX, y - P::kDiscY) / P::kGlowRadius;
  const double a = d < 1 ? P::kGlowOpacity * (1 - d) : 0;
  auto mix = [&](double top, double bottom, double glow) {
    return (top + (bottom - top) * t) * (1 - a) + glow * a;
  };
  return {mix(P::kSkyTop.r, P::kSkyBottom.r, P::kGlow.r),
          mix(P::kSkyTop.g, P::kSkyBottom.g, P::kGlow.g),
          mix(P::kSkyTop.b, P::kSkyBottom.b, P::kGlow.b)};
}

std::vector<RingStroke> RingStrokes(const LoopOutline& outline) {
  using P = PictureLook;
  const size_t n = outline.low.size();
  std::vector<RingStroke> strokes;
  strokes.reserve(n);
  for (size_t i = 0; i < n; ++i) {
    const double angle = 2 * std::numbers::pi * (double(i) + 0.5) / double(n);
    const double dx = std::sin(angle), dy = -std::cos(angle);
    const double low = std::clamp<double>(outline.low[i], -1, 1);
    const double high = std::clamp<double>(i < outline.high.size() ? outline.high[i] : low, low, 1);
    const double r0 = P::kRingMiddle + P::kRingHalf * low;
    const double r1 = P::kRingMiddle + P::kRingHalf * high;
    strokes.push_back(
        {P::kDiscX + dx * r0, P::kDiscY + dy * r0, P::kDiscX + dx * r1, P::kDiscY + dy * r1});
  }
  return strokes;
}

}  // namespace rendax
