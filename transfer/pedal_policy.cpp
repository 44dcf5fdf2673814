// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/pedal_policy.h"

#include <cstdio>

#include "device/commands.h"
#include "device/discovery.h"
#include "transfer/backup.h"
#include "transfer/texts.h"

namespace rendax {

namespace {

bool HoldsNoLoop(const TrackedPedal& pedal) {
  return pedal.loop && !HoldsLoop(*pedal.loop);
}

}  // namespace

bool Allows(FirmwareState state, PedalOperation operation) {
  switch (operation) {
    case PedalOperation::Export:
    case PedalOperation::Backup:
      return state == FirmwareState::Usable || state == FirmwareState::Declined;
    case PedalOperation::Import:
    case PedalOperation::Restore:
      return state == FirmwareState::Usable;
  }
  return false;
}

bool Allows(const TrackedPedal& pedal, PedalOperation operation) {
  if (operation == PedalOperation::Export && HoldsNoLoop(pedal)) return false;
  return Allows(pedal.firmware, operation);
}

FirmwareState StateOf(const FirmwareReading& reading) {
  switch (reading.verdict) {
    case FirmwareVerdict::Usable:
      return FirmwareState::Usable;
    case FirmwareVerdict::NeedsUpdate:
    case FirmwareVerdict::Newer:
      return FirmwareState::Declined;
    case FirmwareVerdict::Unreadable:
      return FirmwareState::Unusable;
  }
  return FirmwareState::Unusable;
}

std::string ShortName(const std::string& path) {
  std::string p = path;
  while (p.size() > 1 && (p.back() == '/' || p.back() == '\\')) p.pop_back();
  const auto slash = p.find_last_of("/\\");
  return slash == std::string::npos ? p : p.substr(slash + 1);
}

std::string PedalName(uint8_t model, const std::string& path) {
  return std::string(ModelInfo(model).name) + " (" + ShortName(path) + ")";
}

std::string ReplaceWarning(const std::string& pedalName) {
  return kReplaceWarningStart + pedalName + kReplaceWarningEnd;
}

FirmwareOutcome EnsureFirmware(CDevice& device, const std::string& path, uint8_t model,
                               Prompter& prompter, const FirmwareOptions& options) {
  const FirmwareReading reading = CheckFirmware(device, path, model);
  FirmwareOutcome outcome{StateOf(reading), reading.version, false};
  if (reading.verdict == FirmwareVerdict::Unreadable) {
    prompter.ShowMessageWithReason(reading.openFailed ? kMsgDeviceOpenError : kMsgFirmwareReadError,
                                   reading.reason);
    return outcome;
  }
  if (reading.verdict == FirmwareVerdict::Usable) return outcome;

  // Said before the question: a Yes that cannot be honoured is no question.
  if (!reading.imageWritable) {
    prompter.ShowMessage(kMsgNoFirmwareImage);
    return outcome;
  }
  const unsigned pedalHas = reading.version, weCarry = ModelInfo(model).expectedFirmware;
  const bool downgrade = reading.verdict == FirmwareVerdict::Newer;
  if (downgrade && !options.allowDowngrade) {
    prompter.ShowMessageWithReason(kMsgFirmwareUpdateError, FormatText(kReasonFirmwareNewerFormat,
                                                                       pedalHas, weCarry, weCarry));
    return outcome;
  }
  std::string question =
      std::string(kPedalDoesNotMatch) + kFirmwareQuestionEnd + "\n\n" +
      FormatText(kFirmwareVersionsFormat, PedalName(model, path).c_str(), pedalHas, weCarry);
  if (downgrade) question += kFirmwareDowngradeNote;
  if (options.backup) question += kFirmwareLoopSavedFirst;
  if (!prompter.AskYesNo(question, kAppName)) return outcome;

  // The pedal was closed while the question was open; it is opened again for the update.
  if (!device.Open(path, kGenericRead | kGenericWrite, kFileShareRead | kFileShareWrite)) {
    prompter.ShowMessageWithReason(kMsgDeviceOpenError,
                                   OpenFailureReason(path, device.LastOpenError()));
    device.Close();
    outcome.state = FirmwareState::Unusable;
    return outcome;
  }
  struct Closer {
    CDevice& d;
    ~Closer() { d.Close(); }
  } closer{device};
  std::string reason;
  if (options.backup && !BackupBeforeFirmware(model, options.backupFolder)(device, reason)) {
    // Nothing was written: the pedal keeps the firmware it has.
    prompter.ShowMessageWithReason(kMsgFirmwareUpdateError,
                                   reason.empty() ? kReasonUpdateCancelled : reason);
    return outcome;
  }
  if (!WriteFirmwareImage(device, model, reason)) {
    prompter.ShowMessageWithReason(kMsgFirmwareUpdateError, reason);
    outcome.state = FirmwareState::Unusable;
    return outcome;
  }
  return {FirmwareState::Usable, static_cast<uint16_t>(weCarry), true};
}

}  // namespace rendax
