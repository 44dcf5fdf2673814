// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/firmware_check.h"

#include "device/commands.h"
#include "device/discovery.h"

namespace rendax {

namespace {

bool ImageWritable(CDevice& device) {
  return !FirmwareImagesAreDevelopment() || device.Channel()->IsSimulated();
}

}  // namespace

std::string OpenFailureReason(const std::string& path, int osError) {
  return osError == kPedalInUseError ? std::string(kMsgPedalInUse)
                                     : DescribeOpenError(path, osError);
}

FirmwareReading CheckFirmware(CDevice& device, const std::string& pedalPath, uint8_t model) {
  FirmwareReading reading;
  if (!device.Open(pedalPath, kGenericRead | kGenericWrite, kFileShareRead | kFileShareWrite)) {
    reading.openFailed = true;
    reading.openError = device.LastOpenError();
    reading.reason = OpenFailureReason(pedalPath, reading.openError);
    device.Close();
    return reading;
  }
  // Closes the pedal on every way out below.
  struct Closer {
    CDevice& d;
    ~Closer() { d.Close(); }
  } closer{device};

  if (model >= kModelCount) {
    reading.reason = "no pedal model " + std::to_string(model);
    return reading;
  }
  uint16_t version = 0;
  if (!ReadFirmwareVersion(device, version)) {
    // A failed read is no version: comparing it could rewrite a sound pedal.
    const PassThroughResult& r = device.LastResult();
    reading.reason = r.ok() ? "the pedal sent a short version reply" : DescribeCommandResult(r);
    return reading;
  }
  reading.version = version;
  reading.imageWritable = ImageWritable(device);
  const uint16_t carried = ModelInfo(model).expectedFirmware;
  reading.verdict = version == carried  ? FirmwareVerdict::Usable
                    : version > carried ? FirmwareVerdict::Newer
                                        : FirmwareVerdict::NeedsUpdate;
  return reading;
}

bool WriteFirmwareImage(CDevice& device, uint8_t model, std::string& reason) {
  if (!ImageWritable(device)) {
    reason = "this program carries development images, which only the simulated pedal takes";
    return false;
  }
  const std::span<const uint8_t> image = FirmwareImage(model);
  if (image.size() != kFirmwareImageBytes) {
    reason = "the firmware image for this pedal is missing or damaged";
    return false;
  }
  if (!SendCommandOut(CdbWriteFirmware(), device, kFirmwareImageBytes, image.data())) {
    reason = DescribeCommandResult(device.LastResult());
    return false;
  }
  return true;
}

}  // namespace rendax
