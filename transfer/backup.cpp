// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/backup.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <memory>
#include <new>
#include <system_error>

#include "audio/resample.h"
#include "audio/riff.h"
#include "audio/sample_pages.h"
#include "audio/wav_header.h"
#include "device/commands.h"
#include "device/discovery.h"
#include "transfer/file_io.h"
#include "transfer/loop_reader.h"
#include "transfer/outcome.h"
#include "transfer/texts.h"

namespace rendax {

namespace fs = std::filesystem;

namespace {

// The header and the "rndx" chunk of a lossless file with `dataSize` bytes of audio.
WavFormat LosslessFormat(uint32_t channels, uint32_t dataSize) {
  WavFormat wav = MakeWavFormat(channels, kPedalFrameRate, 24);
  wav.dataSize = dataSize;
  // An odd data chunk is followed by a pad byte, so the next chunk starts on an even offset.
  wav.riffSize = 36 + dataSize + (dataSize & 1) + kLoopRecordChunkBytes;
  return wav;
}

}  // namespace

uint64_t LosslessFileBytes(uint32_t streamLength, uint32_t channels) {
  // Without filler even the longest loop the pedal's length field allows stays within 32 bits.
  const uint64_t data = FramesInStream(streamLength, channels) * PageLayoutFor(channels).frameBytes;
  return kWavHeaderBytes + data + (data & 1) + kLoopRecordChunkBytes;
}

namespace {

void EncodeRecord(const LoopRecord& r, uint8_t* out) {
  std::memcpy(out, "rndx", 4);
  PutLe32(out + 4, 16);
  out[8] = 1;  // layout version
  out[9] = r.model;
  out[10] = r.status;
  out[11] = 0;
  PutLe32(out + 12, r.streamLength);
  const uint64_t t = static_cast<uint64_t>(r.time);
  PutLe32(out + 16, static_cast<uint32_t>(t));
  PutLe32(out + 20, static_cast<uint32_t>(t >> 32));
}

}  // namespace

std::string LocalTime(int64_t secondsSince1970, const char* format) {
  const std::time_t t = static_cast<std::time_t>(secondsSince1970);
  std::tm tm{};
#ifdef _WIN32
  localtime_s(&tm, &t);
#else
  localtime_r(&t, &tm);
#endif
  char text[64] = {};
  std::strftime(text, sizeof text, format, &tm);
  return text;
}

std::string DefaultBackupFolder() {
  if (std::string d = Environment("RENDAX_BACKUP_DIR"); !d.empty()) return d;
#ifdef _WIN32
  const std::string base = Environment("LOCALAPPDATA");
  return base.empty() ? std::string() : U8String(U8Path(base) / "Rendax" / "Backups");
#else
  std::string data = Environment("XDG_DATA_HOME");
  // The base directory rules ignore a relative value.
  if (data.empty() || data[0] != '/') {
    const std::string home = Environment("HOME");
    if (home.empty()) return {};
    data = home + "/.local/share";
  }
  return data + "/rendax/backups";
#endif
}

unsigned BackupsKept() {
  const std::string v = Environment("RENDAX_BACKUP_KEEP");
  if (v.empty() || v.size() > 6 || v.find_first_not_of("0123456789") != std::string::npos) {
    return kDefaultBackupsKept;
  }
  const unsigned long n = std::stoul(v);
  return n == 0 ? kDefaultBackupsKept : static_cast<unsigned>(n);
}

std::string FormatDuration(uint64_t frames, uint32_t rate) {
  const uint64_t seconds = rate ? frames / rate : 0;
  char text[32];
  if (seconds >= 3600) {
    std::snprintf(text, sizeof text, "%llu:%02llu:%02llu",
                  static_cast<unsigned long long>(seconds / 3600),
                  static_cast<unsigned long long>(seconds / 60 % 60),
                  static_cast<unsigned long long>(seconds % 60));
  } else {
    std::snprintf(text, sizeof text, "%llu:%02llu", static_cast<unsigned long long>(seconds / 60),
                  static_cast<unsigned long long>(seconds % 60));
  }
  return text;
}

std::optional<LoopRecord> ReadLoopRecord(std::FILE* file, const WavFormat& wav) {
  if (wav.sampleRate != kPedalFrameRate) return std::nullopt;
  const uint64_t at = uint64_t{AudioOffset(wav)} + wav.dataSize + (wav.dataSize & 1);
  uint8_t chunk[kLoopRecordChunkBytes] = {};
  if (!Seek(file, static_cast<int64_t>(at)) ||
      std::fread(chunk, 1, sizeof chunk, file) != sizeof chunk ||
      std::memcmp(chunk, "rndx", 4) != 0 || GetLe32(chunk + 4) < 16 || chunk[8] != 1) {
    return std::nullopt;
  }
  LoopRecord r;
  r.model = chunk[9];
  r.status = chunk[10];
  r.streamLength = GetLe32(chunk + 12);
  r.time =
      static_cast<int64_t>(uint64_t{GetLe32(chunk + 16)} | uint64_t{GetLe32(chunk + 20)} << 32);
  return r;
}

bool ListBackups(const std::string& folder, std::vector<BackupEntry>& out, std::string& error) {
  out.clear();
  std::error_code ec;
  const fs::path dir = U8Path(folder);
  if (!fs::exists(dir, ec)) return true;
  fs::directory_iterator it(dir, ec);
  if (ec) {
    error = FileReason(folder, ec.message());
    return false;
  }
  for (const fs::directory_entry& e : it) {
    const fs::path p = e.path();
    if (p.extension() != ".wav" || !e.is_regular_file(ec)) continue;
    const std::string path = U8String(p);
    File f = OpenFile(path, "rb");
    if (!f) continue;
    uint8_t header[kWavHeaderReadBytes] = {};
    const size_t n = std::fread(header, 1, sizeof header, f.get());
    WavFormat wav;
    if (!ParseWavHeader(header, n, wav, nullptr, true)) continue;
    const auto record = ReadLoopRecord(f.get(), wav);
    if (!record) continue;
    out.push_back(BackupEntry{path, *record, wav.dataSize / wav.blockAlign});
  }
  std::sort(out.begin(), out.end(), [](const BackupEntry& a, const BackupEntry& b) {
    return a.record.time != b.record.time ? a.record.time > b.record.time : a.path > b.path;
  });
  return true;
}

std::optional<BackupEntry> NewestBackup(const std::string& folder, uint8_t model) {
  std::vector<BackupEntry> all;
  std::string error;
  if (!ListBackups(folder, all, error)) return std::nullopt;
  for (const BackupEntry& e : all) {
    if (e.record.model == model) return e;
  }
  return std::nullopt;
}

LosslessOutcome WriteLosslessLoop(CDevice& device, uint8_t model, const LoopInfo& info,
                                  int64_t time, std::FILE* file, const std::string& filePath,
                                  const std::atomic<bool>* cancel, JobProgress* progress,
                                  std::string& reason, LoopOutlineBuilder* outline) {
  const uint32_t channels = ModelInfo(model).channels;
  const PageLayout layout = PageLayoutFor(channels);
  auto writeFailed = [&] {
    reason = FileReason(filePath, SystemReason(errno));
    return LosslessOutcome::Failed;
  };
  // The length is known from the record: whole frames, the last one completed.
  const uint64_t planned = FramesInStream(info.length, channels) * layout.frameBytes;
  const WavFormat wav = LosslessFormat(channels, static_cast<uint32_t>(planned));
  uint8_t header[kWavHeaderBytes] = {};
  BuildWavHeader(std::span<uint8_t, kWavHeaderBytes>(header), wav);
  if (std::fwrite(header, 1, sizeof header, file) != sizeof header) return writeFailed();

  std::unique_ptr<uint8_t[]> frames(new (std::nothrow) uint8_t[kTransferBlockBytes]);
  if (!frames) {
    reason = kReasonOutOfMemory;
    return LosslessOutcome::Failed;
  }
  LoopReader reader(device, model, info.length, cancel, progress);
  uint64_t dataSize = 0;
  for (;;) {
    const LoopReader::Step step = reader.Next();
    if (step == LoopReader::Step::End) break;
    if (step == LoopReader::Step::Cancelled) return LosslessOutcome::Interrupted;
    if (step == LoopReader::Step::Failed) {
      reason = reader.Reason();
      return LosslessOutcome::Failed;
    }
    if (outline) outline->AddStream(reader.Data(), reader.Bytes(), reader.Offset());
    uint32_t produced =
        DropFiller(reader.Data(), reader.Bytes(), reader.Offset(), channels, frames.get());
    if ((reader.Flags() & ChunkLast) && produced % layout.frameBytes != 0) {
      // A stream that ends inside a frame: the frame is completed with zeros, as the reading
      // rule takes it; the record keeps the exact length.
      const uint32_t whole = layout.frameBytes - produced % layout.frameBytes;
      std::memset(frames.get() + produced, 0, whole);
      produced += whole;
    }
    if (std::fwrite(frames.get(), 1, produced, file) != produced) return writeFailed();
    dataSize += produced;
  }
  if (dataSize != planned) {
    reason = FileReason(
        filePath, Because(kReasonLengthNotAsAnnounced,
                          FormatText(kBytesNotFormat, static_cast<unsigned long long>(dataSize),
                                     static_cast<unsigned long long>(planned))));
    return LosslessOutcome::Failed;
  }
  uint8_t tail[1 + kLoopRecordChunkBytes] = {};
  const size_t pad = dataSize & 1;
  EncodeRecord(LoopRecord{model, info.status, info.length, time}, tail + pad);
  if (std::fwrite(tail, 1, pad + kLoopRecordChunkBytes, file) != pad + kLoopRecordChunkBytes) {
    return writeFailed();
  }
  return LosslessOutcome::Done;
}

namespace {

// Keeps the newest `kept` backups of `model`; older ones are removed, but never `spare`.
void Prune(const std::string& folder, uint8_t model, unsigned kept, const std::string& spare) {
  std::vector<BackupEntry> all;
  std::string error;
  if (!ListBackups(folder, all, error)) return;
  unsigned seen = 0;
  for (const BackupEntry& e : all) {
    if (e.record.model != model || ++seen <= kept) continue;
    std::error_code ec;
    if (!spare.empty() && fs::equivalent(U8Path(e.path), U8Path(spare), ec)) continue;
    RemoveFile(e.path);
  }
}

}  // namespace

BackupOutcome MakeBackup(CDevice& device, const BackupRequest& request, std::string& path,
                         std::string& reason) {
  path.clear();
  LoopInfo info;
  // The read also puts the pedal's stream back at the loop's start.
  if (!ReadLoopInfo(device, info, reason)) return BackupOutcome::Failed;
  if (!HoldsLoop(info)) return BackupOutcome::NoLoop;

  const std::string folder = request.folder.empty() ? DefaultBackupFolder() : request.folder;
  if (folder.empty()) {
    reason = kReasonNoBackupFolder;
    return BackupOutcome::Failed;
  }
  std::error_code ec;
  fs::create_directories(U8Path(folder), ec);
  if (ec || !IsFolder(folder)) {
    reason = FileReason(folder, ec ? ec.message() : "it is not a folder");
    return BackupOutcome::Failed;
  }

  RemoveStaleTemps(folder);  // the halves of backups whose program was killed midway

  const int64_t now = static_cast<int64_t>(std::time(nullptr));
  std::string name = ModelInfo(request.model).name;
  std::replace(name.begin(), name.end(), ' ', '-');
  const std::string stem =
      U8String(U8Path(folder) / U8Path(name + "_" + LocalTime(now, "%Y-%m-%d_%H-%M-%S")));
  std::string target = stem + ".wav";
  for (int n = 2; fs::exists(U8Path(target), ec) && n < 1000; ++n) {
    target = stem + "_" + std::to_string(n) + ".wav";
  }

  std::string temp;
  File file = CreateTempBeside(target, temp, reason);
  if (!file) return BackupOutcome::Failed;
  LoopOutlineBuilder outline(info.length, ModelInfo(request.model).channels);
  const LosslessOutcome outcome =
      WriteLosslessLoop(device, request.model, info, now, file.get(), target, request.cancel,
                        request.progress, reason, request.outline ? &outline : nullptr);
  if (outcome != LosslessOutcome::Done) {
    file.Close();
    RemoveFile(temp);
    return outcome == LosslessOutcome::Interrupted ? BackupOutcome::Interrupted
                                                   : BackupOutcome::Failed;
  }
  // On the disk before the pedal's loop is replaced: a backup lost to a power cut is no backup.
  if (!file.SyncAndClose()) {
    reason = FileReason(target, SystemReason(errno));
    RemoveFile(temp);
    return BackupOutcome::Failed;
  }
  if (std::string why; !MoveIntoPlace(temp, target, &why)) {
    reason = FileReason(target, why);
    RemoveFile(temp);
    return BackupOutcome::Failed;
  }
  path = target;
  if (request.outline) *request.outline = outline.Result();
  Prune(folder, request.model, BackupsKept(), request.spare);
  return BackupOutcome::Made;
}

std::function<bool(CDevice&, std::string&)> BackupBeforeFirmware(uint8_t model,
                                                                 std::string folder) {
  return [model, folder](CDevice& device, std::string& reason) {
    BackupRequest request;
    request.model = model;
    request.folder = folder;
    std::string path;
    const BackupOutcome outcome = MakeBackup(device, request, path, reason);
    // One title says the update failed; the backup's part is a reason below it.
    if (outcome == BackupOutcome::Failed) reason = Because(kReasonLoopNotSaved, reason);
    return outcome == BackupOutcome::Made || outcome == BackupOutcome::NoLoop;
  };
}

}  // namespace rendax
