// SPDX-License-Identifier: GPL-3.0-or-later
// The transfer engine: the job frame, export, import and the worker thread that runs them.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "audio/resample.h"
#include "audio/wav_header.h"
#include "device/device.h"
#include "transfer/decode.h"
#include "transfer/front_end.h"
#include "transfer/import_source.h"
#include "transfer/outcome.h"
#include "transfer/texts.h"

namespace rendax {

enum JobCode : int32_t { JobNone = 0, JobExport = 1, JobImport = 2 };

inline constexpr uint8_t kNoModel = 0xFF;  // no pedal found yet

// What follows the reason when an import stopped after its first write (interrupted or a
// write failed): the pedal's loop is incomplete, and where its earlier loop is. `backupPath` is
// empty when no backup was made; `hadLoop` tells whether there was a loop to lose.
std::string LoopIncompleteAdvice(const std::string& backupPath, bool hadLoop);

// What an import of `path` into a pedal of `model` would write, found before anything is asked
// or written. On refusal `text` is the message (kMsgCantOpenFile, kMsgFormatWrong, kMsgSendError
// for a file too long for the pedal) and `reason` says why. Made once, by the front end that
// asks about the file, and handed to the job with the request.
struct ImportCheck {
  std::string path;  // what was checked: the file, for a pedal of `model`, with `mix` and `both`
  uint8_t model = kNoModel;
  bool mix = false;
  bool both = false;
  bool accepted = false;
  WavFormat wav;  // what the converters take (for a decoded file, its output)
  uint32_t audioOffset = 0;
  uint32_t audioBytes = 0;        // the audio the file really holds (less than the header says when
                                  // the file ends early)
  uint64_t streamBytes = 0;       // page stream bytes the import will write (the loop's length)
  bool native = false;            // 46,875 Hz 24-bit with the model's channels: packed as it is
  bool endsEarly = false;         // shorter than its header says
  std::optional<uint8_t> status;  // a lossless file's stored loop status
  std::optional<uint32_t> recordedLength;  // and its exact stream length
  bool decoded = false;    // read through the decoder, not the file's own samples as they are
  bool converted = false;  // the pedal gets other audio than the file's (rate, width, channels)
  std::string conversion;  // the plan's line: "FLAC, 96,000 Hz, 24-bit, stereo -> 48,000 Hz, ..."
  AudioFileInfo info;      // what the file is
  ConversionPlan plan;
  // The file as opened once: a stream is read from its temporary copy, which lives as long as
  // the check (and every copy of it) does.
  std::shared_ptr<ImportSource> source;
  std::string text, reason;
};
// `mix`, `both`: as JobRequest::mix and JobRequest::both. Returns check.accepted.
bool CheckImportFile(const std::string& path, uint8_t model, ImportCheck& check, bool mix = false,
                     bool both = false);
// The same for a source already open: a stream is checked for one model after another from its
// one copy.
bool CheckImportFile(const std::shared_ptr<ImportSource>& source, uint8_t model, ImportCheck& check,
                     bool mix = false, bool both = false);

// The export path that means standard output (the command line's "export -").
inline constexpr const char* kStandardOutput = "-";

// What one job works on, copied from the shared state when it starts: nothing another thread
// does afterwards can change a running job.
struct JobRequest {
  int32_t code = JobNone;
  std::string pedalPath;
  uint8_t model = kNoModel;
  std::string exportPath;  // UTF-8
  std::string importPath;  // UTF-8
  bool verify = false;     // import: read the loop back and compare it with what was sent
  bool native = false;     // export: the lossless form (46,875 Hz, the stored samples as they are)
  bool backup = true;      // import: save the pedal's loop before replacing it
  // import into a one-channel pedal: sum both channels, (L+R)/2; without it a two-channel file
  // gives its first channel
  bool mix = false;
  // import of a one-channel file into the two-channel pedal: the channel on both sides; without
  // it the file plays on the left only
  bool both = false;
  std::string backupFolder;  // empty: DefaultBackupFolder()
  // Set from another thread or a signal handler: the job stops at the next block boundary.
  const std::atomic<bool>* cancel = nullptr;
  // A Cancel button's stop rather than an interruption: an import cancelled after its first
  // write puts the backup it took back at once (kMsgImportCancelled), and either job says
  // "cancelled" instead of reporting an error.
  bool restoreOnCancel = false;
  // The front end's check of the file to import, when it made one: the job takes it instead of
  // inspecting the file again (as long as it is for this file, model and mix).
  std::optional<ImportCheck> importCheck;
};

// The state that the window thread and the worker share. The window thread stores a path and
// then the job code; the worker takes a snapshot when it picks the job up and clears the code
// only after the job has closed the pedal and reported progress 0.
struct TransferState {
  std::atomic<int32_t> jobCode{JobNone};

  mutable std::mutex mutex;  // guards `request`
  // The next job, but for its code and cancel flag, which are the two atomics here.
  JobRequest request;

  // Asks a running job to stop at the next block boundary (a signal, a Cancel button). Whoever
  // stores a job code clears it first; a request that comes before the job starts still holds.
  std::atomic<bool> cancel{false};

  // A copy of the request, with `code` taken from jobCode and `cancel` pointing here.
  JobRequest Snapshot() const;
};

// The job frame: open the pedal, dispatch, close, say the outcome, report progress 0.
// NotOpened when the pedal is gone (nothing is shown: its removal says it); a pedal that is there
// but cannot be opened fails with the reason (in use, access denied, ...). A job that disabled the
// buttons has them enabled again: an export after its message, an import before it.
JobResult RunJob(const JobRequest& job, CDevice& device, WavFormat& wav, ResampleState& resample,
                 JobFrontEnd& ui);
// Pedal loop -> WAV file at job.exportPath (kStandardOutput: standard output). The device is
// open. The target is replaced only by a complete export; on failure no file of the job remains.
Outcome RunExport(const JobRequest& job, CDevice& device, WavFormat& wav, ResampleState& resample,
                  JobFrontEnd& ui);
// Audio file at job.importPath -> pedal loop (decoded first unless it is a plain WAV). The device
// is open. Success only when every command to the pedal succeeded (and, with job.verify, the
// loop read back matches).
Outcome RunImport(const JobRequest& job, CDevice& device, WavFormat& wav, ResampleState& resample,
                  JobFrontEnd& ui);

// The worker thread: polls the job code every 200 ms and runs one job at a time.
class Worker {
 public:
  Worker(TransferState& state, CDevice& device, WavFormat& wav, ResampleState& resample,
         JobFrontEnd& ui);
  ~Worker();  // Stop()
  Worker(const Worker&) = delete;
  Worker& operator=(const Worker&) = delete;

  void Start();
  // Asks the thread to end once it is idle and joins it. Never interrupts a job; a job code
  // that the thread has not picked up yet is left alone.
  void Stop();
  // True from the moment a job code is stored until that job has fully ended.
  bool Busy() const;
  // How the last finished job ended (Success before any job).
  JobResult LastResult() const { return static_cast<JobResult>(lastResult_.load()); }
  // Number of jobs run so far.
  uint32_t JobsRun() const { return jobsRun_.load(); }

 private:
  void Loop();
  TransferState& state_;
  CDevice& device_;
  WavFormat& wav_;
  ResampleState& resample_;
  JobFrontEnd& ui_;
  std::mutex stopMutex_;
  std::condition_variable stopSignal_;
  bool stop_ = false;  // guarded by stopMutex_
  std::atomic<int> lastResult_{static_cast<int>(JobResult::Success)};
  std::atomic<uint32_t> jobsRun_{0};
  std::thread thread_;
};

}  // namespace rendax
