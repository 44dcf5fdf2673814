// SPDX-License-Identifier: GPL-3.0-or-later
// The messages and questions a front end answers: the window, the command line or a test.
#pragma once

#include <string>

namespace rendax {

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
  // A Yes/No question; true for Yes.
  virtual bool AskYesNo(const std::string& text, const std::string& caption) = 0;
};

}  // namespace rendax
