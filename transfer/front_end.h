// What a running job needs from whoever shows it: the window, the command line or a test.
#pragma once

#include <string>

#include "device/firmware_check.h"

namespace rendax {

class JobFrontEnd : public Prompter {
 public:
  // Moves the progress display to `percent` (0..100). Synchronous: returns after the front end
  // has taken it.
  virtual void ReportProgress(int percent) = 0;
  // Enables (true) or disables (false) the Import button, then the Export button.
  virtual void EnableTransferButtons(bool enable) = 0;
};

}  // namespace rendax
