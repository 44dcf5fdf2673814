// SPDX-License-Identifier: GPL-3.0-or-later
// The front ends' one policy for a pedal: what its firmware allows, the firmware question and
// update, and how questions name the pedal. The window and rendax-cli both decide here, so they
// cannot disagree on what a pedal may be used for.
#pragma once

#include <cstdint>
#include <string>

#include "device/device.h"
#include "device/firmware_check.h"
#include "device/pedal_tracker.h"
#include "transfer/prompter.h"

namespace rendax {

enum class PedalOperation {
  Export,  // the loop into a file
  Backup,  // the loop into a backup
  Import,  // a file onto the pedal
  Restore  // a backup onto the pedal
};

// Whether `pedal` may be used for `operation`. Reading the loop needs a version that was read:
// the carried one, or another the user kept (the loop can be saved before flashing). Writing
// needs the carried version. An export also needs a loop, as far as the loop record is known.
bool Allows(const TrackedPedal& pedal, PedalOperation operation);
// The same for a pedal whose loop record is not known.
bool Allows(FirmwareState state, PedalOperation operation);

// The state a reading leaves when nothing is asked.
FirmwareState StateOf(const FirmwareReading& reading);

// The name a question gives a pedal: its model and the node's short name, "Rendax Twin (sg3)".
std::string PedalName(uint8_t model, const std::string& path);
// The last part of a pedal's path: "sg3" for /dev/sg3, "E:" for \\.\E:.
std::string ShortName(const std::string& path);
// The warning before the loop of the pedal named `pedalName` is replaced.
std::string ReplaceWarning(const std::string& pedalName);

struct FirmwareOptions {
  // False: a pedal with newer firmware than the program carries is left as it is, unasked.
  bool allowDowngrade = true;
  // After the user's Yes and before the image is written, the pedal's loop is saved as a backup
  // (in `backupFolder`, empty for DefaultBackupFolder()): whatever the pedal keeps may not
  // survive new firmware. A backup that fails cancels the update; nothing is written.
  bool backup = true;
  std::string backupFolder;
};

struct FirmwareOutcome {
  FirmwareState state = FirmwareState::Unusable;
  uint16_t version = 0;  // the pedal's version now (the carried one after an update); 0: unread
  bool updated = false;  // the image was written
};

// Reads the pedal's firmware (CheckFirmware) and, when it is not the carried version, asks
// whether to update and writes the image. Every failure is said with its reason. The state is
// the one to keep for the pedal. The device is closed on return.
FirmwareOutcome EnsureFirmware(CDevice& device, const std::string& path, uint8_t model,
                               Prompter& prompter, const FirmwareOptions& options = {});

}  // namespace rendax
