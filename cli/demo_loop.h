// SPDX-License-Identifier: GPL-3.0-or-later
// The demo loop that `sim create --demo-loop` stores in a simulated pedal: two bars of drums,
// bass and chords, synthesized here so the first export gives something worth hearing.
#pragma once

#include <cstdint>
#include <vector>

namespace rendax {

inline constexpr uint32_t kDemoRate = 48000;

// Interleaved 24-bit little-endian WAV frames at 48,000 Hz with `channels` (1 or 2) channels.
std::vector<uint8_t> SynthesizeDemoLoop(uint32_t channels);

// Converts 48,000 Hz WAV audio (`blockAlign` bytes a frame) into the page stream a pedal of
// `model` stores, in file blocks as the import cuts them. Returns the stream, exactly its
// length long.
std::vector<uint8_t> PackDemoStream(const std::vector<uint8_t>& audio, uint16_t blockAlign,
                                    uint8_t model);

}  // namespace rendax
