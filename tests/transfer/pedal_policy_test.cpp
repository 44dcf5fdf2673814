// SPDX-License-Identifier: GPL-3.0-or-later
// The front ends' pedal policy: what a firmware state allows, and the firmware question and
// update over the simulated pedal.
#include "transfer/pedal_policy.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "device/discovery.h"
#include "device/platform/sim/sim_pedal.h"
#include "tests/device/fake_platform.h"
#include "transfer/texts.h"

namespace rendax {
namespace {
using testing::TempDir;
namespace fs = std::filesystem;

TEST(PedalPolicy, ReadingNeedsAVersionWritingNeedsTheCarriedOne) {
  using S = FirmwareState;
  const LoopInfo none{1, 0}, some{0, 4096};
  struct Row {
    S state;
    std::optional<LoopInfo> loop;
    const char* allowed;  // of Export, Backup, Import, Restore: the initials allowed
  };
  const Row rows[] = {
      {S::Usable, some, "EBIR"}, {S::Usable, std::nullopt, "EBIR"},
      {S::Usable, none, "BIR"},   // no loop: nothing to export, still one to write
      {S::Declined, some, "EB"},  // the loop can be saved before flashing
      {S::Declined, none, "B"},  {S::Unusable, some, ""},
      {S::Unchecked, some, ""},
  };
  for (const Row& row : rows) {
    TrackedPedal pedal;
    pedal.firmware = row.state;
    pedal.loop = row.loop;
    std::string allowed;
    for (auto [op, initial] : {std::pair{PedalOperation::Export, 'E'},
                               {PedalOperation::Backup, 'B'},
                               {PedalOperation::Import, 'I'},
                               {PedalOperation::Restore, 'R'}}) {
      if (Allows(pedal, op)) allowed += initial;
    }
    EXPECT_EQ(allowed, row.allowed) << "row " << &row - rows;
  }
}

struct Prompts : Prompter {
  bool answer = false;
  std::vector<std::string> messages, reasons;
  std::vector<std::pair<std::string, std::string>> questions;
  void ShowMessage(const std::string& text) override { ShowMessageWithReason(text, ""); }
  void ShowMessageWithReason(const std::string& text, const std::string& reason) override {
    messages.push_back(text);
    reasons.push_back(reason);
  }
  bool AskYesNo(const std::string& text, const std::string& caption) override {
    questions.emplace_back(text, caption);
    return answer;
  }
};

TEST(EnsureFirmware, TheQuestionTheDowngradeRuleAndTheBackupGuardTheWrite) {
  const std::string question =
      "The rendax pedal does not match the software. Do you want to update?\n\nRendax Twin "
      "(pedal) has firmware ";
  const std::string upgrade = question + "7; this program carries 8.";
  const std::string downgrade =
      question + "9; this program carries 8. Updating replaces newer firmware with older.";
  using S = FirmwareState;
  struct Row {
    uint16_t pedalVersion;
    bool allowDowngrade, yes;
    int backup;            // 0: none; 1: into a folder; -1: into a folder that cannot be made
    std::string question;  // empty: none asked
    const char* message;   // "" for none
    std::string reason;    // how the message's reason begins
    S state;
  };
  const Row rows[] = {
      {8, true, true, 1, "", "", "", S::Usable},
      {7, true, true, 0, upgrade, "", "", S::Usable},
      {7, true, true, 1, upgrade, "", "", S::Usable},
      {7, true, false, 1, upgrade, "", "", S::Declined},
      {9, true, false, 0, downgrade, "", "", S::Declined},
      {9, false, true, 1, "", kMsgFirmwareUpdateError,
       "the pedal has firmware 9, newer than this program's 8; use --allow-downgrade to write 8 "
       "anyway",
       S::Declined},
      {7, false, true, 0, upgrade, "", "", S::Usable},  // only a downgrade needs permission
      {7, true, true, -1, upgrade, kMsgFirmwareUpdateError, kReasonLoopNotSaved, S::Declined},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::Message() << "row " << &row - rows);
    TempDir root;
    SimulatorPlatform platform(root.path().string());
    CMassStorageDevice device(platform);
    const std::string path = (root.path() / "pedal").string();
    std::string error;
    ASSERT_TRUE(CreateSimulatedPedal(path, 1, row.pedalVersion, error));
    const std::vector<uint8_t> page(4096, 1);
    ASSERT_TRUE(WriteSimulatedLoop(path, page, {0, uint32_t(page.size())}, error));
    const fs::path backups = root.path() / "backups";
    if (row.backup < 0) std::ofstream(backups) << "a file where the folder would go";
    Prompts prompts;
    prompts.answer = row.yes;
    const FirmwareOutcome outcome = EnsureFirmware(
        device, path, 1, prompts, {row.allowDowngrade, row.backup != 0, backups.string()});
    EXPECT_FALSE(device.IsOpen()) << "closed on every path";
    EXPECT_EQ(outcome.state, row.state);
    EXPECT_EQ(outcome.updated, fs::exists(root.path() / "pedal" / "firmware.bin"));
    EXPECT_EQ(outcome.updated, row.state == S::Usable && !row.question.empty());
    EXPECT_EQ(outcome.version, row.state == S::Usable ? 8 : row.pedalVersion);
    // The loop is saved before the image goes on, and only then.
    EXPECT_EQ(fs::is_directory(backups) && !fs::is_empty(backups),
              outcome.updated && row.backup > 0);
    const size_t asked = row.question.empty() ? 0 : 1;
    // The question says so when the loop is saved first.
    const std::string question = row.question + (row.backup ? kFirmwareLoopSavedFirst : "");
    EXPECT_EQ(prompts.questions,
              decltype(prompts.questions)(asked, {question, std::string(kAppName)}));
    EXPECT_EQ(prompts.messages, std::vector<std::string>(*row.message ? 1 : 0, row.message));
    EXPECT_TRUE(prompts.reasons.empty() || prompts.reasons[0].starts_with(row.reason))
        << prompts.reasons[0];
  }
}

TEST(EnsureFirmware, APedalThatCannotTakeOurImageIsNotAsked) {
  if (!FirmwareImagesAreDevelopment()) GTEST_SKIP() << "built with the maker's images";
  testing::FakePlatform real;  // a pedal on a native platform
  real.replies.push_back({testing::GoodResult(), {0x07, 0x00}});
  CMassStorageDevice native(real);
  Prompts prompts;
  prompts.answer = true;
  const FirmwareOutcome outcome = EnsureFirmware(native, "/dev/sg3", 0, prompts);
  EXPECT_EQ(outcome.state, FirmwareState::Declined) << "its loop can still be saved";
  EXPECT_EQ(prompts.messages, std::vector<std::string>{kMsgNoFirmwareImage});
  EXPECT_TRUE(prompts.questions.empty());
}

}  // namespace
}  // namespace rendax
