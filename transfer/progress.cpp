// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/progress.h"

#include <algorithm>

#include "transfer/backup.h"
#include "transfer/texts.h"

namespace rendax {

namespace {

// "12 MB", "1.5 MB": decimal megabytes, as file managers count them.
std::string Megabytes(uint64_t bytes) {
  const double mb = static_cast<double>(bytes) / 1e6;
  return FormatText(mb < 10 ? kMegabytesFormat : kWholeMegabytesFormat, mb);
}

const char* StageWords(JobFrontEnd::Stage stage) {
  switch (stage) {
    case JobFrontEnd::Stage::Backup:
      return kStageBackup;
    case JobFrontEnd::Stage::Export:
      return kStageExport;
    case JobFrontEnd::Stage::Import:
      return kStageImport;
    case JobFrontEnd::Stage::Verify:
      return kStageVerify;
    case JobFrontEnd::Stage::Restore:
      return kStageRestore;
  }
  return kStageWorking;
}

}  // namespace

void JobProgress::Begin(Stage stage, uint64_t total, uint64_t step) {
  stage_ = stage;
  total_ = total;
  step_ = std::max<uint64_t>(1, step);
  if (ui_) ui_->ReportStage(Make(0));
}

ProgressReport JobProgress::Make(uint64_t done) const {
  ProgressReport r;
  r.stage = stage_;
  r.done = std::min(done, total_);
  r.total = total_;
  uint64_t before = 0, weight = 0;
  bool planned = false;
  for (const auto& [stage, bytes] : plan_) {
    if (stage == stage_ && !planned) {
      planned = true;
      weight = bytes;
    } else if (!planned) {
      before += bytes;
    }
    r.passTotal += bytes;
  }
  r.planned = planned;
  if (!planned) return r;
  // Step k of the stage's N steps, as the stage's share of the pass: the bar moves per block.
  const uint64_t steps = std::max<uint64_t>(1, (total_ + step_ - 1) / step_);
  const uint64_t k = r.done >= total_ ? steps : std::min(steps - 1, (r.done + step_ - 1) / step_);
  r.passDone = before + (weight * k) / steps;
  // Exactly k * 100 / N for a pass of one stage, as the bar always moved.
  r.percent = r.passTotal == 0
                  ? 100
                  : static_cast<int>(std::min<uint64_t>(
                        100, (before * steps + weight * k) * 100 / (r.passTotal * steps)));
  return r;
}

void JobProgress::Report(uint64_t done) {
  if (!ui_) return;
  const ProgressReport r = Make(done);
  if (r.planned && r.done > 0) ui_->ReportProgress(r.percent);
  ui_->ReportStage(r);
}

std::string ProgressText(const ProgressReport& report, bool cancelling,
                         std::chrono::steady_clock::duration elapsed) {
  std::string text = cancelling ? kCancelling : StageWords(report.stage);
  if (!report.planned || report.passTotal == 0) return text;
  text += kStatusSeparator;
  text += FormatText(kAmountOfFormat, Megabytes(report.passDone).c_str(),
                     Megabytes(report.passTotal).c_str());
  // The rate of the first second says too little to promise a time.
  if (!cancelling && report.passDone > 0 && report.passDone < report.passTotal &&
      elapsed >= std::chrono::seconds(1)) {
    const double seconds = std::chrono::duration<double>(elapsed).count() *
                           static_cast<double>(report.passTotal - report.passDone) /
                           static_cast<double>(report.passDone);
    text += kStatusSeparator;
    text += FormatText(kTimeLeftFormat,
                       FormatDuration(static_cast<uint64_t>(seconds + 0.999), 1).c_str());
  }
  return text;
}

}  // namespace rendax
