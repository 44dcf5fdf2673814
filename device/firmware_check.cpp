#include "device/firmware_check.h"

#include "device/commands.h"
#include "device/discovery.h"

namespace rendax {

int CheckFirmware(CDevice& device, const std::string& pedalPath, uint8_t model,
                  uint16_t& firmwareVersion, Prompter& prompter) {
  if (!device.Open(pedalPath, kGenericRead | kGenericWrite, kFileShareRead | kFileShareWrite)) {
    prompter.ShowMessage("Device Open Error");
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
    prompter.ShowMessage("Firmware Read Error");
    return 0;
  }
  firmwareVersion = version;
  if (firmwareVersion == ModelInfo(model).expectedFirmware) return 1;

  // Our own development images would ruin a real pedal; only the simulated one takes them.
  // Saying so before the question spares the user a Yes that cannot be honoured.
  if (FirmwareImagesAreDevelopment() && !device.Channel()->IsSimulated()) {
    prompter.ShowMessage("No firmware image for this pedal");
    return 0;
  }

  if (!prompter.AskYesNo("The rendax pedal does not match the software. Do you want to update?",
                         " ")) {
    return 0;
  }

  const std::span<const uint8_t> image = FirmwareImage(model);
  if (image.size() != kFirmwareImageBytes ||
      !SendCommandOut(CdbWriteFirmware(), device, kFirmwareImageBytes, image.data())) {
    prompter.ShowMessage("Firmware Update Error");
    return 0;
  }
  return 1;
}

}  // namespace rendax
