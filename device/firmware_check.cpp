#include "device/firmware_check.h"

#include "device/commands.h"
#include "device/discovery.h"

namespace rendax {

int CheckFirmware(CDevice& device, const std::string& pedalPath, uint8_t model,
                  uint16_t& firmwareVersion, Prompter& prompter,
                  const FirmwareUpdateOptions& options) {
  if (!device.Open(pedalPath, kGenericRead | kGenericWrite, kFileShareRead | kFileShareWrite)) {
    const int error = device.LastOpenError();
    prompter.ShowMessageWithReason("Device Open Error", error == kPedalInUseError
                                                            ? std::string(kMsgPedalInUse)
                                                            : DescribeOpenError(pedalPath, error));
    device.Close();
    return 0;
  }
  // Closes the pedal on every way out below.
  struct Closer {
    CDevice& d;
    ~Closer() { d.Close(); }
  } closer{device};

  if (model >= kModelCount) return 0;

  uint16_t version = 0;
  if (!ReadFirmwareVersion(device, version)) {
    // A failed read is no version: comparing it could rewrite a sound pedal.
    const PassThroughResult& r = device.LastResult();
    prompter.ShowMessageWithReason(
        "Firmware Read Error",
        r.ok() ? "the pedal sent a short version reply" : DescribeCommandResult(r));
    return 0;
  }
  firmwareVersion = version;
  const uint16_t carried = ModelInfo(model).expectedFirmware;
  if (firmwareVersion == carried) return 1;

  // Our own development images would ruin a real pedal; only the simulated one takes them.
  // Saying so before the question spares the user a Yes that cannot be honoured.
  if (FirmwareImagesAreDevelopment() && !device.Channel()->IsSimulated()) {
    prompter.ShowMessage("No firmware image for this pedal");
    return 0;
  }

  const std::string pedalHas = std::to_string(firmwareVersion);
  const std::string weCarry = std::to_string(carried);
  const bool downgrade = firmwareVersion > carried;
  if (downgrade && !options.allowDowngrade) {
    prompter.ShowMessageWithReason("Firmware Update Error",
                                   "the pedal has firmware " + pedalHas +
                                       ", newer than this program's " + weCarry +
                                       "; use --allow-downgrade to write " + weCarry + " anyway");
    return 0;
  }

  std::string question = "The rendax pedal does not match the software. Do you want to update?";
  question += "\n\nThe pedal has firmware " + pedalHas + "; this program carries " + weCarry + ".";
  if (downgrade) question += " Updating replaces newer firmware with older.";
  if (!prompter.AskYesNo(question, " ")) return 0;

  if (options.beforeWrite) {
    std::string reason;
    if (!options.beforeWrite(device, reason)) {
      prompter.ShowMessageWithReason("Firmware Update Error",
                                     reason.empty() ? "the update was cancelled" : reason);
      return 0;
    }
  }

  const std::span<const uint8_t> image = FirmwareImage(model);
  if (image.size() != kFirmwareImageBytes) {
    prompter.ShowMessageWithReason("Firmware Update Error",
                                   "the firmware image for this pedal is missing or damaged");
    return 0;
  }
  if (!SendCommandOut(CdbWriteFirmware(), device, kFirmwareImageBytes, image.data())) {
    prompter.ShowMessageWithReason("Firmware Update Error",
                                   DescribeCommandResult(device.LastResult()));
    return 0;
  }
  return 1;
}

}  // namespace rendax
