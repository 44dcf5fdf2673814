// SPDX-License-Identifier: GPL-3.0-or-later
// What a running job needs from whoever shows it: the window, the command line or a test.
#pragma once

#include <cstdint>
#include <string>

#include "audio/loop_outline.h"
#include "transfer/outcome.h"
#include "transfer/prompter.h"

namespace rendax {

class JobFrontEnd : public Prompter {
 public:
  // Moves the progress display to `percent` (0..100). Synchronous: returns after the front end
  // has taken it.
  virtual void ReportProgress(int percent) = 0;
  // Enables (true) or disables (false) the Import button, then the Export button.
  virtual void EnableTransferButtons(bool enable) = 0;

  // What a job is doing, for a front end that says more than the bar. Synchronous, like
  // ReportProgress; called right after it. Jobs report through JobProgress (transfer/progress.h),
  // which derives the bar's percent and these amounts from the same pass.
  enum class Stage {
    Backup,  // reading the pedal's loop into a backup before it is replaced
    Export,  // reading the pedal's loop into the file
    Import,  // writing the file's loop into the pedal
    Verify,  // reading the written loop back and comparing it
    Restore  // putting the backup back after an import was cancelled
  };
  // Where a pass of stages stands: the stage's own bytes (of the pedal's stream; an import's and
  // a restore's count the file's audio), each stage from 0 to its total, and the pass's bytes,
  // weighted as the bar counts them. A restore after a cancel is a pass of its own.
  struct Progress {
    Stage stage = Stage::Export;
    uint64_t done = 0, total = 0;
    bool planned = false;  // the stage fills the bar; false: the bar stays where it is
    uint64_t passDone = 0, passTotal = 0;
    int percent = 0;  // the bar: passDone of passTotal, exactly per block
  };
  virtual void ReportStage(const Progress& /*report*/) {}
  // The loop a job has just read or written in full (an export, a backup, a finished import):
  // what the pedal now holds, for drawing. Synchronous.
  virtual void ReportLoop(const LoopOutline& /*outline*/) {}

  // How a job ended: its title, and its reason behind it when there is one. Nothing for an
  // outcome without a title. A window overrides it to pick the box's icon from the result.
  virtual void ShowOutcome(const Outcome& outcome) {
    if (outcome.title.empty()) return;
    if (outcome.reason.empty()) {
      ShowMessage(outcome.title);
    } else {
      ShowMessageWithReason(outcome.title, outcome.reason);
    }
  }
};

using ProgressReport = JobFrontEnd::Progress;

}  // namespace rendax
