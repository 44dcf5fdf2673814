// SPDX-License-Identifier: GPL-3.0-or-later
// The firmware version check that runs right after a pedal is found, and the writing of an
// image. Mechanism only: what to ask and what a verdict allows is the front ends' policy
// (transfer/pedal_policy.h).
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "device/device.h"

namespace rendax {

// The firmware images carried with the program, one per model.
std::span<const uint8_t> FirmwareImage(uint8_t model);
// True when the images are this project's development images, not the pedal maker's.
bool FirmwareImagesAreDevelopment();

// What the pedal's firmware is, against the version this program carries for its model.
enum class FirmwareVerdict {
  Usable,       // the carried version
  NeedsUpdate,  // older than the carried one
  Newer,        // newer than the carried one: an update would replace it with older
  Unreadable    // the pedal could not be opened, or did not tell its version
};

struct FirmwareReading {
  FirmwareVerdict verdict = FirmwareVerdict::Unreadable;
  uint16_t version = 0;     // the pedal's version; valid unless Unreadable
  bool openFailed = false;  // Unreadable because the pedal could not be opened
  int openError = 0;        // the system's error of that open
  // Unreadable: why (the open error, the command's sense data).
  std::string reason;
  // False when the carried image may not be written to this pedal (our development images
  // would ruin a real one; only the simulated pedal takes them).
  bool imageWritable = true;
};

// Why the pedal at `path` could not be opened, as a reason after "Device Open Error".
std::string OpenFailureReason(const std::string& path, int osError);

// Opens the pedal at `pedalPath`, reads its version and closes it again, on every path.
FirmwareReading CheckFirmware(CDevice& device, const std::string& pedalPath, uint8_t model);

// Writes the model's image into the open pedal with one WriteFirmware command. False with
// `reason` when the image is missing or may not go to this pedal, or the pedal refused it.
bool WriteFirmwareImage(CDevice& device, uint8_t model, std::string& reason);

}  // namespace rendax
