// SPDX-License-Identifier: GPL-3.0-or-later
// The one way a running job tells its progress, and the one way it is shown: a pass of stages,
// each weighted by the pedal's bytes it moves. The bar's percent and the status line's amounts
// are both taken from the pass's bytes here, so they always agree.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "transfer/front_end.h"

namespace rendax {

class JobProgress {
 public:
  using Stage = JobFrontEnd::Stage;

  // `ui` null: nobody watches (a firmware update's backup).
  explicit JobProgress(JobFrontEnd* ui) : ui_(ui) {}

  // The stages that fill the bar in one pass, in their order, each weighted by the pedal's
  // bytes it moves. A stage not named here leaves the bar where it is.
  void Plan(std::vector<std::pair<Stage, uint64_t>> stages) { plan_ = std::move(stages); }
  // A stage begins: `total` bytes, the bar moving one step per `step` bytes (a transfer block
  // of the pedal's stream, a file block of the source). Reports done 0.
  void Begin(Stage stage, uint64_t total, uint64_t step);
  // `done` bytes of the stage so far; the stage's end is `done` == total. The bar shows step
  // k of N of the stage as its share of the pass, and 100 only at the pass's end.
  void Report(uint64_t done);
  void End() { Report(total_); }

 private:
  ProgressReport Make(uint64_t done) const;

  JobFrontEnd* ui_;
  std::vector<std::pair<Stage, uint64_t>> plan_;
  Stage stage_ = Stage::Export;
  uint64_t total_ = 0, step_ = 1;
};

// The status line of a job from its last report: the stage's words, then the pass's bytes as
// the bar counts them ("Importing · 189 MB of 507 MB · 0:22 left"). `elapsed` is the time since
// the pass began; the time left is said from the second second on, and never while cancelling
// (what is left then is no longer the job's).
std::string ProgressText(const ProgressReport& report, bool cancelling,
                         std::chrono::steady_clock::duration elapsed);

}  // namespace rendax
