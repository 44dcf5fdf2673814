// SPDX-License-Identifier: GPL-3.0-or-later
// A loop's outline for drawing: the lowest and highest sample of every channel in each of a
// fixed number of equal slices of the loop, so the window can draw the loop around a circle.
// Pure: built from the pedal's page stream as a job reads or writes it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rendax {

struct LoopOutline {
  // Per slice, in loop order: the lowest and highest sample, -1..1 (full scale of 24 bits).
  std::vector<float> low, high;
  bool Empty() const { return low.empty(); }
};

class LoopOutlineBuilder {
 public:
  static constexpr std::size_t kDefaultSlices = 360;
  // `streamLength`: the loop's length in stream bytes (the loop record's length); `channels`:
  // the model's channels (the page layout).
  LoopOutlineBuilder(uint64_t streamLength, uint32_t channels, std::size_t slices = kDefaultSlices);
  // A run of the page stream starting at stream byte `offset`: whole or partial pages with
  // their filler, which is skipped, as is anything past `streamLength`. A run starts on a page
  // boundary (every transfer block does); runs may come in any order.
  void AddStream(const uint8_t* data, std::size_t length, uint64_t offset);
  // The outline so far; slices nothing fell into are 0..0.
  LoopOutline Result() const;

 private:
  uint64_t streamLength_;
  uint32_t channels_;
  std::size_t slices_;
  std::vector<int32_t> low_, high_;
  std::vector<bool> touched_;
};

}  // namespace rendax
