// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/loop_reader.h"

#include <cstring>
#include <new>

#include "audio/resample.h"
#include "audio/sample_pages.h"
#include "device/discovery.h"
#include "transfer/outcome.h"
#include "transfer/texts.h"

namespace rendax {

namespace {

// The unpacker's reading rule may look up to a frame size - 1 bytes past the loop's end.
constexpr uint32_t kBlockSlack = 8;

}  // namespace

bool ReadLoopInfo(CDevice& device, LoopInfo& info, std::string& reason) {
  uint8_t record[kLoopInfoBytes] = {};
  if (!SendCommandIn(CdbLoopInfoRead(), device, kLoopInfoBytes, record)) {
    reason = Because(kReasonLoopInfoUnanswered, DescribeCommandResult(device.LastResult()));
    return false;
  }
  info = DecodeLoopInfo(record);
  return true;
}

LoopReader::LoopReader(CDevice& device, uint8_t model, uint32_t length,
                       const std::atomic<bool>* cancel, JobProgress* progress)
    : device_(device),
      channels_(ModelInfo(model).channels),
      length_(length),
      cancel_(cancel),
      progress_(progress) {
  const uint32_t full = length / kTransferBlockBytes;
  reads_ = length <= kTransferBlockBytes ? 1 : full + (length % kTransferBlockBytes ? 1 : 0);
}

uint32_t LoopReader::Flags() const {
  return (k_ == 1 ? uint32_t{ChunkFirst} : 0u) | (k_ == reads_ ? uint32_t{ChunkLast} : 0u);
}

LoopReader::Step LoopReader::Next() {
  // The block before counts as done once its reader has taken it.
  if (k_ > 0 && !reported_) {
    reported_ = true;
    if (progress_) progress_->Report(offset_ + bytes_);
  }
  if (k_ == reads_) return Step::End;
  if (cancel_ && cancel_->load()) return Step::Cancelled;
  if (!block_) {
    block_.reset(new (std::nothrow) uint8_t[kTransferBlockBytes + kBlockSlack]);
    if (!block_) {
      reason_ = kReasonOutOfMemory;
      return Step::Failed;
    }
  }
  offset_ = uint64_t{kTransferBlockBytes} * k_;
  ++k_;
  const uint32_t rest = length_ % kTransferBlockBytes;
  const uint32_t request = k_ == reads_ && reads_ > 1 && rest > 0 ? RoundUpToPages(rest, channels_)
                                                                  : kTransferBlockBytes;
  // Never hand on what an earlier block or a short answer left behind.
  std::memset(block_.get(), 0, kTransferBlockBytes + kBlockSlack);
  if (!SendCommandIn(CdbLoopDataRead(), device_, request, block_.get())) {
    reason_ = Because(kReasonLoopDataReadFailed, DescribeCommandResult(device_.LastResult()));
    return Step::Failed;
  }
  bytes_ = k_ < reads_ ? kTransferBlockBytes : length_ - kTransferBlockBytes * (reads_ - 1);
  const uint32_t residual = device_.LastResult().residual;
  if (residual > request || request - residual < bytes_) {
    reason_ = kReasonShortLoopData;
    return Step::Failed;
  }
  reported_ = false;
  return Step::Block;
}

}  // namespace rendax
