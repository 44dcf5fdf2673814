// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/info.h"

#include "device/discovery.h"
#include "transfer/backup.h"
#include "transfer/decode.h"
#include "transfer/file_io.h"
#include "transfer/job.h"

namespace rendax {

namespace {

// How a pedal of `model` would take the file.
std::string ModelVerdict(const std::shared_ptr<ImportSource>& source, uint8_t model,
                         uint32_t fileChannels) {
  ImportCheck check;
  if (!CheckImportFile(source, model, check)) {
    return "refused: " + (check.reason.empty() ? check.text : check.reason);
  }
  std::string verdict = check.converted ? check.conversion : "as it is";
  if (fileChannels == 2 && ModelInfo(model).channels == 1) {
    // A one-channel pedal takes the first channel (the line says so) unless asked to sum both.
    ImportCheck mixed;
    if (CheckImportFile(source, model, mixed, true) && mixed.converted) {
      verdict += "; with --mix: " + mixed.conversion;
    }
  }
  return verdict;
}

}  // namespace

bool PrintFileInfo(const std::string& path, std::FILE* out, std::FILE* err) {
  // Opened once: standard input or a pipe is read once, and every model's check reads the copy.
  ImportCheck check;
  std::string reason;
  const bool folder = IsFolder(path);
  const std::shared_ptr<ImportSource> source = folder ? nullptr : ImportSource::Open(path, reason);
  if (!source) {
    std::fprintf(err, "%s: %s\n", kMsgCantOpenFile,
                 FileReason(path, folder ? kReasonIsFolder : reason).c_str());
    return false;
  }
  AudioFileInfo info;
  if (!InspectAudioFile(source->Path(), info, reason)) {
    // In the import's own words where it has them, so both say the same of one file.
    if (!CheckImportFile(source, 0, check) && !check.reason.empty()) {
      std::fprintf(err, "%s: %s\n", check.text.c_str(), check.reason.c_str());
    } else {
      std::fprintf(err, "%s: %s\n", kMsgFormatWrong, FileReason(path, reason).c_str());
    }
    return false;
  }
  auto row = [out](const char* name, const std::string& value) {
    std::fprintf(out, "%-13s%s\n", name, value.c_str());
  };
  row("container", info.container);
  row("format", info.codec);
  row("rate", DescribeRate(info.rate));
  row("width", info.bits ? std::to_string(info.bits) + "-bit" : "not fixed (compressed)");
  row("channels", DescribeChannels(info.channels));
  row("length", info.frames ? FormatDuration(*info.frames, info.rate) + " (" +
                                  GroupThousands(*info.frames) +
                                  (*info.frames == 1 ? " frame)" : " frames)")
                            : "unknown");
  if (!info.chunks.empty()) row("chunks", info.chunks);
  for (uint8_t model = 0; model < kModelCount; ++model) {
    row(ModelInfo(model).name, ModelVerdict(source, model, info.channels));
  }
  return true;
}

std::string PedalLine(const std::string& path, uint8_t model) {
  return path + "  " + ModelInfo(model).name + " (model " + std::to_string(model) + ")";
}

}  // namespace rendax
