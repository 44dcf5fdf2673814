// SPDX-License-Identifier: GPL-3.0-or-later
// What the two windows (Qt and Win32) draw alike, without a toolkit: where the controls sit, the
// background picture's colours and its disc, and the loop's ring around the disc. Each toolkit
// only draws what is computed here, so the two cannot drift apart.
#pragma once

#include <vector>

#include "audio/loop_outline.h"

namespace rendax {

struct WindowPoint {
  int x, y;
};
struct WindowRect {
  int left, top, width, height;
  constexpr int Right() const { return left + width; }
  constexpr int Bottom() const { return top + height; }
};

// Where things sit, in pixels. The background picture is drawn onto the 460 x 306 area it was
// made for; the strip below it, as tall as its controls need, carries the status line and the
// pedal selector.
struct WindowGeometry {
  static constexpr int kPictureWidth = 460;
  static constexpr int kPictureHeight = 306;
  static constexpr int kMinStripHeight = 32;
  static constexpr WindowPoint kExport{136, 150};
  static constexpr WindowPoint kImport{30, 92};
  static constexpr WindowRect kProgress{12, 272, 315, 19};
  // Right of the bar, centred on it.
  static constexpr WindowRect kCancel{341, 269, 107, 25};
  static constexpr int kStripMargin = 12;  // left and right
  static constexpr int kSelectorMaxWidth = 200;
};

// A colour, each part 0..255.
struct Rgb {
  double r, g, b;
};

// The picture's own colours and its disc, in the picture's units (it is drawn 1188 x 709 and
// shown on 460 x 306), as app/resources/svg/background.svg paints them: the sky's diagonal
// gradient, the glow behind the disc, the gold of the strokes around the disc and the light grey
// of its lettering.
struct PictureLook {
  static constexpr double kWidth = 1188, kHeight = 709;
  static constexpr Rgb kSkyTop{0x20, 0x24, 0x2c}, kSkyBottom{0x0e, 0x1a, 0x2a};
  static constexpr Rgb kGlow{0x2f, 0x4a, 0x6a};
  static constexpr double kGlowRadius = 320, kGlowOpacity = 0.9;
  static constexpr Rgb kGold{0xf2, 0xc2, 0x30};
  static constexpr Rgb kLettering{0xc9, 0xd4, 0xe0};
  static constexpr double kDiscX = 930, kDiscY = 330;
  // The picture's strokes lie between these radii, outside the inner circle (radius 120).
  static constexpr double kStrokesInner = 124, kStrokesOuter = 212;
  // The loop's ring: a sample of 0 sits at kRingMiddle, full scale kRingHalf away; its strokes
  // are nearly opaque.
  static constexpr double kRingMiddle = 168, kRingHalf = 40;
  static constexpr double kRingOpacity = 0.9;
};

// The picture's ground at a point of a picture `width` x `height` units, without the strokes:
// the sky, then the glow over it.
Rgb PictureGround(double x, double y, double width, double height);

// One stroke of the loop's ring, in the picture's units: a slice of the loop, clockwise from the
// top, from its lowest sample (x0, y0) to its highest (x1, y1).
struct RingStroke {
  double x0, y0, x1, y1;
};
std::vector<RingStroke> RingStrokes(const LoopOutline& outline);

}  // namespace rendax
