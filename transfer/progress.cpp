// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/progress.h"

#include <algorithm>

namespace rendax {

void JobProgress::Begin(Stage stage, uint64_t total, uint64_t step) {
  stage_ = stage;
  total_ = total;
  step_ = std::max<uint64_t>(1, step);
  if (ui_) ui_->ReportStage(stage_, 0, total_);
}

void JobProgress::Report(uint64_t done) {
  if (!ui_) return;
  done = std::min(done, total_);
  uint64_t before = 0, weight = 0, all = 0;
  bool planned = false;
  for (const auto& [stage, bytes] : plan_) {
    if (stage == stage_) {
      planned = true;
      weight = bytes;
    } else if (!planned) {
      before += bytes;
    }
    all += bytes;
  }
  if (planned && done > 0) {
    const uint64_t steps = std::max<uint64_t>(1, (total_ + step_ - 1) / step_);
    const uint64_t k = done >= total_ ? steps : std::min(steps - 1, (done + step_ - 1) / step_);
    const uint64_t percent = all == 0 ? 100 : (before * steps + weight * k) * 100 / (all * steps);
    ui_->ReportProgress(static_cast<int>(std::min<uint64_t>(100, percent)));
  }
  ui_->ReportStage(stage_, done, total_);
}

}  // namespace rendax
