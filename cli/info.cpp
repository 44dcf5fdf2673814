#include "cli/info.h"

#include "device/discovery.h"
#include "transfer/backup.h"
#include "transfer/decode.h"
#include "transfer/file_io.h"
#include "transfer/job.h"

namespace rendax {

namespace {

// How a pedal of `model` would take the file.
std::string ModelVerdict(const std::string& path, uint8_t model, uint32_t fileChannels) {
  ImportCheck check;
  if (!CheckImportFile(path, model, check)) {
    return "refused: " + (check.reason.empty() ? check.text : check.reason);
  }
  std::string verdict = check.converted ? check.conversion : "as it is";
  if (fileChannels == 2 && ModelInfo(model).channels == 1) {
    // A one-channel pedal takes the first channel (the line says so) unless asked to sum both.
    ImportCheck mixed;
    if (CheckImportFile(path, model, mixed, true) && mixed.converted) {
      verdict += "; with --mix: " + mixed.conversion;
    }
  }
  return verdict;
}

}  // namespace

bool PrintFileInfo(const std::string& path, std::FILE* out, std::FILE* err) {
  AudioFileInfo info;
  std::string reason;
  if (!InspectAudioFile(path, info, reason)) {
    // In the import's own words where it has them, so both say the same of one file.
    ImportCheck check;
    if (!CheckImportFile(path, 0, check) && !check.reason.empty()) {
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
                                  GroupThousands(*info.frames) + " frames)"
                            : "unknown");
  if (!info.chunks.empty()) row("chunks", info.chunks);
  for (uint8_t model = 0; model < kModelCount; ++model) {
    row(ModelInfo(model).name, ModelVerdict(path, model, info.channels));
  }
  return true;
}

std::string PedalLine(const std::string& path, uint8_t model) {
  return path + "  " + ModelInfo(model).name + " (model " + std::to_string(model) + ")";
}

}  // namespace rendax
