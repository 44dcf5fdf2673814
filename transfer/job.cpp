// The job frame and the worker thread.
#include "transfer/job.h"

#include <chrono>

#include "device/platform.h"

namespace rendax {

JobRequest TransferState::Snapshot() const {
  JobRequest job;
  job.code = jobCode.load();
  std::lock_guard<std::mutex> lock(mutex);
  job.pedalPath = pedalPath;
  job.model = model;
  job.exportPath = exportPath;
  job.importPath = importPath;
  job.verify = verify;
  job.native = native;
  job.backup = backup;
  job.mix = mix;
  job.both = both;
  job.backupFolder = backupFolder;
  job.backupsKept = backupsKept;
  job.restoreOnCancel = restoreOnCancel;
  job.cancel = &cancel;
  return job;
}

JobResult RunJob(const JobRequest& job, CDevice& device, WavFormat& wav, ResampleState& resample,
                 JobFrontEnd& ui) {
  JobResult result = JobResult::NotOpened;
  if (job.model > 2 || job.pedalPath.empty()) {
    // Without a known model the page layout is unknown: treat it like a pedal that is not there.
  } else if (!device.Open(job.pedalPath, kGenericRead | kGenericWrite,
                          kFileShareRead | kFileShareWrite)) {
    // A pedal that is gone says nothing; one that another program holds would otherwise look
    // like a click that did nothing.
    if (device.LastOpenError() == kPedalInUseError) {
      ui.ShowMessageWithReason(kMsgPedalInUse, job.pedalPath);
      result = JobResult::Failed;
    }
  } else {
    switch (job.code) {
      case JobExport:
        result = RunExport(job, device, wav, resample, ui);
        break;
      case JobImport:
        result = RunImport(job, device, wav, resample, ui);
        break;
      default:
        result = JobResult::Failed;
        break;
    }
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
