// The firmware version check and update that runs right after a pedal is found.
#pragma once

#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "device/device.h"

namespace rendax {

// The questions and messages of the check, answered by the window, the command line or a test.
class Prompter {
 public:
  virtual ~Prompter() = default;
  // A modal message box owned by the main window, captioned with the application's name.
  virtual void ShowMessage(const std::string& text) = 0;
  // A message that comes with a reason, e.g. why a file was refused. `text` is the message the
  // window shows; front ends with room for more may add `reason` behind it.
  virtual void ShowMessageWithReason(const std::string& text, const std::string& reason) {
    (void)reason;
    ShowMessage(text);
  }
  // A Yes/No question without owner window; true for Yes.
  virtual bool AskYesNo(const std::string& text, const std::string& caption) = 0;
};

// How an update may go, beyond the user's Yes.
struct FirmwareUpdateOptions {
  // False: a pedal with newer firmware than the program carries is left as it is, unasked.
  bool allowDowngrade = true;
  // Runs with the pedal open after the user said Yes and before the image is written, e.g. to
  // save the pedal's loop first. Returning false cancels the update with `reason`; nothing is
  // written.
  std::function<bool(CDevice& device, std::string& reason)> beforeWrite;
};

// The firmware images carried with the program, one per model.
std::span<const uint8_t> FirmwareImage(uint8_t model);
// True when the images are this project's development images, not the pedal maker's.
bool FirmwareImagesAreDevelopment();

// Opens the pedal at `pedalPath`, reads its version into `firmwareVersion`, and when it differs
// from the model's expected version asks whether to update and writes the model's image.
// Returns 1 when the pedal is usable, 0 when not. The device is closed on every path.
int CheckFirmware(CDevice& device, const std::string& pedalPath, uint8_t model,
                  uint16_t& firmwareVersion, Prompter& prompter,
                  const FirmwareUpdateOptions& options = {});

}  // namespace rendax
