// Export: the pedal's loop into a WAV file, 48,000 Hz 24-bit.
#include <cstring>
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

// The unpacker's reading rule may look up to frame size - 1 bytes past the recording's end.
constexpr uint32_t kBlockSlack = 8;

}  // namespace

JobResult RunExport(const JobRequest& job, CDevice& device, WavFormat& wav, ResampleState& resample,
                    JobFrontEnd& ui) {
  const uint32_t channels = ChannelsOfModel(job.model);

  uint8_t record[kLoopInfoBytes] = {};
  if (!SendCommandIn(CdbLoopInfoRead(), device, kLoopInfoBytes, record)) {
    // Nothing is known about the loop; no file is made.
    ui.ShowMessageWithReason(kMsgReceiveError, "the pedal did not answer the loop info request");
    return JobResult::Failed;
  }
  const LoopInfo info = DecodeLoopInfo(record);
  if (info.status == 1 || info.length == 0) {
    ui.ShowMessage(kMsgExportNotFound);
    return JobResult::Failed;
  }

  // The audio goes to a file beside the target, which replaces the target only when complete:
  // an earlier file at the export path survives any failure.
  const std::string target = FollowLinks(job.exportPath);
  std::string tempPath;
  File file;
  if (!target.empty() && !IsFolder(target) && MayWriteFile(target)) {
    file = CreateTempBeside(target, tempPath);
  }
  if (!file) {
    ui.ShowMessage(kMsgFileCreationError);
    return JobResult::Failed;
  }

  ui.EnableTransferButtons(false);
  auto fail = [&](const char* text, const std::string& reason) {
    file.Close();
    RemoveFile(tempPath);
    ui.ShowMessageWithReason(text, reason);
    ui.EnableTransferButtons(true);
    return JobResult::Failed;
  };

  uint8_t placeholder[kWavHeaderBytes] = {};
  if (std::fwrite(placeholder, 1, sizeof placeholder, file.get()) != sizeof placeholder) {
    return fail(kMsgReceiveError, "the file could not be written");
  }
  wav.dataSize = 0;

  std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[kTransferBlockBytes + kBlockSlack]);
  std::unique_ptr<uint8_t[]> out(new (std::nothrow) uint8_t[kMaxUnpackOutputBytes]);
  if (!block || !out) return fail(kMsgReceiveError, "out of memory");

  const uint32_t length = info.length;
  const uint32_t fullBlocks = length / kTransferBlockBytes;
  const uint32_t rest = length % kTransferBlockBytes;
  const uint32_t reads =
      length <= kTransferBlockBytes ? 1 : (rest == 0 ? fullBlocks : fullBlocks + 1);
  uint64_t dataSize = 0;

  for (uint32_t k = 1; k <= reads; ++k) {
    uint32_t request = kTransferBlockBytes;
    if (k == reads && reads > 1 && rest > 0) request = RoundUpToPages(rest, channels);
    // Never convert what an earlier block or a short answer left behind.
    std::memset(block.get(), 0, kTransferBlockBytes + kBlockSlack);
    if (!SendCommandIn(CdbLoopDataRead(), device, request, block.get())) {
      return fail(kMsgReceiveError, "a loop data read failed");
    }
    const uint32_t inBytes =
        k < reads ? kTransferBlockBytes : length - kTransferBlockBytes * (reads - 1);
    const uint32_t residual = device.LastResult().residual;
    if (residual > request || request - residual < inBytes) {
      return fail(kMsgReceiveError, "the pedal sent less audio than its loop info announced");
    }
    uint32_t flags = 0;
    if (k == 1) flags |= ChunkFirst;
    if (k == reads) flags |= ChunkLast;
    const uint32_t produced = channels == 2
                                  ? UnpackStereo(resample, block.get(), inBytes, out.get(), flags)
                                  : UnpackMono(resample, block.get(), inBytes, out.get(), flags);
    // A WAV file counts its bytes in 32 bits.
    if (dataSize + produced > 0xFFFFFFFFull - (kWavHeaderBytes - 8)) {
      return fail(kMsgReceiveError, "the loop is too long for a WAV file");
    }
    if (std::fwrite(out.get(), 1, produced, file.get()) != produced) {
      return fail(kMsgReceiveError, "the file could not be written");
    }
    dataSize += produced;
    wav.dataSize = static_cast<uint32_t>(dataSize);
    ui.ReportProgress(static_cast<int>(uint64_t{k} * 100 / reads));
  }

  wav.channels = static_cast<uint16_t>(channels);
  wav.sampleRate = 48000;
  wav.bitsPerSample = 24;
  wav.byteRate = channels * 24 * 48000 / 8;
  wav.blockAlign = static_cast<uint16_t>(channels * 24 / 8);
  wav.formatTag = 1;
  wav.fmtSize = 16;
  wav.riffSize = wav.dataSize + 36;
  uint8_t header[kWavHeaderBytes];
  BuildWavHeader(std::span<uint8_t, kWavHeaderBytes>(header), wav);
  if (std::fseek(file.get(), 0, SEEK_SET) != 0 ||
      std::fwrite(header, 1, sizeof header, file.get()) != sizeof header) {
    return fail(kMsgReceiveError, "the file could not be written");
  }
  block.reset();
  out.reset();
  // On the disk before the rename, or a power cut could leave the target empty.
  if (!file.SyncAndClose()) return fail(kMsgReceiveError, "the file could not be written");
  if (!MoveIntoPlace(tempPath, target)) {
    return fail(kMsgFileCreationError, "the finished file could not replace " + target);
  }

  ui.ShowMessage(kMsgReceiveComplete);
  ui.EnableTransferButtons(true);
  return JobResult::Success;
}

}  // namespace rendax
