// SPDX-License-Identifier: GPL-3.0-or-later
// Import: an audio file into the pedal's loop, and the optional read-back check.
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

#include "audio/sample_pages.h"
#include "device/commands.h"
#include "device/discovery.h"
#include "transfer/backup.h"
#include "transfer/file_io.h"
#include "transfer/import_source.h"
#include "transfer/job.h"
#include "transfer/loop_reader.h"
#include "transfer/progress.h"
#include "transfer/stream_maker.h"
#include "transfer/texts.h"

namespace rendax {

namespace {

// The lowest sample rate taken from a file.
constexpr uint32_t kLowestRate = 1000;

// The import's audio source for a checked file: its own bytes on the exact path, else decoded.
// The file is read from where the check opened it: a stream's temporary copy.
std::unique_ptr<AudioSource> OpenSource(const ImportCheck& check, std::string& reason) {
  const std::string& path = check.source ? check.source->Path() : check.path;
  return check.decoded
             ? OpenDecodedSource(path, check.plan, reason)
             : OpenPlainSource(path, check.wav, check.audioOffset, check.audioBytes, reason);
}

}  // namespace

std::string LoopIncompleteAdvice(const std::string& backupPath, bool hadLoop) {
  if (!backupPath.empty()) {
    return Then(kReasonLoopIncomplete, std::string(kReasonEarlierLoopSavedIn) + " " + backupPath +
                                           " " + FormatText(kPutBackWithFormat, kRestoreMenuText));
  }
  return hadLoop ? std::string(kReasonLoopIncomplete) + " " + kReasonNoBackupMade
                 : kReasonLoopIncomplete;
}

namespace {

// The loop's length travels in 32 bits: a longer stream is refused before anything is written.
// The estimate from `frames` (at the converters' input rate) is off by a frame or two at most,
// so only a file near the limit is run through the converter to count exactly. A lossy file's
// header only promises its length, and one without a length is always counted.
bool CheckLength(uint8_t model, ImportCheck& check, uint64_t frames, bool lossy, bool known) {
  const uint32_t channels = ModelInfo(model).channels;
  const uint64_t estimate =
      StreamBytesForFrames(frames * kPedalFrameRate / check.wav.sampleRate + 1, channels);
  check.streamBytes = check.native ? StreamBytesForFrames(frames, channels) : estimate;
  constexpr uint64_t kLimit = 0xFFFFFFFFull;
  const uint64_t margin = lossy ? std::max<uint64_t>(1u << 16, estimate / 4 * 3) : 1u << 16;
  if (!check.native && (!known || (estimate + margin > kLimit && estimate < kLimit + margin))) {
    std::string reason;
    const std::unique_ptr<AudioSource> source = OpenSource(check, reason);
    if (!source) {
      check.text = kMsgCantOpenFile;
      check.reason = FileReason(check.path, Because(kReasonFileUnreadable, reason));
      return false;
    }
    check.streamBytes = StreamMaker::Count(*source, model);
    if (check.streamBytes == 0) {
      check.text = kMsgFormatWrong;
      check.reason = FileReason(check.path, source->Reason().empty()
                                                ? kReasonNoAudio
                                                : Because(kReasonNoAudio, source->Reason()));
      return false;
    }
  }
  if (check.streamBytes > kLimit) {
    check.text = kMsgSendError;
    check.reason = FileReason(check.path,
                              FormatText(kReasonTooLongForPedalFormat,
                                         FormatDuration(FramesInStream(kLimit, channels)).c_str()));
    return false;
  }
  return true;
}

// What a plain WAV's header says, in the words of a decoded file's description.
AudioFileInfo PlainInfo(const WavFormat& wav, uint32_t audioBytes) {
  AudioFileInfo info;
  info.container = "WAV";
  info.codec = "PCM " + std::to_string(wav.bitsPerSample) + "-bit";
  info.rate = wav.sampleRate;
  info.bits = wav.bitsPerSample;
  info.channels = wav.channels;
  info.frames = audioBytes / wav.blockAlign;
  return info;
}

bool Refuse(ImportCheck& check, const char* text, const std::string& why) {
  check.text = text;
  check.reason = FileReason(check.path, why);
  return false;
}

// A file for the decoder: libsndfile tells what it holds, the plan says what it becomes.
// `headerWhy` is what the plain header check said of it.
bool CheckDecoded(ImportCheck& check, uint32_t channels, WavRejection headerWhy) {
  std::string reason;
  if (!InspectAudioFile(check.source->Path(), check.info, reason)) {
    // A RIFF file cut inside its header: the header's own words say it best.
    return Refuse(check, kMsgFormatWrong,
                  headerWhy == WavRejection::TooShort ? DescribeWavRejection(headerWhy) : reason);
  }
  if (check.info.frames && *check.info.frames == 0) {
    return Refuse(check, kMsgFormatWrong, kReasonNoAudio);
  }
  // Nothing recorded is slower than this; a header that says so is broken, and its audio would
  // be stretched a thousandfold into the pedal.
  if (check.info.rate < kLowestRate) {
    return Refuse(check, kMsgFormatWrong,
                  kHeaderSays + FormatText(kNoAudioRateFormat, check.info.rate));
  }
  check.plan = PlanConversion(check.info, false, channels, check.mix, check.both);
  check.decoded = true;
  check.converted = check.plan.changes;
  if (check.converted) check.conversion = check.plan.description;
  WavFormat& wav = check.wav;
  wav = check.plan.format;
  const uint64_t frames = check.info.frames.value_or(0) * wav.sampleRate / check.info.rate;
  // A few samples at a rate far above any recording's come to less than one at the pedal's.
  if (check.info.frames && frames == 0) {
    return Refuse(check, kMsgFormatWrong,
                  FormatText(kReasonLessThanOneSampleFormat, DescribeRate(wav.sampleRate).c_str()));
  }
  check.audioBytes = static_cast<uint32_t>(
      std::min<uint64_t>(frames * wav.blockAlign, 0xFFFFFFFFu - wav.blockAlign + 1));
  return CheckLength(check.model, check, frames, check.info.bits == 0,
                     check.info.frames.has_value());
}

// A plain WAV (or the lossless form) whose header was accepted: its audio goes as it is.
bool CheckPlain(ImportCheck& check, File& file, uint32_t channels) {
  const WavFormat& wav = check.wav;
  // The lossless form: its channels are the pedal's own (any other goes through the decoder).
  check.native = wav.sampleRate == kPedalFrameRate;
  // A file cut short is converted only as far as it goes.
  check.audioOffset = AudioOffset(wav);
  check.audioBytes = wav.dataSize;
  if (const int64_t size = FileSize(file.get()); size >= 0) {
    check.audioBytes = static_cast<uint32_t>(
        std::min<int64_t>(wav.dataSize, std::max<int64_t>(0, size - check.audioOffset)));
  }
  if (check.audioBytes < wav.blockAlign) return Refuse(check, kMsgFormatWrong, kReasonNoAudio);
  check.endsEarly = check.audioBytes < wav.dataSize;
  if (check.native && !check.endsEarly) {
    if (const auto record = ReadLoopRecord(file.get(), wav)) {
      check.status = record->status;
      check.recordedLength = record->streamLength;
    }
  }
  file = File();
  // libsndfile names the chunks; the header alone tells the rest when it cannot.
  std::string ignored;
  if (!InspectAudioFile(check.source->Path(), check.info, ignored)) {
    check.info = PlainInfo(wav, check.audioBytes);
  }
  check.plan = PlanConversion(check.info, true, channels, check.mix, check.both);
  check.converted = check.plan.changes;
  if (check.converted) check.conversion = check.plan.description;
  return CheckLength(check.model, check, check.audioBytes / wav.blockAlign, false, true);
}

}  // namespace

bool CheckImportFile(const std::string& path, uint8_t model, ImportCheck& check, bool mix,
                     bool both) {
  // A folder opens for reading on Linux, but it is no file to import. A stream is read once,
  // here; everything after reads from the source's path.
  const bool folder = IsFolder(path);
  std::string reason;
  const std::shared_ptr<ImportSource> source = folder ? nullptr : ImportSource::Open(path, reason);
  if (source) return CheckImportFile(source, model, check, mix, both);
  const int openError = errno;
  check = ImportCheck{};
  check.path = path;
  check.model = model;
  check.mix = mix;
  check.both = both;
  return Refuse(check, kMsgCantOpenFile,
                folder           ? kReasonIsFolder
                : reason.empty() ? SystemReason(openError)
                                 : reason);
}

bool CheckImportFile(const std::shared_ptr<ImportSource>& source, uint8_t model, ImportCheck& check,
                     bool mix, bool both) {
  check = ImportCheck{};
  check.path = source->Name();
  check.model = model;
  check.mix = mix;
  check.both = both;
  check.source = source;
  File file = OpenFile(source->Path(), "rb");
  if (!file) return Refuse(check, kMsgCantOpenFile, SystemReason(errno));
  uint8_t header[kWavHeaderReadBytes] = {};
  const size_t headerBytes = std::fread(header, 1, sizeof header, file.get());
  WavRejection why = WavRejection::None;
  const WavFormat& wav = check.wav;
  const uint32_t channels = ModelInfo(model).channels;
  // The exact path: a plain WAV goes to the converters as it is. One written to a pipe (its data
  // size 0, 0xFFFFFFFF, or sox's 0x7FFFF000), a stereo file to be mixed for a one-channel pedal,
  // a mono file for both sides of the two-channel one, and a file at the pedal's own rate with
  // other channels than the pedal's are decoded; the decoder reads what such a file holds.
  const bool parsed = ParseWavHeader(header, headerBytes, check.wav, &why, true);
  const bool otherChannels = (wav.sampleRate == kPedalFrameRate && wav.channels != channels) ||
                             (mix && channels == 1 && wav.channels == 2) ||
                             (both && channels == 2 && wav.channels == 1);
  const bool plain = parsed && wav.dataSize != 0 && wav.dataSize != 0xFFFFFFFFu &&
                     wav.dataSize != 0x7FFFF000u && !otherChannels;
  const bool cutRiff =
      why == WavRejection::TooShort && headerBytes >= 4 && std::memcmp(header, "RIFF", 4) == 0;
  if (plain) {
    check.accepted = CheckPlain(check, file, channels);
  } else {
    file = File();  // the decoder opens it itself
    check.accepted = CheckDecoded(check, channels, cutRiff ? why : WavRejection::None);
  }
  return check.accepted;
}

namespace {

// The loop record's length for `total` stream bytes packed from a checked file: a backup's
// exact length (a loop may end inside a frame or before a page's filler, which whole frames
// cannot say), else the stream's.
uint64_t LoopLength(const ImportCheck& check, uint64_t total, uint32_t channels) {
  if (check.native && check.status) {
    const uint32_t frameBytes = PageLayoutFor(channels).frameBytes;
    const uint32_t recorded = *check.recordedLength;
    if (recorded <= total && total - recorded < 2 * frameBytes) return recorded;
  }
  return total;
}

// How the writes of one loop into the pedal ended.
struct Writes {
  enum class End { Done, Cancelled, Failed } end = End::Failed;
  bool wrote = false;   // a block went to the pedal: its earlier audio is partly overwritten
  std::string reason;   // Failed: why
  LoopInfo after;       // Done: the loop record written
  LoopOutline outline;  // Done: what the pedal now holds
};

// Writes a checked file's loop into the open pedal, from the start of its stream: the page
// stream in transfer blocks, then the loop record. `progress` has its plan; the stage is begun
// here. `cancel` is looked at between blocks only, so the write in flight always ends.
Writes WriteLoop(const ImportCheck& check, AudioSource& source, const std::atomic<bool>* cancel,
                 JobFrontEnd::Stage stage, JobProgress& progress, CDevice& device,
                 ResampleState& resample) {
  Writes w;
  const uint32_t channels = ModelInfo(check.model).channels;
  // As long as the check found the loop to be: exact for the pedal's own form, a frame or so
  // off for some conversions, which no drawing shows.
  LoopOutlineBuilder outline(LoopLength(check, check.streamBytes, channels), channels);
  bool cancelled = false;
  const uint64_t sourceBytes = source.ExpectedBytes();
  progress.Begin(stage, sourceBytes, StreamMaker::FileBlock(source.Format()));
  StreamMaker maker(source, check.model, resample);
  const auto outcome = maker.Run(
      [&](const uint8_t* data, uint32_t length, uint64_t offset) {
        if (cancel && cancel->load()) {
          cancelled = true;
          return false;
        }
        w.wrote = true;
        if (!SendCommandOut(CdbLoopDataWrite(), device, length, data)) {
          w.reason =
              Because(kReasonLoopDataWriteFailed, DescribeCommandResult(device.LastResult()));
          return false;
        }
        outline.AddStream(data, length, offset);
        return true;
      },
      // A decoded file running past its promised length holds the bar short of the end.
      [&](uint64_t consumed) { progress.Report(std::min(consumed, sourceBytes - 1)); });
  switch (outcome) {
    case StreamMaker::Outcome::Done:
      break;
    case StreamMaker::Outcome::SinkFailed:
      if (cancelled) w.end = Writes::End::Cancelled;
      return w;
    case StreamMaker::Outcome::ReadFailed:
      w.reason = FileReason(check.path, Because(kReasonFileUnreadable, source.Reason()));
      return w;
    case StreamMaker::Outcome::OutOfMemory:
      w.reason = kReasonOutOfMemory;
      return w;
  }
  const uint64_t total = maker.Total();
  if (total == 0 || total > 0xFFFFFFFFull) {
    w.reason =
        total > 0xFFFFFFFFull
            ? kReasonLoopTooLongForPedal
            : FileReason(check.path, Then(kReasonNoAudioRead, w.wrote ? "" : kReasonLoopUntouched));
    return w;
  }
  // A backup puts back its loop as it was, status included.
  const LoopInfo after{check.native && check.status ? *check.status : uint8_t{0},
                       static_cast<uint32_t>(LoopLength(check, total, channels))};
  progress.End();
  const auto info = EncodeLoopInfo(after);
  if (!SendCommandOut(CdbLoopInfoWrite(), device, kLoopInfoBytes, info.data())) {
    w.reason = Because(kReasonLoopInfoWriteFailed, DescribeCommandResult(device.LastResult()));
    return w;
  }
  w.end = Writes::End::Done;
  w.after = after;
  w.outline = outline.Result();
  return w;
}

// Reads the loop back and compares its audio with a fresh conversion of the file, block by
// block. Filler bytes are not compared: nothing reads them. Returns "" when equal, else what
// differs.
std::string VerifyLoop(const ImportCheck& check, const LoopInfo& written, CDevice& device,
                       ResampleState& resample, JobProgress& progress) {
  progress.Begin(JobFrontEnd::Stage::Verify, written.length, kTransferBlockBytes);
  LoopInfo info;
  std::string reason;
  if (!ReadLoopInfo(device, info, reason)) return reason;
  if (info.status != written.status || info.length != written.length) {
    return FormatText(kReasonLoopLengthFormat, info.length, written.length);
  }
  const std::unique_ptr<AudioSource> source = OpenSource(check, reason);
  if (!source) return FileReason(check.path, Because(kReasonFileUnreadable, reason));
  const PageLayout layout = PageLayoutFor(ModelInfo(check.model).channels);
  LoopReader reader(device, check.model, written.length, nullptr, &progress);
  std::string difference;
  StreamMaker maker(*source, check.model, resample);
  const auto outcome = maker.Run(
      [&](const uint8_t* data, uint32_t length, uint64_t offset) {
        if (offset >= written.length) return true;  // past the loop: filler of its last page
        if (reader.Next() != LoopReader::Step::Block) {
          difference = reader.Reason();
          return false;
        }
        const uint64_t upTo = std::min<uint64_t>(length, reader.Bytes());
        for (uint64_t i = 0; i < upTo; ++i) {
          if ((offset + i) % layout.pageBytes >= layout.audioBytes) continue;  // filler
          if (data[i] != reader.Data()[i]) {
            difference =
                FormatText(kReasonDiffersAtFormat, static_cast<unsigned long long>(offset + i));
            return false;
          }
        }
        return true;
      },
      [](uint64_t) {});
  if (outcome == StreamMaker::Outcome::ReadFailed) {
    return FileReason(check.path, Because(kReasonFileUnreadable, source->Reason()));
  }
  if (outcome == StreamMaker::Outcome::OutOfMemory) return kReasonOutOfMemory;
  if (difference.empty()) reader.Next();  // the last block read counts as done
  return difference;
}

// One import, step by step: check, back up, write, put the backup back when cancelled, verify,
// report. Each step returns the job's outcome when the job ends there.
class ImportJob {
 public:
  ImportJob(const JobRequest& job, CDevice& device, ResampleState& resample, JobFrontEnd& ui)
      : job_(job), device_(device), resample_(resample), ui_(ui), progress_(&ui) {}

  Outcome Run(WavFormat& wav) {
    if (auto refused = Check()) return *refused;
    wav = check_.wav;
    ui_.EnableTransferButtons(false);
    if (!ReadLoopInfo(device_, before_, reason_)) return Failure(kMsgSendError, reason_);
    hadLoop_ = HoldsLoop(before_);
    if (auto stopped = BackUp()) return *stopped;
    const Writes w = WriteLoop(check_, *source_, job_.cancel, JobFrontEnd::Stage::Import, progress_,
                               device_, resample_);
    if (w.end == Writes::End::Failed) {
      return Failure(kMsgSendError, w.wrote ? Broken(w.reason) : w.reason);
    }
    if (w.end == Writes::End::Cancelled) return w.wrote ? Cancelled() : Untouched();
    if (job_.verify) {
      const std::string difference = VerifyLoop(check_, w.after, device_, resample_, progress_);
      if (!difference.empty()) return Failure(kMsgVerifyError, difference);
    }
    return Report(w);
  }

 private:
  // The front end's check when it is for this job, else one made now; then the source.
  std::optional<Outcome> Check() {
    const auto& given = job_.importCheck;
    if (given && given->path == job_.importPath && given->model == job_.model &&
        given->mix == job_.mix && given->both == job_.both) {
      check_ = *given;
    } else {
      CheckImportFile(job_.importPath, job_.model, check_, job_.mix, job_.both);
    }
    if (!check_.accepted) return Failure(check_.text, check_.reason);
    source_ = OpenSource(check_, reason_);
    if (!source_) return Failure(kMsgCantOpenFile, FileReason(job_.importPath, reason_));
    return std::nullopt;
  }

  // The pedal's loop into a backup before anything replaces it; the bar runs once over the
  // backup's reads, the import's writes and the verify's reads.
  std::optional<Outcome> BackUp() {
    const uint64_t backupBytes = job_.backup && hadLoop_ ? before_.length : 0;
    // Reading back moves as many bytes as writing: verify has its share of the bar.
    progress_.Plan({{JobFrontEnd::Stage::Backup, backupBytes},
                    {JobFrontEnd::Stage::Import, check_.streamBytes},
                    {JobFrontEnd::Stage::Verify, job_.verify ? check_.streamBytes : 0}});
    if (backupBytes == 0) return std::nullopt;
    LoopOutline saved;
    BackupRequest request;
    request.model = job_.model;
    request.folder = job_.backupFolder;
    request.cancel = job_.cancel;
    request.progress = &progress_;
    request.outline = &saved;
    request.spare = check_.source ? check_.source->Path() : check_.path;
    progress_.Begin(JobFrontEnd::Stage::Backup, backupBytes, kTransferBlockBytes);
    switch (MakeBackup(device_, request, backupPath_, reason_)) {
      case BackupOutcome::Made:
        holds_ = saved;
        break;
      case BackupOutcome::NoLoop:
        break;
      case BackupOutcome::Failed:
        return Failure(kMsgBackupError, Then(reason_, kReasonLoopUntouched));
      case BackupOutcome::Interrupted:
        return Untouched();
    }
    // The backup's reads moved the pedal's stream: back to the start for the writes.
    if (!ReadLoopInfo(device_, before_, reason_)) {
      return Failure(kMsgSendError, Then(reason_, kReasonLoopUntouched));
    }
    return std::nullopt;
  }

  // Stopped on request before the first write.
  Outcome Untouched() {
    Outcome o = job_.restoreOnCancel
                    ? Failure(kMsgImportCancelled, "", JobResult::Interrupted)
                    : Failure(kMsgSendError, Then(kReasonInterrupted, kReasonLoopUntouched),
                              JobResult::Interrupted);
    o.loop = holds_;
    return o;
  }

  // After a write the old loop is gone: say so, and where its backup is.
  std::string Broken(const std::string& reason) const {
    return Then(reason, LoopIncompleteAdvice(backupPath_, hadLoop_ && job_.backup));
  }

  // Stopped on request after a write. The Cancel button promises the earlier loop: it goes back
  // before the job ends.
  Outcome Cancelled() {
    const auto stopped = [](const char* title, const std::string& reason) {
      return Failure(title, reason, JobResult::Interrupted);
    };
    if (job_.restoreOnCancel && !backupPath_.empty()) {
      LoopOutline restored;
      if (!PutBackupBack(restored)) {
        return stopped(kMsgSendError, Then(Because(kReasonBackupNotPutBack, reason_),
                                           LoopIncompleteAdvice(backupPath_, true)));
      }
      Outcome o = stopped(kMsgImportCancelled, "");
      o.loop = restored;
      return o;
    }
    if (job_.restoreOnCancel && !hadLoop_) {
      // Nothing to put back but the record saying there is no loop.
      const auto info = EncodeLoopInfo(before_);
      if (!SendCommandOut(CdbLoopInfoWrite(), device_, kLoopInfoBytes, info.data())) {
        return stopped(kMsgSendError, Broken(Because(kReasonLoopInfoWriteFailed,
                                                     DescribeCommandResult(device_.LastResult()))));
      }
      return stopped(kMsgImportCancelledNoLoop, "");
    }
    return stopped(kMsgSendError, Broken(kReasonInterrupted));
  }

  // Puts the backup back as a restore does: the lossless file as it is, its loop status and
  // exact length included. Nothing stops it: it is what a cancel asked for. False, with the
  // reason, when the pedal's loop is still not the earlier one.
  bool PutBackupBack(LoopOutline& restored) {
    ImportCheck check;
    if (!CheckImportFile(backupPath_, job_.model, check)) {
      reason_ = Because(check.text, check.reason);
      return false;
    }
    const std::unique_ptr<AudioSource> source = OpenSource(check, reason_);
    if (!source) {
      reason_ = FileReason(backupPath_, reason_);
      return false;
    }
    // The cancelled writes moved the pedal's stream: back to the start.
    LoopInfo ignored;
    if (!ReadLoopInfo(device_, ignored, reason_)) return false;
    JobProgress again(&ui_);
    again.Plan({{JobFrontEnd::Stage::Restore, check.streamBytes}});
    const Writes w =
        WriteLoop(check, *source, nullptr, JobFrontEnd::Stage::Restore, again, device_, resample_);
    if (w.end != Writes::End::Done) {
      reason_ = w.reason;
      return false;
    }
    restored = w.outline;
    return true;
  }

  // Send Complete, with what the user should know of what went in.
  Outcome Report(const Writes& w) const {
    std::string said;
    const WavFormat& wav = check_.wav;
    if (check_.endsEarly) {
      // What was there went in; the guitarist should know the take is shorter than it claims.
      said = FormatText(kEndsEarlyFormat, static_cast<double>(check_.audioBytes) / wav.byteRate,
                        static_cast<double>(wav.dataSize) / wav.byteRate);
    } else if (check_.converted) {
      // Said again at the end: what the pedal now holds is a conversion, not the file itself.
      said = check_.conversion;
    }
    if (job_.verify) said = Then(said, kMsgVerified);
    return Outcome{JobResult::Success, kMsgSendComplete, said, w.outline};
  }

  const JobRequest& job_;
  CDevice& device_;
  ResampleState& resample_;
  JobFrontEnd& ui_;
  JobProgress progress_;
  ImportCheck check_;
  std::unique_ptr<AudioSource> source_;
  LoopInfo before_;
  bool hadLoop_ = false;
  std::string backupPath_;
  std::optional<LoopOutline> holds_;  // what the pedal holds while it is still untouched
  std::string reason_;
};

}  // namespace

Outcome RunImport(const JobRequest& job, CDevice& device, WavFormat& wav, ResampleState& resample,
                  JobFrontEnd& ui) {
  return ImportJob(job, device, resample, ui).Run(wav);
}

}  // namespace rendax
