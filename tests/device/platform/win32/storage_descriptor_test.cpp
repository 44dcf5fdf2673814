// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/platform/win32/storage_descriptor.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace rendax {
namespace {

void Put32(std::vector<uint8_t>& d, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) d[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// A descriptor as the storage query fills it: header, then the strings at 64 and 80.
std::vector<uint8_t> Descriptor(uint32_t busType, const char* vendor, const char* product) {
  std::vector<uint8_t> d(kStorageDescriptorBytes, 0);
  Put32(d, 4, 120);  // Size
  Put32(d, 28, busType);
  if (vendor) {
    Put32(d, 12, 64);
    std::memcpy(&d[64], vendor, std::strlen(vendor));
  }
  if (product) {
    Put32(d, 16, 80);
    std::memcpy(&d[80], product, std::strlen(product));
  }
  return d;
}

TEST(StorageDescriptor, ReadsBusAndPaddedStrings) {
  const auto d = Descriptor(kBusTypeUsb, "QELM    ", "RENDAX_MINI     ");
  const auto id = ParseStorageDeviceDescriptor(d.data(), 120);
  ASSERT_TRUE(id);
  EXPECT_TRUE(id->usb);
  EXPECT_EQ(id->vendor, "QELM    ");
  EXPECT_EQ(id->product, "RENDAX_MINI     ");

  const auto sata = Descriptor(11, nullptr, nullptr);
  const auto fixed = ParseStorageDeviceDescriptor(sata.data(), 120);
  ASSERT_TRUE(fixed);
  EXPECT_FALSE(fixed->usb);
  EXPECT_FALSE(fixed->vendor) << "offset 0: absent";
  EXPECT_FALSE(fixed->product);
}

TEST(StorageDescriptor, NeverReadsOutsideTheBytesReturned) {
  auto d = Descriptor(kBusTypeUsb, "QELM    ", "RENDAX_MINI     ");
  EXPECT_FALSE(ParseStorageDeviceDescriptor(d.data(), 31)) << "too short for the bus type";
  EXPECT_FALSE(ParseStorageDeviceDescriptor(d.data(), 64)) << "vendor offset past the end";
  EXPECT_FALSE(ParseStorageDeviceDescriptor(d.data(), 90)) << "product not terminated in time";
  Put32(d, 4, 90);  // the descriptor's own Size cuts the product short
  EXPECT_FALSE(ParseStorageDeviceDescriptor(d.data(), kStorageDescriptorBytes));
  Put32(d, 4, 120);
  Put32(d, 16, 0xFFFFFFF0u);
  EXPECT_FALSE(ParseStorageDeviceDescriptor(d.data(), kStorageDescriptorBytes));
  EXPECT_FALSE(ParseStorageDeviceDescriptor(nullptr, 0));
}

}  // namespace
}  // namespace rendax
