// SPDX-License-Identifier: GPL-3.0-or-later
// The device object: one open connection to a pedal, or none.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "device/platform.h"

namespace rendax {

class CDevice {
 public:
  explicit CDevice(DevicePlatform& platform);
  virtual ~CDevice();  // closes an open handle
  CDevice(const CDevice&) = delete;
  CDevice& operator=(const CDevice&) = delete;

  // Opens `path` for commands. Returns 1 on success, 0 on failure (the device stays closed).
  // Refused with 0 when the device is already open: an open handle is never replaced.
  virtual int Open(const std::string& path, uint32_t access, uint32_t share);
  virtual int Reserved1(int32_t, int32_t) { return -1; }
  virtual int Reserved2(int32_t, int32_t) { return -1; }
  // Closes the handle if open; does nothing on a closed device.
  virtual void Close();

  bool IsOpen() const { return channel_ != nullptr; }
  DeviceChannel* Channel() { return channel_.get(); }
  DevicePlatform& Platform() { return platform_; }
  int LastOpenError() const { return lastOpenError_; }

  // Outcome of the last command sent through this device (sense data included).
  const PassThroughResult& LastResult() const { return lastResult_; }
  void SetLastResult(const PassThroughResult& r) { lastResult_ = r; }

 private:
  DevicePlatform& platform_;
  std::unique_ptr<DeviceChannel> channel_;
  PassThroughResult lastResult_{};
  int lastOpenError_ = 0;
};

// The pedal's device class; adds nothing to CDevice.
class CMassStorageDevice : public CDevice {
 public:
  using CDevice::CDevice;
};

}  // namespace rendax
