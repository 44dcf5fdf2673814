// SPDX-License-Identifier: GPL-3.0-or-later
// Export: the pedal's loop into a WAV file, 48,000 Hz 24-bit, or in the lossless form.
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <memory>
#include <new>
#include <vector>

#include "audio/riff.h"
#include "audio/sample_pages.h"
#include "device/commands.h"
#include "device/discovery.h"
#include "transfer/backup.h"
#include "transfer/file_io.h"
#include "transfer/job.h"
#include "transfer/loop_reader.h"
#include "transfer/texts.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

namespace rendax {

namespace {

// Frames of 48,000 Hz audio the unpackers make of `frames` pedal frames, however the stream is
// cut into blocks: the outputs lie 125/128 of an input frame apart from the first frame on, those
// before the last input frame are all made, and the last frame itself closes the stream when
// the next output would lie less than half a step past it.
uint64_t UnpackedFrames(uint64_t frames) {
  if (frames <= 1) return frames;
  const uint64_t reach = 128 * (frames - 1);
  const uint64_t made = (reach + 124) / 125;
  return made + (125 * made - reach < 64 ? 1 : 0);
}

std::string Megabytes(uint64_t bytes) {
  return FormatText(kMegabytesFormat, static_cast<double>(bytes) / 1e6);
}

// Where an export's bytes go: a file beside the target that replaces it only when complete (an
// earlier file at the export path survives any failure), or standard output.
class ExportTarget {
 public:
  explicit ExportTarget(const std::string& exportPath) : name_(exportPath) {}
  ~ExportTarget() {
    if (!toStdout_ && !temp_.empty()) {
      file_.Close();
      RemoveFile(temp_);
    }
  }

  // Makes the file that takes `bytes` bytes. False with the reason.
  bool Create(uint64_t bytes, std::string& reason) {
    if (name_ == kStandardOutput) {
      toStdout_ = true;
#ifdef _WIN32
      _setmode(_fileno(stdout), _O_BINARY);
#endif
      return true;
    }
    target_ = FollowLinks(name_);
    std::string why = kReasonNoFileName;
    if (target_.empty() || !MayWriteFile(target_, &why)) {
      reason = FileReason(name_, why);
      return false;
    }
    // What an earlier export killed midway left there is no one's: its room is free again.
    RemoveStaleTemps(U8String(U8Path(target_).parent_path()));
    if (const auto free = FreeSpaceFor(target_); free && *free < bytes) {
      reason = FileReason(
          name_, Because(kReasonNoRoom, FormatText(kNeededFreeFormat, Megabytes(bytes).c_str(),
                                                   Megabytes(*free).c_str())));
      return false;
    }
    replacing_ = PathExists(target_);
    file_ = CreateTempBeside(target_, temp_, reason);
    return static_cast<bool>(file_);
  }
  std::FILE* get() const {
    return toStdout_ ? stdout : file_.get();
  }
  // What reasons call it.
  std::string Name() const {
    return toStdout_ ? kStandardOutputName : name_;
  }
  // The system's words for the last failed write, naming the file.
  std::string WriteReason() const {
    return FileReason(Name(), SystemReason(errno));
  }
  // On the disk, then in place of the target. A failure's title and reason otherwise.
  Outcome Finish() {
    if (toStdout_) {
      return std::fflush(stdout) == 0 ? Outcome{} : Failure(kMsgReceiveError, WriteReason());
    }
    // On the disk before the rename, or a power cut could leave the target empty.
    if (!file_.SyncAndClose()) return Failure(kMsgReceiveError, WriteReason());
    std::string why;
    if (!MoveIntoPlace(temp_, target_, &why)) {
      return Failure(kMsgFileCreationError, FileReason(target_, why));
    }
    temp_.clear();
    return Outcome{};
  }
  // What an export stopped early leaves.
  std::string Left() const {
    return replacing_ ? FormatText(kEarlierFileIntactFormat, name_.c_str()) : kNoFileWritten;
  }

 private:
  std::string name_, target_, temp_;
  File file_;
  bool toStdout_ = false, replacing_ = false;
};

// The loop as 48,000 Hz audio behind a header written first: its length is known from the loop
// record before anything is read.
Outcome WriteResampled(const JobRequest& job, CDevice& device, const LoopInfo& info,
                       ExportTarget& target, uint64_t dataBytes, WavFormat& wav,
                       ResampleState& resample, JobProgress& progress,
                       LoopOutlineBuilder& outline) {
  const uint32_t channels = ModelInfo(job.model).channels;
  const WavFormat format = MakeWavFormat(channels, 48000, 24);
  auto writeFailed = [&] { return Failure(kMsgReceiveError, target.WriteReason()); };
  const std::vector<uint8_t> header = BuildExportHeader(format, dataBytes);
  if (std::fwrite(header.data(), 1, header.size(), target.get()) != header.size()) {
    return writeFailed();
  }
  std::unique_ptr<uint8_t[]> out(new (std::nothrow) uint8_t[kMaxUnpackOutputBytes]);
  if (!out) return Failure(kMsgReceiveError, kReasonOutOfMemory);

  LoopReader reader(device, job.model, info.length, job.cancel, &progress);
  uint64_t written = 0;
  for (;;) {
    const LoopReader::Step step = reader.Next();
    if (step == LoopReader::Step::End) break;
    if (step == LoopReader::Step::Cancelled) return Stopped();
    if (step == LoopReader::Step::Failed) return Failure(kMsgReceiveError, reader.Reason());
    outline.AddStream(reader.Data(), reader.Bytes(), reader.Offset());
    const uint32_t produced =
        channels == 2
            ? UnpackStereo(resample, reader.Data(), reader.Bytes(), out.get(), reader.Flags())
            : UnpackMono(resample, reader.Data(), reader.Bytes(), out.get(), reader.Flags());
    if (std::fwrite(out.get(), 1, produced, target.get()) != produced) return writeFailed();
    written += produced;
  }
  wav = format;
  wav.dataSize = static_cast<uint32_t>(written);
  wav.riffSize = static_cast<uint32_t>(written + kWavHeaderBytes - 8);
  // The header went first, with the length the record promised; the unpackers keep to it.
  if (written != dataBytes) {
    return Failure(kMsgReceiveError,
                   Because(kReasonLengthNotAsAnnounced,
                           FormatText(kBytesNotFormat, static_cast<unsigned long long>(written),
                                      static_cast<unsigned long long>(dataBytes))));
  }
  return Outcome{};
}

}  // namespace

Outcome RunExport(const JobRequest& job, CDevice& device, WavFormat& wav, ResampleState& resample,
                  JobFrontEnd& ui) {
  const uint32_t channels = ModelInfo(job.model).channels;
  LoopInfo info;
  std::string reason;
  // Nothing is known about the loop: no file is made.
  if (!ReadLoopInfo(device, info, reason)) return Failure(kMsgReceiveError, reason);
  if (!HoldsLoop(info)) return Failure(kMsgExportNotFound, kReasonNoLoop);

  // The size is known before anything is read: a disk without room for it is said at once.
  const WavFormat format = MakeWavFormat(channels, 48000, 24);
  const uint64_t dataBytes =
      UnpackedFrames(FramesInStream(info.length, channels)) * format.blockAlign;
  const size_t headerBytes = BuildExportHeader(format, dataBytes).size();
  // A plain header counts its sizes in 32 bits: past them only another form can say the length.
  if (!job.native && headerBytes == kWavHeaderBytes && dataBytes > 0xFFFFFFFFull - 36) {
    return Failure(kMsgReceiveError, kReasonTooLongForWav);
  }
  const uint64_t fileBytes =
      job.native ? LosslessFileBytes(info.length, channels) : headerBytes + dataBytes;
  ExportTarget target(job.exportPath);
  if (!target.Create(fileBytes, reason)) return Failure(kMsgFileCreationError, reason);

  ui.EnableTransferButtons(false);
  JobProgress progress(&ui);
  progress.Plan({{JobFrontEnd::Stage::Export, info.length}});
  progress.Begin(JobFrontEnd::Stage::Export, info.length, kTransferBlockBytes);
  LoopOutlineBuilder outline(info.length, channels);
  Outcome outcome;
  if (job.native) {
    const LosslessOutcome lossless =
        WriteLosslessLoop(device, job.model, info, static_cast<int64_t>(std::time(nullptr)),
                          target.get(), target.Name(), job.cancel, &progress, reason, &outline);
    if (lossless == LosslessOutcome::Interrupted) outcome.result = JobResult::Interrupted;
    if (lossless == LosslessOutcome::Failed) outcome = Failure(kMsgReceiveError, reason);
  } else {
    outcome =
        WriteResampled(job, device, info, target, dataBytes, wav, resample, progress, outline);
  }
  if (outcome.result == JobResult::Interrupted) {
    // Between blocks: the temporary file goes, an earlier file at the target stays as it was. A
    // Cancel button's stop is no error.
    return job.restoreOnCancel ? Failure(kMsgExportCancelled, target.Left(), JobResult::Interrupted)
                               : Failure(kMsgReceiveError, Then(kReasonInterrupted, target.Left()),
                                         JobResult::Interrupted);
  }
  if (outcome.result != JobResult::Success) return outcome;
  if (Outcome finished = target.Finish(); finished.result != JobResult::Success) return finished;
  return Outcome{JobResult::Success, kMsgReceiveComplete, "", outline.Result()};
}

}  // namespace rendax
