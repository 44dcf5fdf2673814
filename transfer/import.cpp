// Import: an audio file into the pedal's loop, and the optional read-back check.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <functional>
#include <memory>
#include <new>

#include "audio/sample_pages.h"
#include "device/commands.h"
#include "device/discovery.h"
#include "transfer/backup.h"
#include "transfer/file_io.h"
#include "transfer/import_source.h"
#include "transfer/job.h"

namespace rendax {

namespace {

// The lowest sample rate taken from a file.
constexpr uint32_t kLowestRate = 1000;

constexpr uint32_t kReadBufferBytes = 262144;
constexpr uint32_t kOutputBufferBytes = 1048576;
// One file block of 65,536 frames at 44,100 Hz gives fewer than 69,700 pedal frames of at most
// 6 bytes plus filler; the area behind the carry-over that a conversion may touch.
constexpr uint32_t kMaxPackedBytes = 458752;

using Packer = uint32_t (*)(ResampleState&, uint16_t, const uint8_t*, uint32_t, uint8_t*, uint32_t,
                            uint32_t);

// The pedal's own rate: the samples are laid into pages as they are.
template <uint32_t Channels>
uint32_t PackNative(ResampleState&, uint16_t blockAlign, const uint8_t* in, uint32_t inBytes,
                    uint8_t* out, uint32_t, uint32_t startOffset) {
  return InsertFiller(in, inBytes - inBytes % blockAlign, startOffset, Channels, out);
}

Packer PackerFor(uint32_t sampleRate, uint32_t channels) {
  if (sampleRate == kPedalFrameRate) return channels == 2 ? PackNative<2> : PackNative<1>;
  if (channels == 2) return sampleRate == 44100 ? PackStereo44100 : PackStereo48000;
  return sampleRate == 44100 ? PackMono44100 : PackMono48000;
}

// Converts the audio of a source into page stream and hands it on in transfer blocks: full
// 65,536-byte blocks as they fill, then the rest rounded up to whole sample pages (the bytes
// past the stream's end are zero, as are the filler bytes). Stops at the first block the sink
// refuses.
class StreamMaker {
 public:
  // `sink(data, length, streamOffset)` returns false to stop.
  using Sink = std::function<bool(const uint8_t*, uint32_t, uint64_t)>;
  using Progress = std::function<void(int)>;

  enum class Outcome { Done, SinkFailed, ReadFailed, OutOfMemory };

  // Bytes of page stream the source makes, from a run that writes nothing (for a length check).
  static uint64_t Count(AudioSource& source, uint8_t model) {
    ResampleState scratch;
    StreamMaker maker(source, model, scratch);
    const Outcome o =
        maker.Run([](const uint8_t*, uint32_t, uint64_t) { return true; }, [](int) {});
    return o == Outcome::Done ? maker.Total() : 0;
  }

  StreamMaker(AudioSource& source, uint8_t model, ResampleState& resample)
      : source_(source), model_(model), resample_(resample) {}

  Outcome Run(const Sink& sink, const Progress& progress) {
    std::unique_ptr<uint8_t[]> in(new (std::nothrow) uint8_t[kReadBufferBytes]);
    std::unique_ptr<uint8_t[]> out(new (std::nothrow) uint8_t[kOutputBufferBytes]);
    if (!in || !out) return Outcome::OutOfMemory;
    std::memset(out.get(), 0, kOutputBufferBytes);

    const WavFormat& wav = source_.Format();
    const uint32_t channels = ModelInfo(model_).channels;
    const uint32_t pageBytes = PageLayoutFor(channels).pageBytes;
    const uint32_t fileBlock = wav.bitsPerSample == 24 ? 196608 : 131072;
    // A plain file's length is exact: its last block is known when it is read. A decoded one
    // ends when the decoder runs dry, which may be a block later than its header promised.
    const bool exact = source_.ExactLength();
    const uint64_t d = source_.ExpectedBytes();
    const uint64_t full = d / fileBlock;
    const uint64_t rest = d % fileBlock;
    const uint64_t blocks =
        (full == 0 || (full == 1 && rest == 0)) ? 1 : (rest == 0 ? full : full + 1);
    const Packer pack = PackerFor(wav.sampleRate, channels);

    uint32_t carry = 0;
    uint64_t sent = 0;  // stream bytes handed to the sink in full blocks
    total_ = 0;
    for (uint64_t k = 1;; ++k) {
      const uint32_t want =
          exact && k >= blocks ? static_cast<uint32_t>(d - fileBlock * (blocks - 1)) : fileBlock;
      const int64_t got = source_.Read(in.get(), want);
      if (got < 0) return Outcome::ReadFailed;
      // A file that ends before its dataSize ends the stream with what was read.
      const bool last = (exact && k >= blocks) || got < want;
      uint32_t flags = 0;
      if (k == 1) flags |= ChunkFirst;
      if (last) flags |= ChunkLast;
      const uint32_t produced = pack(resample_, wav.blockAlign, in.get(),
                                     static_cast<uint32_t>(got), out.get() + carry, flags, carry);
      total_ += produced;
      const uint32_t waiting = carry + produced;
      const uint32_t blocksReady = waiting / kTransferBlockBytes;
      for (uint32_t s = 0; s < blocksReady; ++s) {
        if (!sink(out.get() + s * kTransferBlockBytes, kTransferBlockBytes, sent)) {
          return Outcome::SinkFailed;
        }
        sent += kTransferBlockBytes;
      }
      carry = waiting % kTransferBlockBytes;
      if (blocksReady > 0) {
        std::memmove(out.get(), out.get() + blocksReady * kTransferBlockBytes, carry);
      }
      // Filler and the tail of the last page go out as zeros, never as an earlier block's bytes.
      std::memset(out.get() + carry, 0, std::min(kMaxPackedBytes, kOutputBufferBytes - carry));
      if (last) break;
      // A decoded file running past its promised length holds the bar short of the end.
      progress(static_cast<int>(std::min<uint64_t>(k * 100 / blocks, exact ? 100 : 99)));
    }
    if (carry > 0) {
      const uint32_t length = (carry + pageBytes - 1) / pageBytes * pageBytes;
      if (!sink(out.get(), length, sent)) return Outcome::SinkFailed;
    }
    return Outcome::Done;
  }

  uint64_t Total() const { return total_; }

 private:
  AudioSource& source_;
  uint8_t model_;
  ResampleState& resample_;
  uint64_t total_ = 0;
};

// The import's audio source for a checked file: its own bytes on the exact path, else decoded.
// The file is read from where the check opened it: a stream's temporary copy.
std::unique_ptr<AudioSource> OpenSource(const ImportCheck& check, std::string& reason) {
  const std::string& path = check.source->Path();
  return check.decoded
             ? OpenDecodedSource(path, check.plan, reason)
             : OpenPlainSource(path, check.wav, check.audioOffset, check.audioBytes, reason);
}

// Reads the loop back and compares its audio with a fresh conversion of the file, block by
// block. Filler bytes are not compared: nothing reads them. Returns "" when equal, else what
// differs.
std::string VerifyLoop(const ImportCheck& check, uint8_t model, uint64_t expectedLength,
                       uint8_t expectedStatus, CDevice& device, ResampleState& resample,
                       JobFrontEnd& ui) {
  ui.ReportStage(JobFrontEnd::Stage::Verify, 0, expectedLength);
  uint8_t record[kLoopInfoBytes] = {};
  if (!SendCommandIn(CdbLoopInfoRead(), device, kLoopInfoBytes, record)) {
    return "the loop info could not be read back";
  }
  const LoopInfo info = DecodeLoopInfo(record);
  if (info.status != expectedStatus || info.length != expectedLength) {
    return "the pedal reports a loop of " + std::to_string(info.length) + " bytes, not " +
           std::to_string(expectedLength);
  }
  std::string reason;
  const std::unique_ptr<AudioSource> source = OpenSource(check, reason);
  if (!source) return "the file could not be read again: " + reason;
  const PageLayout layout = PageLayoutFor(ModelInfo(model).channels);
  std::unique_ptr<uint8_t[]> back(new (std::nothrow) uint8_t[kTransferBlockBytes]);
  if (!back) return "out of memory";
  std::string difference;
  StreamMaker maker(*source, model, resample);
  const auto outcome = maker.Run(
      [&](const uint8_t* data, uint32_t length, uint64_t offset) {
        std::memset(back.get(), 0, length);
        if (!SendCommandIn(CdbLoopDataRead(), device, length, back.get())) {
          difference = "a loop data read failed";
          return false;
        }
        const uint64_t upTo =
            offset >= expectedLength ? 0 : std::min<uint64_t>(length, expectedLength - offset);
        for (uint64_t i = 0; i < upTo; ++i) {
          if ((offset + i) % layout.pageBytes >= layout.audioBytes) continue;  // filler
          if (data[i] != back[i]) {
            difference =
                "the loop differs from the file at stream byte " + std::to_string(offset + i);
            return false;
          }
        }
        ui.ReportStage(JobFrontEnd::Stage::Verify, std::min(offset + length, expectedLength),
                       expectedLength);
        return true;
      },
      [](int) {});
  if (outcome == StreamMaker::Outcome::ReadFailed) return "the file could not be read again";
  if (outcome == StreamMaker::Outcome::OutOfMemory) return "out of memory";
  return difference;
}

}  // namespace

std::string LoopIncompleteAdvice(const std::string& backupPath, bool hadLoop) {
  if (!backupPath.empty()) {
    return "the pedal's loop is incomplete; its earlier loop is saved in " + backupPath +
           " (put it back with \"Restore last backup...\" or 'rendax-cli restore')";
  }
  return hadLoop ? "the pedal's loop is incomplete and no backup of its earlier loop was made"
                 : "the pedal's loop is incomplete";
}

namespace {

// The loop's length travels in 32 bits: a longer stream is refused before anything is written.
// The estimate from `frames` (at the converters' input rate) is off by a frame or two at most,
// so only a file near the limit is run through the converter to count exactly. A lossy file's
// header only promises its length, and one without a length is always counted.
bool CheckLength(const std::string& path, uint8_t model, ImportCheck& check, uint64_t frames,
                 bool lossy, bool known) {
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
      check.reason = FileReason(path, reason);
      return false;
    }
    check.streamBytes = StreamMaker::Count(*source, model);
    if (check.streamBytes == 0) {
      check.text = kMsgFormatWrong;
      check.reason = FileReason(path, kNoAudio);
      return false;
    }
  }
  if (check.streamBytes > kLimit) {
    check.text = kMsgSendError;
    check.reason = FileReason(path, "the file is too long for the pedal (its loop holds at most " +
                                        FormatDuration(FramesInStream(kLimit, channels)) + ")");
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

// The check of a file that goes through the decoder; `why` and the header bytes tell a RIFF
// file cut inside its header.
bool CheckDecodedFile(const std::string& path, uint8_t model, ImportCheck& check, bool mix,
                      bool both, WavRejection why, const uint8_t* header, size_t headerBytes) {
  const uint32_t channels = ModelInfo(model).channels;
  WavFormat& wav = check.wav;
  auto refuse = [&](const std::string& reason) {
    check.text = kMsgFormatWrong;
    check.reason = FileReason(path, reason);
    return false;
  };
  std::string reason;
  if (!InspectAudioFile(check.source->Path(), check.info, reason)) {
    // A RIFF file cut inside its header: the header's own words say it best.
    const bool cutRiff =
        why == WavRejection::TooShort && headerBytes >= 4 && std::memcmp(header, "RIFF", 4) == 0;
    return refuse(cutRiff ? DescribeWavRejection(why) : reason);
  }
  if (check.info.frames && *check.info.frames == 0) return refuse(kNoAudio);
  // Nothing recorded is slower than this; a header that says so is broken, and its audio
  // would be stretched a thousandfold into the pedal.
  if (check.info.rate < kLowestRate) {
    return refuse(kHeaderSays + std::to_string(check.info.rate) + " Hz, which is no audio rate");
  }
  check.plan = PlanConversion(check.info, false, channels, mix, both);
  check.decoded = true;
  check.converted = check.plan.changes;
  if (check.converted) check.conversion = check.plan.description;
  wav = check.plan.format;
  const uint64_t frames = check.info.frames.value_or(0) * wav.sampleRate / check.info.rate;
  // A few samples at a rate far above any recording's come to less than one at the pedal's.
  if (check.info.frames && frames == 0) {
    return refuse("the file holds less than one sample at " + DescribeRate(wav.sampleRate));
  }
  check.audioBytes = static_cast<uint32_t>(
      std::min<uint64_t>(frames * wav.blockAlign, 0xFFFFFFFFu - wav.blockAlign + 1));
  return CheckLength(path, model, check, frames, check.info.bits == 0,
                     check.info.frames.has_value());
}

}  // namespace

bool CheckImportFile(const std::string& path, uint8_t model, ImportCheck& check, bool mix,
                     bool both) {
  check = ImportCheck{};
  // A folder opens for reading on Linux, but it is no file to import. A stream is read once,
  // here; everything after reads from the source's path.
  std::string openReason;
  if (!IsFolder(path)) check.source = ImportSource::Open(path, openReason);
  File file = check.source ? OpenFile(check.source->Path(), "rb") : File();
  if (!file) {
    check.text = kMsgCantOpenFile;
    check.reason = FileReason(path, IsFolder(path)       ? kIsFolder
                                    : openReason.empty() ? SystemReason(errno)
                                                         : openReason);
    return false;
  }
  const std::string& from = check.source->Path();
  auto refuse = [&](const std::string& why) {
    check.text = kMsgFormatWrong;
    check.reason = FileReason(path, why);
    return false;
  };
  uint8_t header[kWavHeaderReadBytes] = {};
  const size_t headerBytes = std::fread(header, 1, sizeof header, file.get());
  WavRejection why = WavRejection::None;
  WavFormat& wav = check.wav;
  const uint32_t channels = ModelInfo(model).channels;
  // The exact path: a plain WAV goes to the converters as it is. One written to a pipe (its data
  // size 0, 0xFFFFFFFF, or sox's 0x7FFFF000), a stereo file to be mixed for a one-channel pedal,
  // a mono file for both sides of the two-channel one, and a file at the pedal's own rate with
  // other channels than the pedal's are decoded; the decoder reads what such a file holds.
  const bool parsed = ParseWavHeader(header, headerBytes, wav, &why, true);
  const bool otherChannels = (wav.sampleRate == kPedalFrameRate && wav.channels != channels) ||
                             (mix && channels == 1 && wav.channels == 2) ||
                             (both && channels == 2 && wav.channels == 1);
  const bool plain = parsed && wav.dataSize != 0 && wav.dataSize != 0xFFFFFFFFu &&
                     wav.dataSize != 0x7FFFF000u && !otherChannels;
  if (!plain) {
    file = File();
    return CheckDecodedFile(path, model, check, mix, both, why, header, headerBytes);
  }

  check.native = wav.sampleRate == kPedalFrameRate;
  // A file cut short is converted only as far as it goes.
  check.audioOffset = AudioOffset(wav);
  check.audioBytes = wav.dataSize;
  const int64_t size = FileSize(file.get());
  if (size >= 0) {
    check.audioBytes = static_cast<uint32_t>(
        std::min<int64_t>(wav.dataSize, std::max<int64_t>(0, size - check.audioOffset)));
  }
  if (check.audioBytes < wav.blockAlign) return refuse(kNoAudio);
  check.endsEarly = check.audioBytes < wav.dataSize;
  if (check.native && !check.endsEarly) {
    if (const auto record = ReadLoopRecord(file.get(), wav)) {
      check.status = record->status;
      check.recordedLength = record->streamLength;
    }
  }
  // libsndfile names the chunks; the header alone tells the rest when it cannot.
  std::string ignored;
  if (!InspectAudioFile(from, check.info, ignored)) check.info = PlainInfo(wav, check.audioBytes);
  check.plan = PlanConversion(check.info, true, channels, mix, both);
  check.converted = check.plan.changes;
  if (check.converted) check.conversion = check.plan.description;
  file = File();
  return CheckLength(path, model, check, check.audioBytes / wav.blockAlign, false, true);
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
// stream in transfer blocks, then the loop record. `stage` is reported per block written and
// `percent` (the bar) per file block read; `cancel` is looked at between blocks only, so the
// write in flight always ends.
Writes WriteLoop(const std::string& path, const ImportCheck& check, AudioSource& source,
                 uint8_t model, const std::atomic<bool>* cancel, JobFrontEnd::Stage stage,
                 const std::function<void(int)>& percent, CDevice& device, ResampleState& resample,
                 JobFrontEnd& ui) {
  Writes w;
  const uint32_t channels = ModelInfo(model).channels;
  const uint64_t expected = check.streamBytes;
  // As long as the check found the loop to be: exact for the pedal's own form, a frame or so
  // off for some conversions, which no drawing shows.
  LoopOutlineBuilder outline(LoopLength(check, expected, channels), channels);
  bool cancelled = false;
  std::string writeReason;
  ui.ReportStage(stage, 0, expected);
  StreamMaker maker(source, model, resample);
  const auto outcome = maker.Run(
      [&](const uint8_t* data, uint32_t length, uint64_t offset) {
        if (cancel && cancel->load()) {
          cancelled = true;
          return false;
        }
        w.wrote = true;
        if (!SendCommandOut(CdbLoopDataWrite(), device, length, data)) {
          writeReason = "a loop data write failed: " + DescribeCommandResult(device.LastResult());
          return false;
        }
        outline.AddStream(data, length, offset);
        ui.ReportStage(stage, std::min(expected, offset + length), expected);
        return true;
      },
      percent);
  switch (outcome) {
    case StreamMaker::Outcome::Done:
      break;
    case StreamMaker::Outcome::SinkFailed:
      if (cancelled) {
        w.end = Writes::End::Cancelled;
      } else {
        w.reason = writeReason;
      }
      return w;
    case StreamMaker::Outcome::ReadFailed:
      w.reason = FileReason(path, source.Reason());
      return w;
    case StreamMaker::Outcome::OutOfMemory:
      w.reason = "out of memory";
      return w;
  }
  const uint64_t total = maker.Total();
  if (total == 0 || total > 0xFFFFFFFFull) {
    w.reason = total > 0xFFFFFFFFull ? "the loop is too long for the pedal"
               : w.wrote             ? "no audio could be read from the file"
                         : "no audio could be read from the file; the pedal's loop is untouched";
    return w;
  }
  // A backup puts back its loop as it was, status included.
  const LoopInfo after{check.native && check.status ? *check.status : uint8_t{0},
                       static_cast<uint32_t>(LoopLength(check, total, channels))};
  ui.ReportProgress(100);
  ui.ReportStage(stage, expected, expected);
  const auto info = EncodeLoopInfo(after);
  if (!SendCommandOut(CdbLoopInfoWrite(), device, kLoopInfoBytes, info.data())) {
    w.reason = "the loop info write failed: " + DescribeCommandResult(device.LastResult());
    return w;
  }
  w.end = Writes::End::Done;
  w.after = after;
  w.outline = outline.Result();
  return w;
}

// Puts the backup at `path` back into the open pedal as a restore does: the lossless file as
// it is, its loop status and exact length included. Nothing stops it: it is what a cancel asked
// for. False, with the reason, when the pedal's loop is still not the earlier one.
bool PutBackupBack(const std::string& path, uint8_t model, CDevice& device, ResampleState& resample,
                   JobFrontEnd& ui, std::string& reason) {
  ImportCheck check;
  if (!CheckImportFile(path, model, check)) {
    reason = "the backup could not be put back: " + check.text +
             (check.reason.empty() ? "" : ": " + check.reason);
    return false;
  }
  std::string why;
  const std::unique_ptr<AudioSource> source = OpenSource(check, why);
  if (!source) {
    reason = "the backup could not be put back: " + FileReason(path, why);
    return false;
  }
  uint8_t record[kLoopInfoBytes] = {};
  // The cancelled writes moved the pedal's stream: back to the start.
  if (!SendCommandIn(CdbLoopInfoRead(), device, kLoopInfoBytes, record)) {
    reason = "the pedal did not answer the loop info request: " +
             DescribeCommandResult(device.LastResult());
    return false;
  }
  const Writes w = WriteLoop(
      path, check, *source, model, nullptr, JobFrontEnd::Stage::Restore,
      [&](int percent) { ui.ReportProgress(percent); }, device, resample, ui);
  if (w.end != Writes::End::Done) {
    reason = "the backup could not be put back: " + w.reason;
    return false;
  }
  ui.ReportLoop(w.outline);
  return true;
}

}  // namespace

JobResult RunImport(const JobRequest& job, CDevice& device, WavFormat& wav, ResampleState& resample,
                    JobFrontEnd& ui) {
  ImportCheck check;
  if (!CheckImportFile(job.importPath, job.model, check, job.mix, job.both)) {
    ui.ShowMessageWithReason(check.text, check.reason);
    return JobResult::Failed;
  }
  wav = check.wav;
  std::string openReason;
  const std::unique_ptr<AudioSource> source = OpenSource(check, openReason);
  if (!source) {
    ui.ShowMessageWithReason(kMsgCantOpenFile, FileReason(job.importPath, openReason));
    return JobResult::Failed;
  }
  const uint32_t audioBytes = check.audioBytes;

  ui.EnableTransferButtons(false);
  auto fail = [&](const char* text, const std::string& reason) {
    ui.EnableTransferButtons(true);
    ui.ShowMessageWithReason(text, reason);
    return JobResult::Failed;
  };
  // A stop on request: the job says what the pedal holds and ends as interrupted.
  auto stopped = [&](const char* text, const std::string& reason) {
    ui.EnableTransferButtons(true);
    if (reason.empty()) {
      ui.ShowMessage(text);
    } else {
      ui.ShowMessageWithReason(text, reason);
    }
    return JobResult::Interrupted;
  };
  auto untouched = [&] {
    return job.restoreOnCancel
               ? stopped(kMsgImportCancelled, "")
               : stopped(kMsgSendError, "interrupted; the pedal's loop is untouched");
  };

  uint8_t record[kLoopInfoBytes] = {};
  if (!SendCommandIn(CdbLoopInfoRead(), device, kLoopInfoBytes, record)) {
    // Nothing has been written yet: the pedal keeps its loop.
    return fail(kMsgSendError, "the pedal did not answer the loop info request: " +
                                   DescribeCommandResult(device.LastResult()));
  }
  const LoopInfo before = DecodeLoopInfo(record);
  const bool hadLoop = before.status != 1 && before.length != 0;

  // The bar runs once over the backup's reads and the import's writes, in stream bytes.
  const uint64_t backupBytes = job.backup && hadLoop ? before.length : 0;
  const uint64_t work = std::max<uint64_t>(1, backupBytes + check.streamBytes);
  auto overall = [&](uint64_t done) {
    ui.ReportProgress(static_cast<int>(std::min<uint64_t>(100, done * 100 / work)));
  };

  std::string backupPath;
  if (backupBytes > 0) {
    LoopOutline saved;
    BackupRequest request;
    request.model = job.model;
    request.folder = job.backupFolder;
    request.kept = job.backupsKept;
    request.cancel = job.cancel;
    request.progress = [&](uint64_t done, uint64_t total) {
      overall(done);
      ui.ReportStage(JobFrontEnd::Stage::Backup, done, total);
    };
    request.outline = &saved;
    ui.ReportStage(JobFrontEnd::Stage::Backup, 0, backupBytes);
    std::string reason;
    switch (MakeBackup(device, request, backupPath, reason)) {
      case BackupOutcome::Made:
        ui.ReportLoop(saved);
        break;
      case BackupOutcome::NoLoop:
        break;
      case BackupOutcome::Failed:
        return fail(kMsgBackupError, reason + "; the pedal's loop is untouched");
      case BackupOutcome::Interrupted:
        return untouched();
    }
    // The backup's reads moved the pedal's stream: back to the start for the writes.
    if (!SendCommandIn(CdbLoopInfoRead(), device, kLoopInfoBytes, record)) {
      return fail(kMsgSendError, "the pedal did not answer the loop info request: " +
                                     DescribeCommandResult(device.LastResult()) +
                                     "; the pedal's loop is untouched");
    }
  }

  const Writes w = WriteLoop(
      job.importPath, check, *source, job.model, job.cancel, JobFrontEnd::Stage::Import,
      [&](int percent) {
        // Without a backup the import alone fills the bar, block by block of the file.
        if (backupBytes == 0) {
          ui.ReportProgress(percent);
        } else {
          overall(backupBytes + check.streamBytes * static_cast<uint64_t>(percent) / 100);
        }
      },
      device, resample, ui);
  // After a write the old loop is gone: say so, and where its backup is.
  auto broken = [&](const std::string& reason) {
    return reason + "; " + LoopIncompleteAdvice(backupPath, hadLoop && job.backup);
  };
  if (w.end == Writes::End::Failed) {
    return fail(kMsgSendError, w.wrote ? broken(w.reason) : w.reason);
  }
  if (w.end == Writes::End::Cancelled) {
    if (!w.wrote) return untouched();
    if (job.restoreOnCancel && !backupPath.empty()) {
      // The Cancel button promises the earlier loop: it goes back before the job ends.
      std::string reason;
      if (!PutBackupBack(backupPath, job.model, device, resample, ui, reason)) {
        return stopped(kMsgSendError, reason + "; " + LoopIncompleteAdvice(backupPath, true));
      }
      return stopped(kMsgImportCancelled, "");
    }
    if (job.restoreOnCancel && !hadLoop) {
      // Nothing to put back but the record saying there is no loop.
      const auto info = EncodeLoopInfo(before);
      if (!SendCommandOut(CdbLoopInfoWrite(), device, kLoopInfoBytes, info.data())) {
        return stopped(kMsgSendError, broken("the loop info write failed: " +
                                             DescribeCommandResult(device.LastResult())));
      }
      return stopped(kMsgImportCancelledNoLoop, "");
    }
    return stopped(kMsgSendError, broken("interrupted"));
  }

  std::string difference;
  if (job.verify) {
    difference = VerifyLoop(check, job.model, w.after.length, w.after.status, device, resample, ui);
  }
  ui.EnableTransferButtons(true);
  if (!difference.empty()) {
    ui.ShowMessageWithReason(kMsgVerifyError, difference);
    return JobResult::Failed;
  }
  ui.ReportLoop(w.outline);
  std::string said;
  if (check.endsEarly) {
    // What was there went in; the guitarist should know the take is shorter than it claims.
    char text[96];
    std::snprintf(text, sizeof text, "the file ends early: %.1f s of %.1f s imported",
                  static_cast<double>(audioBytes) / wav.byteRate,
                  static_cast<double>(wav.dataSize) / wav.byteRate);
    said = text;
  } else if (check.converted) {
    // Said again at the end: what the pedal now holds is a conversion, not the file itself.
    said = check.conversion;
  }
  if (job.verify) said += std::string(said.empty() ? "" : "; ") + kMsgVerified;
  if (said.empty()) {
    ui.ShowMessage(kMsgSendComplete);
  } else {
    ui.ShowMessageWithReason(kMsgSendComplete, said);
  }
  return JobResult::Success;
}

}  // namespace rendax
