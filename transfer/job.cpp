// SPDX-License-Identifier: GPL-3.0-or-later
// The job frame and the worker thread.
#include "transfer/job.h"

#include <chrono>

#include "device/platform.h"

namespace rendax {

JobRequest TransferState::Snapshot() const {
  JobRequest job;
  {
    std::lock_guard<std::mutex> lock(mutex);
    job = request;
  }
  job.code = jobCode.load();
  job.cancel = &cancel;
  return job;
}

namespace {

// The job's front end as the frame sees it: it remembers whether the job disabled the buttons.
class FramedFrontEnd : public JobFrontEnd {
 public:
  explicit FramedFrontEnd(JobFrontEnd& ui) : ui_(ui) {}
  void ReportProgress(int percent) override { ui_.ReportProgress(percent); }
  void EnableTransferButtons(bool enable) override {
    disabled_ = !enable;
    ui_.EnableTransferButtons(enable);
  }
  void ShowMessage(const std::string& text) override { ui_.ShowMessage(text); }
  void ShowMessageWithReason(const std::string& text, const std::string& reason) override {
    ui_.ShowMessageWithReason(text, reason);
  }
  bool AskYesNo(const std::string& text, const std::string& caption) override {
    return ui_.AskYesNo(text, caption);
  }
  void ReportStage(const Progress& report) override { ui_.ReportStage(report); }
  void ShowOutcome(const Outcome& outcome) override { ui_.ShowOutcome(outcome); }
  void ReportLoop(const LoopOutline& outline) override { ui_.ReportLoop(outline); }
  bool Disabled() const { return disabled_; }

 private:
  JobFrontEnd& ui_;
  bool disabled_ = false;
};

// The outcome as the window shows it: the loop first, then one message; the buttons
// come back after an export's message and before an import's.
void SayOutcome(const Outcome& outcome, int32_t code, FramedFrontEnd& ui) {
  const bool enable = ui.Disabled();
  if (enable && code == JobImport) ui.EnableTransferButtons(true);
  if (outcome.loop) ui.ReportLoop(*outcome.loop);
  ui.ShowOutcome(outcome);
  if (enable && code != JobImport) ui.EnableTransferButtons(true);
}

}  // namespace

JobResult RunJob(const JobRequest& job, CDevice& device, WavFormat& wav, ResampleState& resample,
                 JobFrontEnd& ui) {
  JobResult result = JobResult::NotOpened;
  if (job.model > 2 || job.pedalPath.empty()) {
    // Without a known model the page layout is unknown: treat it like a pedal that is not there.
  } else if (!device.Open(job.pedalPath, kGenericRead | kGenericWrite,
                          kFileShareRead | kFileShareWrite)) {
    // A pedal that is gone says nothing (its removal notice does); any other failure would look
    // like a click that did nothing, so it says why: another program holds the pedal, or the
    // system's reason (access denied, ...).
    const int error = device.LastOpenError();
    if (error == kPedalInUseError) {
      ui.ShowOutcome(Failure(kMsgPedalInUse, job.pedalPath));
      result = JobResult::Failed;
    } else if (!PedalGoneError(error)) {
      ui.ShowOutcome(Failure(kMsgDeviceOpenError, DescribeOpenError(job.pedalPath, error)));
      result = JobResult::Failed;
    }
  } else {
    FramedFrontEnd framed(ui);
    Outcome outcome = Failure("", "");
    switch (job.code) {
      case JobExport:
        outcome = RunExport(job, device, wav, resample, framed);
        break;
      case JobImport:
        outcome = RunImport(job, device, wav, resample, framed);
        break;
      default:
        break;
    }
    SayOutcome(outcome, job.code, framed);
    result = outcome.result;
    device.Close();
  }
  ui.ReportProgress(0);
  return result;
}

Worker::Worker(TransferState& state, CDevice& device, WavFormat& wav, ResampleState& resample,
               JobFrontEnd& ui)
    : state_(state), device_(device), wav_(wav), resample_(resample), ui_(ui) {}

Worker::~Worker() {
  Stop();
}

void Worker::Start() {
  if (thread_.joinable()) return;
  {
    std::lock_guard<std::mutex> lock(stopMutex_);
    stop_ = false;
  }
  thread_ = std::thread([this] { Loop(); });
}

void Worker::Stop() {
  {
    std::lock_guard<std::mutex> lock(stopMutex_);
    stop_ = true;
  }
  stopSignal_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool Worker::Busy() const {
  return state_.jobCode.load() != JobNone;
}

void Worker::Loop() {
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(stopMutex_);
      if (stop_) return;
    }
    if (state_.jobCode.load() != JobNone) {
      const JobRequest job = state_.Snapshot();
      const JobResult result = RunJob(job, device_, wav_, resample_, ui_);
      lastResult_.store(static_cast<int>(result));
      jobsRun_.fetch_add(1);
      // Cleared last: until now the window sees the worker as busy.
      state_.jobCode.store(JobNone);
      continue;  // look again at once after a job
    }
    std::unique_lock<std::mutex> lock(stopMutex_);
    stopSignal_.wait_for(lock, std::chrono::milliseconds(200), [this] { return stop_; });
  }
}

}  // namespace rendax
