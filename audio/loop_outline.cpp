#include "audio/loop_outline.h"

namespace rendax {

LoopOutlineBuilder::LoopOutlineBuilder(uint64_t streamLength, uint32_t channels, std::size_t slices)
    : streamLength_(streamLength), channels_(channels), slices_(slices) {}

void LoopOutlineBuilder::AddStream(const uint8_t*, std::size_t, uint64_t) {}

LoopOutline LoopOutlineBuilder::Result() const {
  return {};
}

}  // namespace rendax
