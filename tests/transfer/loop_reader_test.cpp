// SPDX-License-Identifier: GPL-3.0-or-later
// The one reader of the pedal's loop, against scripted replies: what it asks for, when it stops,
// and what it reports done.
#include <atomic>

#include <gtest/gtest.h>

#include "audio/sample_pages.h"
#include "device/device.h"
#include "tests/device/fake_platform.h"
#include "transfer/loop_reader.h"

namespace rendax::testing {
namespace {

class StageLog : public JobFrontEnd {
 public:
  void ReportProgress(int) override {}
  void EnableTransferButtons(bool) override {}
  void ShowMessage(const std::string&) override {}
  bool AskYesNo(const std::string&, const std::string&) override { return true; }
  void ReportStage(const Progress& report) override { done_.push_back(report.done); }
  std::vector<uint64_t> done_;
};

TEST(LoopReader, ChecksEveryAnswerStopsOnRequestAndCountsWhatWasTaken) {
  using Step = LoopReader::Step;
  struct Row {
    const char* what;
    uint32_t residualOfLast;     // what the pedal left out of the second read (of 2,048 bytes)
    int cancelAfter;             // blocks taken before Cancel; -1 never
    std::vector<Step> steps;     // what Next gives
    std::vector<uint64_t> done;  // the bytes reported done, after the stage's start
    const char* reason;
  };
  // 65,636 bytes of a one-channel loop: a whole block, then 100 bytes read as one page.
  const Row rows[] = {
      {"whole answers", 0, -1, {Step::Block, Step::Block, Step::End}, {65536, 65636}, ""},
      {"short within the page's rounding",
       1948,
       -1,
       {Step::Block, Step::Block, Step::End},
       {65536, 65636},
       ""},
      {"short of the loop",
       1949,
       -1,
       {Step::Block, Step::Failed},
       {65536},
       "the pedal sent less audio than its loop info announced"},
      {"cancelled after a block", 0, 1, {Step::Block, Step::Cancelled}, {65536}, ""},
      {"cancelled before any", 0, 0, {Step::Cancelled}, {}, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakePlatform platform;
    PassThroughResult last = GoodResult();
    last.residual = row.residualOfLast;
    platform.replies = {{GoodResult(), {}}, {last, {}}};
    CMassStorageDevice device(platform);
    ASSERT_TRUE(device.Open("/dev/fake", kGenericRead | kGenericWrite, 3));
    StageLog log;
    JobProgress progress(&log);
    progress.Begin(JobFrontEnd::Stage::Export, 65636, kTransferBlockBytes);
    std::atomic<bool> cancel{row.cancelAfter == 0};
    LoopReader reader(device, 0, 65636, &cancel, &progress);
    std::vector<Step> steps;
    for (int taken = 0;; ++taken) {
      if (taken == row.cancelAfter) cancel = true;
      steps.push_back(reader.Next());
      if (steps.back() != Step::Block) break;
    }
    EXPECT_EQ(steps, row.steps);
    EXPECT_EQ(std::vector<uint64_t>(log.done_.begin() + 1, log.done_.end()), row.done);
    EXPECT_EQ(reader.Reason(), row.reason);
    // Nothing is asked of the pedal after a stop.
    EXPECT_EQ(platform.sent.size(), row.steps.size() - 1 + (row.steps.back() == Step::Failed));
  }
}

}  // namespace
}  // namespace rendax::testing
