// SPDX-License-Identifier: GPL-3.0-or-later
// Reading the pedal's loop: the loop record, then the page stream in transfer blocks, each
// block's residual checked against what the record announced. The export, the backup and the
// check after an import read through it; the stream maker is its counterpart on the write side.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "device/commands.h"
#include "device/device.h"
#include "transfer/progress.h"

namespace rendax {

// Reads the loop record, which also puts the pedal's stream back at the loop's start. False,
// with the reason, when the pedal does not answer.
bool ReadLoopInfo(CDevice& device, LoopInfo& info, std::string& reason);

class LoopReader {
 public:
  // Reads `length` bytes of the open pedal's stream, which must be at the loop's start. Stops
  // before a block when `cancel` is set; reports the bytes read through `progress` (may be
  // null) in the stage it has begun.
  LoopReader(CDevice& device, uint8_t model, uint32_t length, const std::atomic<bool>* cancel,
             JobProgress* progress);

  enum class Step { Block, End, Failed, Cancelled };
  // Reports the block before as done, then reads the next one: whole transfer blocks, the last one
  // rounded up to whole pages (a loop within one block is read as one whole block).
  Step Next();

  // The block just read: Bytes() bytes of the loop (zeros follow, up to a frame past them),
  // from stream byte Offset(), with the converters' ChunkFirst and ChunkLast.
  const uint8_t* Data() const { return block_.get(); }
  uint32_t Bytes() const { return bytes_; }
  uint64_t Offset() const { return offset_; }
  uint32_t Flags() const;
  // Failed: why.
  const std::string& Reason() const { return reason_; }

 private:
  CDevice& device_;
  uint32_t channels_;
  uint32_t length_;
  const std::atomic<bool>* cancel_;
  JobProgress* progress_;
  std::unique_ptr<uint8_t[]> block_;
  uint32_t reads_, k_ = 0, bytes_ = 0;
  bool reported_ = true;
  uint64_t offset_ = 0;
  std::string reason_;
};

}  // namespace rendax
