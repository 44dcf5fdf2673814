// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/platform/win32/storage_descriptor.h"

#include <algorithm>
#include <cstring>

namespace rendax {
namespace {

// STORAGE_DEVICE_DESCRIPTOR: Version, Size, four single bytes, then the string offsets, then
// BusType.
constexpr size_t kSizeAt = 4;
constexpr size_t kVendorOffsetAt = 12;
constexpr size_t kProductOffsetAt = 16;
constexpr size_t kBusTypeAt = 28;
constexpr size_t kHeaderBytes = 32;

uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// false when the string is not wholly inside the first `limit` bytes.
bool ReadString(const uint8_t* bytes, size_t limit, uint32_t offset,
                std::optional<std::string>& out) {
  if (offset == 0) {
    out.reset();
    return true;
  }
  if (offset >= limit) return false;
  const uint8_t* begin = bytes + offset;
  const void* zero = std::memchr(begin, 0, limit - offset);
  if (zero == nullptr) return false;
  out.emplace(reinterpret_cast<const char*>(begin), static_cast<const uint8_t*>(zero) - begin);
  return true;
}

}  // namespace

std::optional<StorageIdentity> ParseStorageDeviceDescriptor(const uint8_t* bytes, size_t returned) {
  if (bytes == nullptr || returned < kHeaderBytes) return std::nullopt;
  size_t limit = returned;
  const uint32_t size = Le32(bytes + kSizeAt);
  if (size >= kHeaderBytes) limit = std::min<size_t>(limit, size);
  StorageIdentity identity;
  identity.usb = Le32(bytes + kBusTypeAt) == kBusTypeUsb;
  if (!ReadString(bytes, limit, Le32(bytes + kVendorOffsetAt), identity.vendor) ||
      !ReadString(bytes, limit, Le32(bytes + kProductOffsetAt), identity.product)) {
    return std::nullopt;
  }
  return identity;
}

}  // namespace rendax
