// The transfer engine: the job frame, export, import and the worker thread that runs them.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "audio/resample.h"
#include "audio/wav_header.h"
#include "device/device.h"
#include "transfer/front_end.h"

namespace rendax {

enum JobCode : int32_t { JobNone = 0, JobExport = 1, JobImport = 2 };

inline constexpr uint8_t kNoModel = 0xFF;  // no pedal found yet

// What one job works on, copied from the shared state when it starts: nothing another thread
// does afterwards can change a running job.
struct JobRequest {
  int32_t code = JobNone;
  std::string pedalPath;
  uint8_t model = kNoModel;
  std::string exportPath;  // UTF-8
  std::string importPath;  // UTF-8
  bool verify = false;     // import: read the loop back and compare it with what was sent
};

// The state that the window thread and the worker share. The window thread stores a path and
// then the job code; the worker takes a snapshot when it picks the job up and clears the code
// only after the job has closed the pedal and reported progress 0.
struct TransferState {
  std::atomic<int32_t> jobCode{JobNone};

  mutable std::mutex mutex;  // guards the fields below
  std::string pedalPath;
  uint8_t model = kNoModel;
  std::string exportPath;
  std::string importPath;
  bool verify = false;

  JobRequest Snapshot() const;
};

// How a job ended, for front ends that report an exit status.
enum class JobResult { Success, Failed, NotOpened };

// The job frame: open the pedal, dispatch, close, report progress 0.
JobResult RunJob(const JobRequest& job, CDevice& device, WavFormat& wav,
                 ResampleState& resample, JobFrontEnd& ui);
// Pedal loop -> WAV file at job.exportPath. The device is open.
JobResult RunExport(const JobRequest& job, CDevice& device, WavFormat& wav,
                    ResampleState& resample, JobFrontEnd& ui);
// WAV file at job.importPath -> pedal loop. The device is open.
JobResult RunImport(const JobRequest& job, CDevice& device, WavFormat& wav,
                    ResampleState& resample, JobFrontEnd& ui);

// The worker thread: polls the job code every 200 ms and runs one job at a time.
class Worker {
 public:
  Worker(TransferState& state, CDevice& device, WavFormat& wav, ResampleState& resample,
         JobFrontEnd& ui);
  ~Worker();  // Stop()
  void Start();
  // Asks the thread to end once it is idle and joins it. Never interrupts a job.
  void Stop();
  // True from the moment a job code is stored until that job has fully ended.
  bool Busy() const;

 private:
  void Loop();
  TransferState& state_;
  CDevice& device_;
  WavFormat& wav_;
  ResampleState& resample_;
  JobFrontEnd& ui_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace rendax
