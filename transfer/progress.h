// SPDX-License-Identifier: GPL-3.0-or-later
// The one way a running job tells its progress: a stage and the bytes of it done. The status
// line takes the bytes as they are; the bar's percent is derived here and nowhere else.
#pragma once

#include <cstdint>
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
  // k of N as k * 100 / N, and 100 only at the end.
  void Report(uint64_t done);
  void End() { Report(total_); }

 private:
  JobFrontEnd* ui_;
  std::vector<std::pair<Stage, uint64_t>> plan_;
  Stage stage_ = Stage::Export;
  uint64_t total_ = 0, step_ = 1;
};

}  // namespace rendax
