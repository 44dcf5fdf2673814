// Export: the pedal's loop into a WAV file, 48,000 Hz 24-bit.
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>

#include "audio/riff.h"
#include "audio/sample_pages.h"
#include "device/commands.h"
#include "device/discovery.h"
#include "transfer/backup.h"
#include "transfer/file_io.h"
#include "transfer/job.h"

namespace rendax {

namespace {

// The unpacker's reading rule may look up to frame size - 1 bytes past the recording's end.
constexpr uint32_t kBlockSlack = 8;

}  // namespace

JobResult RunExport(const JobRequest& job, CDevice& device, WavFormat& wav, ResampleState& resample,
                    JobFrontEnd& ui) {
  const uint32_t channels = ModelInfo(job.model).channels;

  uint8_t record[kLoopInfoBytes] = {};
  if (!SendCommandIn(CdbLoopInfoRead(), device, kLoopInfoBytes, record)) {
    // Nothing is known about the loop; no file is made.
    ui.ShowMessageWithReason(kMsgReceiveError, "the pedal did not answer the loop info request: " +
                                                   DescribeCommandResult(device.LastResult()));
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
  std::string why = "no file name";
  if (!target.empty() && MayWriteFile(target, &why)) {
    file = CreateTempBeside(target, tempPath);
    if (!file) why = SystemReason(errno);
  }
  if (!file) {
    ui.ShowMessageWithReason(kMsgFileCreationError, FileReason(job.exportPath, why));
    return JobResult::Failed;
  }
  const bool replacing = PathExists(target);

  ui.EnableTransferButtons(false);
  auto fail = [&](const char* text, const std::string& reason) {
    file.Close();
    RemoveFile(tempPath);
    ui.ShowMessageWithReason(text, reason);
    ui.EnableTransferButtons(true);
    return JobResult::Failed;
  };
  auto writeFailed = [&] {
    return fail(kMsgReceiveError, FileReason(job.exportPath, SystemReason(errno)));
  };
  // Between blocks: the temporary file goes, an earlier file at the
  // target stays as it was. A Cancel button's stop is no error.
  auto interrupted = [&] {
    const std::string left =
        replacing ? "the earlier " + job.exportPath + " is intact" : "no file was written";
    if (job.restoreOnCancel) {
      fail(kMsgExportCancelled, left);
    } else {
      fail(kMsgReceiveError, "interrupted; " + left);
    }
    return JobResult::Interrupted;
  };
  const uint32_t length = info.length;
  LoopOutlineBuilder outline(length, channels);
  auto stage = [&](uint64_t done) { ui.ReportStage(JobFrontEnd::Stage::Export, done, length); };
  auto complete = [&] {
    ui.ReportLoop(outline.Result());
    ui.ShowMessage(kMsgReceiveComplete);
    ui.EnableTransferButtons(true);
    return JobResult::Success;
  };
  stage(0);

  if (job.native) {
    std::string reason;
    const LosslessOutcome outcome = WriteLosslessLoop(
        device, job.model, info, static_cast<int64_t>(std::time(nullptr)), file.get(),
        job.exportPath, job.cancel,
        [&](uint64_t done, uint64_t total) {
          ui.ReportProgress(static_cast<int>(done * 100 / std::max<uint64_t>(1, total)));
          stage(done);
        },
        reason, &outline);
    if (outcome == LosslessOutcome::Interrupted) return interrupted();
    if (outcome == LosslessOutcome::Failed) return fail(kMsgReceiveError, reason);
    if (!file.SyncAndClose()) return writeFailed();
    if (!MoveIntoPlace(tempPath, target, &reason)) {
      return fail(kMsgFileCreationError, FileReason(target, reason));
    }
    return complete();
  }

  uint8_t placeholder[kWavHeaderBytes] = {};
  if (std::fwrite(placeholder, 1, sizeof placeholder, file.get()) != sizeof placeholder) {
    return writeFailed();
  }
  wav.dataSize = 0;

  std::unique_ptr<uint8_t[]> block(new (std::nothrow) uint8_t[kTransferBlockBytes + kBlockSlack]);
  std::unique_ptr<uint8_t[]> out(new (std::nothrow) uint8_t[kMaxUnpackOutputBytes]);
  if (!block || !out) return fail(kMsgReceiveError, "out of memory");

  const uint32_t fullBlocks = length / kTransferBlockBytes;
  const uint32_t rest = length % kTransferBlockBytes;
  const uint32_t reads =
      length <= kTransferBlockBytes ? 1 : (rest == 0 ? fullBlocks : fullBlocks + 1);
  uint64_t dataSize = 0;

  for (uint32_t k = 1; k <= reads; ++k) {
    if (job.cancel && job.cancel->load()) return interrupted();
    uint32_t request = kTransferBlockBytes;
    if (k == reads && reads > 1 && rest > 0) request = RoundUpToPages(rest, channels);
    // Never convert what an earlier block or a short answer left behind.
    std::memset(block.get(), 0, kTransferBlockBytes + kBlockSlack);
    if (!SendCommandIn(CdbLoopDataRead(), device, request, block.get())) {
      return fail(kMsgReceiveError,
                  "a loop data read failed: " + DescribeCommandResult(device.LastResult()));
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
    outline.AddStream(block.get(), inBytes, uint64_t{kTransferBlockBytes} * (k - 1));
    const uint32_t produced = channels == 2
                                  ? UnpackStereo(resample, block.get(), inBytes, out.get(), flags)
                                  : UnpackMono(resample, block.get(), inBytes, out.get(), flags);
    // A WAV file counts its bytes in 32 bits.
    if (dataSize + produced > 0xFFFFFFFFull - (kWavHeaderBytes - 8)) {
      return fail(kMsgReceiveError, "the loop is too long for a WAV file");
    }
    if (std::fwrite(out.get(), 1, produced, file.get()) != produced) return writeFailed();
    dataSize += produced;
    wav.dataSize = static_cast<uint32_t>(dataSize);
    ui.ReportProgress(static_cast<int>(uint64_t{k} * 100 / reads));
    stage(uint64_t{kTransferBlockBytes} * (k - 1) + inBytes);
  }

  const uint32_t written = wav.dataSize;
  wav = MakeWavFormat(channels, 48000, 24);
  wav.dataSize = written;
  wav.riffSize = wav.dataSize + 36;
  uint8_t header[kWavHeaderBytes];
  BuildWavHeader(std::span<uint8_t, kWavHeaderBytes>(header), wav);
  if (std::fseek(file.get(), 0, SEEK_SET) != 0 ||
      std::fwrite(header, 1, sizeof header, file.get()) != sizeof header) {
    return writeFailed();
  }
  block.reset();
  out.reset();
  // On the disk before the rename, or a power cut could leave the target
  // empty.
  if (!file.SyncAndClose()) return writeFailed();
  if (std::string reason; !MoveIntoPlace(tempPath, target, &reason)) {
    return fail(kMsgFileCreationError, FileReason(target, reason));
  }
  return complete();
}

}  // namespace rendax
