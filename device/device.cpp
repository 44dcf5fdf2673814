// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/device.h"

#include <cerrno>

namespace rendax {

CDevice::CDevice(DevicePlatform& platform) : platform_(platform) {}

CDevice::~CDevice() {
  channel_.reset();
}

int CDevice::Open(const std::string& path, uint32_t access, uint32_t share) {
  // A second Open would drop the handle another operation is using.
  if (channel_) {
    lastOpenError_ = EBUSY;
    return 0;
  }
  int osError = 0;
  std::unique_ptr<DeviceChannel> channel = platform_.Open(path, access, share, osError);
  if (!channel) {
    lastOpenError_ = osError != 0 ? osError : ENODEV;
    return 0;
  }
  lastOpenError_ = 0;
  channel_ = std::move(channel);
  return 1;
}

void CDevice::Close() {
  channel_.reset();
}

}  // namespace rendax
