// SPDX-License-Identifier: GPL-3.0-or-later
// The command line's front end for jobs and the firmware check: a progress bar on standard
// error (one line per 10 % when it is not a terminal), messages as lines, questions on stdin.
#pragma once

#include <cstdio>
#include <string>

#include "transfer/front_end.h"

namespace rendax {

class CliFrontEnd : public JobFrontEnd {
 public:
  // `assumeYes` answers every question with Yes. `terminal` chooses the drawn bar.
  CliFrontEnd(std::FILE* out, std::FILE* err, std::FILE* in, bool terminal, bool assumeYes);

  void ReportProgress(int percent) override;
  void EnableTransferButtons(bool enable) override { buttonsEnabled_ = enable; }
  void ShowMessage(const std::string& text) override;
  void ShowMessageWithReason(const std::string& text, const std::string& reason) override;
  bool AskYesNo(const std::string& text, const std::string& caption) override;

  bool ButtonsEnabled() const { return buttonsEnabled_; }
  // Success goes to standard error too: standard output carries an export's audio.
  void SendAllToErrors() { out_ = err_; }

 private:
  void EndBar();
  std::FILE* out_;
  std::FILE* err_;
  std::FILE* in_;
  bool terminal_;
  bool assumeYes_;
  bool barDrawn_ = false;
  int lastTenth_ = 0;
  bool buttonsEnabled_ = true;
};

// True for the texts that tell of success; they go to standard output, the rest to standard
// error.
bool IsSuccessMessage(const std::string& text);

}  // namespace rendax
