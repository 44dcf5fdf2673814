// Import: a WAV file into the pedal's loop, and the optional read-back check.
#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <new>

#include "audio/sample_pages.h"
#include "device/commands.h"
#include "transfer/file_io.h"
#include "transfer/job.h"

namespace rendax {

namespace {

uint32_t ChannelsOfModel(uint8_t model) {
  return model == 1 ? 2 : 1;
}

constexpr uint32_t kReadBufferBytes = 262144;
constexpr uint32_t kOutputBufferBytes = 1048576;
// One file block of 65,536 frames at 44,100 Hz gives fewer than 69,700 pedal frames of at most
// 6 bytes plus filler; the area behind the carry-over that a conversion may touch.
constexpr uint32_t kMaxPackedBytes = 458752;

using Packer = uint32_t (*)(ResampleState&, uint16_t, const uint8_t*, uint32_t, uint8_t*, uint32_t,
                            uint32_t);

Packer PackerFor(uint32_t sampleRate, uint32_t channels) {
  if (channels == 2) return sampleRate == 44100 ? PackStereo44100 : PackStereo48000;
  return sampleRate == 44100 ? PackMono44100 : PackMono48000;
}

// Converts the audio of an open WAV file into page stream and hands it on in transfer blocks:
// full 65,536-byte blocks as they fill, then the rest rounded up to whole sample pages (the
// bytes past the stream's end are zero, as are the filler bytes). Stops at the first block the
// sink refuses.
class StreamMaker {
 public:
  // `sink(data, length, streamOffset)` returns false to stop.
  using Sink = std::function<bool(const uint8_t*, uint32_t, uint64_t)>;
  using Progress = std::function<void(int)>;

  enum class Outcome { Done, SinkFailed, ReadFailed, OutOfMemory };

  StreamMaker(std::FILE* file, const WavFormat& wav, uint32_t audioBytes, uint8_t model,
              ResampleState& resample)
      : file_(file), wav_(wav), audioBytes_(audioBytes), model_(model), resample_(resample) {}

  Outcome Run(const Sink& sink, const Progress& progress) {
    std::unique_ptr<uint8_t[]> in(new (std::nothrow) uint8_t[kReadBufferBytes]);
    std::unique_ptr<uint8_t[]> out(new (std::nothrow) uint8_t[kOutputBufferBytes]);
    if (!in || !out) return Outcome::OutOfMemory;
    std::memset(out.get(), 0, kOutputBufferBytes);

    const uint32_t channels = ChannelsOfModel(model_);
    const uint32_t pageBytes = PageLayoutFor(channels).pageBytes;
    const uint32_t fileBlock = wav_.bitsPerSample == 24 ? 196608 : 131072;
    const uint32_t d = audioBytes_;
    const uint32_t full = d / fileBlock;
    const uint32_t rest = d % fileBlock;
    const uint32_t blocks =
        (full == 0 || (full == 1 && rest == 0)) ? 1 : (rest == 0 ? full : full + 1);
    const Packer pack = PackerFor(wav_.sampleRate, channels);

    uint32_t carry = 0;
    uint64_t sent = 0;  // stream bytes handed to the sink in full blocks
    total_ = 0;
    for (uint32_t k = 1; k <= blocks; ++k) {
      const uint32_t want = k < blocks ? fileBlock : d - fileBlock * (blocks - 1);
      const size_t got = std::fread(in.get(), 1, want, file_);
      if (got < want && std::ferror(file_)) return Outcome::ReadFailed;
      // A file that ends before its dataSize ends the stream with what was read.
      const bool last = k == blocks || got < want;
      uint32_t flags = 0;
      if (k == 1) flags |= ChunkFirst;
      if (last) flags |= ChunkLast;
      const uint32_t produced = pack(resample_, wav_.blockAlign, in.get(),
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
      progress(static_cast<int>(uint64_t{k} * 100 / blocks));
    }
    if (carry > 0) {
      const uint32_t length = (carry + pageBytes - 1) / pageBytes * pageBytes;
      if (!sink(out.get(), length, sent)) return Outcome::SinkFailed;
    }
    return Outcome::Done;
  }

  uint64_t Total() const { return total_; }

 private:
  std::FILE* file_;
  const WavFormat& wav_;
  uint32_t audioBytes_;
  uint8_t model_;
  ResampleState& resample_;
  uint64_t total_ = 0;
};

// Reads the loop back and compares its audio with a fresh conversion of the file, block by
// block. Filler bytes are not compared: nothing reads them. Returns "" when equal, else what
// differs.
std::string VerifyLoop(std::FILE* file, uint32_t audioOffset, const WavFormat& wav,
                       uint32_t audioBytes, uint8_t model, uint64_t expectedLength, CDevice& device,
                       ResampleState& resample) {
  uint8_t record[kLoopInfoBytes] = {};
  if (!SendCommandIn(CdbLoopInfoRead(), device, kLoopInfoBytes, record)) {
    return "the loop info could not be read back";
  }
  const LoopInfo info = DecodeLoopInfo(record);
  if (info.status != 0 || info.length != expectedLength) {
    return "the pedal reports a loop of " + std::to_string(info.length) + " bytes, not " +
           std::to_string(expectedLength);
  }
  if (std::fseek(file, static_cast<long>(audioOffset), SEEK_SET) != 0) {
    return "the file could not be read again";
  }
  const PageLayout layout = PageLayoutFor(ChannelsOfModel(model));
  std::unique_ptr<uint8_t[]> back(new (std::nothrow) uint8_t[kTransferBlockBytes]);
  if (!back) return "out of memory";
  std::string difference;
  StreamMaker maker(file, wav, audioBytes, model, resample);
  const auto outcome = maker.Run(
      [&](const uint8_t* data, uint32_t length, uint64_t offset) {
        std::memset(back.get(), 0, length);
        if (!SendCommandIn(CdbLoopDataRead(), device, length, back.get())) {
          difference = "a loop data read failed";
          return false;
        }
        const uint64_t upTo = std::min<uint64_t>(length, expectedLength - offset);
        for (uint64_t i = 0; i < upTo; ++i) {
          if ((offset + i) % layout.pageBytes >= layout.audioBytes) continue;  // filler
          if (data[i] != back[i]) {
            difference =
                "the loop differs from the file at stream byte " + std::to_string(offset + i);
            return false;
          }
        }
        return true;
      },
      [](int) {});
  if (outcome == StreamMaker::Outcome::ReadFailed) return "the file could not be read again";
  if (outcome == StreamMaker::Outcome::OutOfMemory) return "out of memory";
  return difference;
}

}  // namespace

JobResult RunImport(const JobRequest& job, CDevice& device, WavFormat& wav, ResampleState& resample,
                    JobFrontEnd& ui) {
  // A folder opens for reading on Linux, but it is no file to import.
  File file = IsFolder(job.importPath) ? File() : OpenFile(job.importPath, "rb");
  if (!file) {
    ui.ShowMessage(kMsgCantOpenFile);
    return JobResult::Failed;
  }
  uint8_t header[kWavHeaderReadBytes] = {};
  const size_t headerBytes = std::fread(header, 1, sizeof header, file.get());
  WavRejection why = WavRejection::None;
  if (!ParseWavHeader(header, headerBytes, wav, &why)) {
    ui.ShowMessageWithReason(kMsgFormatWrong, DescribeWavRejection(why));
    return JobResult::Failed;
  }
  // An empty data chunk would erase the pedal's loop for nothing; a file cut short is
  // converted only as far as it goes.
  if (wav.dataSize == 0) {
    ui.ShowMessageWithReason(kMsgFormatWrong, "the data chunk is empty");
    return JobResult::Failed;
  }
  const uint32_t audioOffset = AudioOffset(wav);
  uint32_t audioBytes = wav.dataSize;
  const int64_t size = FileSize(file.get());
  if (size >= 0) {
    audioBytes = static_cast<uint32_t>(
        std::min<int64_t>(audioBytes, std::max<int64_t>(0, size - audioOffset)));
  }
  if (audioBytes < wav.blockAlign) {
    ui.ShowMessageWithReason(kMsgFormatWrong, "the file holds no audio");
    return JobResult::Failed;
  }

  ui.EnableTransferButtons(false);
  auto fail = [&](const char* text, const std::string& reason) {
    ui.EnableTransferButtons(true);
    ui.ShowMessageWithReason(text, reason);
    return JobResult::Failed;
  };

  uint8_t record[kLoopInfoBytes] = {};
  if (!SendCommandIn(CdbLoopInfoRead(), device, kLoopInfoBytes, record)) {
    // Nothing has been written yet: the pedal keeps its loop.
    return fail(kMsgSendError, "the pedal did not answer the loop info request");
  }
  if (std::fseek(file.get(), static_cast<long>(audioOffset), SEEK_SET) != 0) {
    return fail(kMsgSendError, "the file could not be read");
  }

  StreamMaker maker(file.get(), wav, audioBytes, job.model, resample);
  const auto outcome = maker.Run(
      [&](const uint8_t* data, uint32_t length, uint64_t) {
        return SendCommandOut(CdbLoopDataWrite(), device, length, data) != 0;
      },
      [&](int percent) { ui.ReportProgress(percent); });
  switch (outcome) {
    case StreamMaker::Outcome::Done:
      break;
    case StreamMaker::Outcome::SinkFailed:
      return fail(kMsgSendError, "a loop data write failed");
    case StreamMaker::Outcome::ReadFailed:
      return fail(kMsgSendError, "the file could not be read");
    case StreamMaker::Outcome::OutOfMemory:
      return fail(kMsgSendError, "out of memory");
  }
  const uint64_t total = maker.Total();
  if (total == 0 || total > 0xFFFFFFFFull) {
    return fail(kMsgSendError, total == 0 ? "no audio could be read from the file"
                                          : "the loop is too long for the pedal");
  }
  ui.ReportProgress(100);
  const auto info = EncodeLoopInfo(LoopInfo{0, static_cast<uint32_t>(total)});
  if (!SendCommandOut(CdbLoopInfoWrite(), device, kLoopInfoBytes, info.data())) {
    return fail(kMsgSendError, "the loop info write failed");
  }

  std::string difference;
  if (job.verify) {
    difference =
        VerifyLoop(file.get(), audioOffset, wav, audioBytes, job.model, total, device, resample);
  }
  ui.EnableTransferButtons(true);
  if (!difference.empty()) {
    ui.ShowMessageWithReason(kMsgVerifyError, difference);
    return JobResult::Failed;
  }
  ui.ShowMessage(kMsgSendComplete);
  if (job.verify) ui.ShowMessage(kMsgVerifyComplete);
  return JobResult::Success;
}

}  // namespace rendax
