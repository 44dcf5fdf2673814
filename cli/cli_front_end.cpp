// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/cli_front_end.h"

#include <algorithm>
#include <cctype>

#include "transfer/job.h"

namespace rendax {

bool IsSuccessMessage(const std::string& text) {
  return text == kMsgReceiveComplete || text == kMsgSendComplete;
}

CliFrontEnd::CliFrontEnd(std::FILE* out, std::FILE* err, std::FILE* in, bool terminal,
                         bool assumeYes)
    : out_(out), err_(err), in_(in), terminal_(terminal), assumeYes_(assumeYes) {}

void CliFrontEnd::ReportProgress(int percent) {
  percent = std::clamp(percent, 0, 100);
  if (percent == 0) {
    // Every job ends with 0: the bar is finished, the next job starts afresh.
    EndBar();
    lastTenth_ = 0;
    return;
  }
  if (terminal_) {
    constexpr int kWidth = 40;
    const int filled = percent * kWidth / 100;
    std::fprintf(err_, "\r[%s%s] %3d%%", std::string(filled, '#').c_str(),
                 std::string(kWidth - filled, '.').c_str(), percent);
    barDrawn_ = true;
  } else {
    const int tenth = percent / 10;
    if (tenth > lastTenth_) {
      std::fprintf(err_, "progress %d%%\n", tenth * 10);
      lastTenth_ = tenth;
    }
  }
  std::fflush(err_);
}

void CliFrontEnd::EndBar() {
  if (barDrawn_) {
    std::fputc('\n', err_);
    std::fflush(err_);
    barDrawn_ = false;
  }
}

void CliFrontEnd::ShowMessage(const std::string& text) {
  ShowMessageWithReason(text, "");
}

void CliFrontEnd::ShowMessageWithReason(const std::string& text, const std::string& reason) {
  EndBar();
  std::FILE* to = IsSuccessMessage(text) ? out_ : err_;
  if (reason.empty()) {
    std::fprintf(to, "%s\n", text.c_str());
  } else {
    std::fprintf(to, "%s: %s\n", text.c_str(), reason.c_str());
  }
  std::fflush(to);
}

bool CliFrontEnd::AskYesNo(const std::string& text, const std::string& /*caption*/) {
  EndBar();
  std::fprintf(err_, "%s [y/N] ", text.c_str());
  if (assumeYes_) {
    std::fprintf(err_, "yes (--yes)\n");
    return true;
  }
  std::fflush(err_);
  char line[64] = {};
  if (!in_ || !std::fgets(line, sizeof line, in_)) {
    std::fprintf(err_, "no answer\n");
    return false;
  }
  const char* c = line;
  while (*c == ' ' || *c == '\t') ++c;
  return std::tolower(static_cast<unsigned char>(*c)) == 'y';
}

}  // namespace rendax
