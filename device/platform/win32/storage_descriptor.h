// SPDX-License-Identifier: GPL-3.0-or-later
// Reading the vendor and product identification out of a storage device descriptor (the reply
// to IOCTL_STORAGE_QUERY_PROPERTY). Pure byte parsing, so it builds and is tested everywhere.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

#include "device/platform.h"

namespace rendax {

// The descriptor buffer discovery asks for.
inline constexpr size_t kStorageDescriptorBytes = 551;
inline constexpr uint32_t kBusTypeUsb = 7;

// Parses the first `returned` bytes of a descriptor (never reads past them, nor past the
// descriptor's own Size when that is smaller). An offset of 0 gives an absent string. Returns
// nullopt when the bytes are too few to hold the bus type, or a string's offset lies outside
// them, or a string has no terminating zero inside them: such a device is skipped.
std::optional<StorageIdentity> ParseStorageDeviceDescriptor(const uint8_t* bytes, size_t returned);

}  // namespace rendax
