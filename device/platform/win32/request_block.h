// SPDX-License-Identifier: GPL-3.0-or-later
// The request block handed to IOCTL_SCSI_PASS_THROUGH_DIRECT: the pass-through structure with
// the sense area right behind it, as the storage driver expects to find them.
#pragma once

#if defined(_WIN32)

#include <windows.h>
// windows.h first: ntddscsi.h uses its types.
#include <ntddscsi.h>

#include <cstddef>

#include "device/pass_through.h"

namespace rendax {

inline constexpr size_t kSenseAreaBytes = 32;

struct PassThroughBlock {
  SCSI_PASS_THROUGH_DIRECT sptd;
  ULONG filler;  // puts the sense area on a 4-byte boundary after the structure
  UCHAR sense[kSenseAreaBytes];
};

#if !defined(_WIN64)
// The 32-bit block is the pedal software's 80-byte block: Length 44, sense from byte 48.
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 44);
static_assert(offsetof(PassThroughBlock, sense) == 48);
static_assert(sizeof(PassThroughBlock) == 80);
#endif

// Zeroes `block` and fills it for `request`, with `data` as the transfer buffer (the caller's
// own buffer, or an aligned copy of it). Length and SenseInfoOffset are this build's own layout.
void FillPassThroughBlock(PassThroughBlock& block, const PassThroughRequest& request, void* data);

}  // namespace rendax

#endif  // _WIN32
