// SPDX-License-Identifier: GPL-3.0-or-later
// What the import targets share: a front end that writes down what a job shows, a scratch
// folder per target, and the loop a pedal holds before each import.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "transfer/front_end.h"

namespace rendax::fuzz {

class Recorder : public JobFrontEnd {
 public:
  void ReportProgress(int percent) override { progress.push_back(percent); }
  void EnableTransferButtons(bool enable) override { events.push_back(enable ? "on" : "off"); }
  void ShowMessage(const std::string& text) override { events.push_back(text); }
  bool AskYesNo(const std::string&, const std::string&) override { return true; }
  std::vector<int> progress;
  std::vector<std::string> events;
};

// The target's scratch folder, made once and removed at exit.
inline const std::filesystem::path& ImportScratch(const char* name) {
  static const ScratchCleanup scratch{ScratchFolder(name)};
  return scratch.path;
}

// What the pedal holds before the import: a refused file must leave exactly this.
inline const std::vector<uint8_t>& EarlierLoop() {
  static const std::vector<uint8_t> loop(6144, 0x33);
  return loop;
}

}  // namespace rendax::fuzz
