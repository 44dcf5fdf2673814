#include "device/firmware_check.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "device/discovery.h"
#include "device/platform/sim/sim_pedal.h"
#include "fake_platform.h"

namespace rendax {
namespace {
using testing::FakePlatform;
using testing::TempDir;
namespace fs = std::filesystem;

const char kQuestion[] = "The rendax pedal does not match the software. Do you want to update?";

struct ScriptedPrompter : Prompter {
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

std::vector<uint8_t> FileBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct SimRun {
  TempDir root;
  SimulatorPlatform platform{root.path().string()};
  CMassStorageDevice device{platform};
  ScriptedPrompter prompter;
  uint16_t version = 0xBEEF;

  SimRun(uint8_t model, uint16_t pedalVersion, const std::string& faults = "") {
    std::string error;
    EXPECT_TRUE(CreateSimulatedPedal(root / "pedal", model, pedalVersion, error));
    EXPECT_TRUE(WriteSimulatedFaults(root / "pedal", faults, error));
  }
  int Check(uint8_t model, bool yes, const FirmwareUpdateOptions& options = {}) {
    prompter.answer = yes;
    const int result = CheckFirmware(device, root / "pedal", model, version, prompter, options);
    EXPECT_FALSE(device.IsOpen()) << "the pedal is closed on every path";
    return result;
  }
  bool Written() const { return fs::exists(root.path() / "pedal" / "firmware.bin"); }
};

TEST(CheckFirmware, ExpectedVersionIsAcceptedWithoutAQuestion) {
  for (uint8_t model = 0; model < kModelCount; ++model) {
    SimRun run(model, 8);
    EXPECT_EQ(run.Check(model, false), 1);
    EXPECT_EQ(run.version, 8);
    EXPECT_TRUE(run.prompter.messages.empty());
    EXPECT_TRUE(run.prompter.questions.empty());
    EXPECT_FALSE(run.Written());
  }
}

TEST(CheckFirmware, OtherVersionsAskAndYesWritesThePedalsOwnImage) {
  for (uint16_t pedalVersion : {7, 9, 264}) {
    for (uint8_t model = 0; model < kModelCount; ++model) {
      SCOPED_TRACE(::testing::Message() << "version " << pedalVersion << " model " << +model);
      SimRun no(model, pedalVersion);
      EXPECT_EQ(no.Check(model, false), 0);
      EXPECT_EQ(no.version, pedalVersion);
      ASSERT_EQ(no.prompter.questions.size(), 1u);
      EXPECT_TRUE(no.prompter.questions[0].first.starts_with(kQuestion));
      EXPECT_EQ(no.prompter.questions[0].second, " ");
      EXPECT_TRUE(no.prompter.messages.empty());
      EXPECT_FALSE(no.Written());

      SimRun yes(model, pedalVersion);
      EXPECT_EQ(yes.Check(model, true), 1);
      const std::span<const uint8_t> image = FirmwareImage(model);
      EXPECT_EQ(FileBytes(yes.root.path() / "pedal" / "firmware.bin"),
                std::vector<uint8_t>(image.begin(), image.end()));
      EXPECT_TRUE(yes.prompter.messages.empty());
      uint16_t now = 0;
      std::string error;
      ASSERT_TRUE(ReadSimulatedFirmwareVersion(yes.root / "pedal", now, error));
      EXPECT_EQ(now, 8) << "the pedal takes its version from the image's last two bytes";
    }
  }
}

TEST(CheckFirmware, FailuresAreReportedNeverTakenAsUsable) {
  struct Case {
    const char* faults;
    uint16_t pedalVersion;
    const char* message;
    const char* reason;
    size_t questions;
  };
  const Case cases[] = {
      {"fail GetFirmwareVersion\n", 8, "Firmware Read Error",
       "the pedal refused the command (sense 04/44/00)", 0},
      {"fail WriteFirmware\n", 7, "Firmware Update Error",
       "the pedal refused the command (sense 04/44/00)", 1},
      {"unplug-after 1\n", 9, "Firmware Update Error", "the pedal was disconnected", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.faults);
    SimRun run(1, c.pedalVersion, c.faults);
    EXPECT_EQ(run.Check(1, true), 0);
    EXPECT_EQ(run.prompter.messages, std::vector<std::string>{c.message});
    EXPECT_EQ(run.prompter.reasons, std::vector<std::string>{c.reason});
    EXPECT_EQ(run.prompter.questions.size(), c.questions);
  }
  SimRun failedRead(0, 7, "fail GetFirmwareVersion\n");
  failedRead.Check(0, true);
  EXPECT_EQ(failedRead.version, 0xBEEF) << "a failed read stores no version";
  EXPECT_FALSE(failedRead.Written());

  SimRun gone(0, 8);
  fs::remove_all(gone.root.path() / "pedal");
  EXPECT_EQ(gone.Check(0, true), 0);
  EXPECT_EQ(gone.prompter.messages, std::vector<std::string>{"Device Open Error"});
  EXPECT_EQ(gone.prompter.reasons,
            std::vector<std::string>{DescribeOpenError(gone.root / "pedal", ENOENT)});
  EXPECT_TRUE(gone.prompter.questions.empty());
}

TEST(CheckFirmware, UpdateOptionsAndTheQuestionGuardTheWrite) {
  const std::string versions = std::string(kQuestion) + "\n\nThe pedal has firmware ";
  const std::string upgrade = versions + "7; this program carries 8.";
  const std::string downgrade =
      versions + "9; this program carries 8. Updating replaces newer firmware with older.";
  struct Row {
    uint16_t pedalVersion;
    bool allowDowngrade, yes;
    int hook;              // 0: none; 1: agrees; -1: refuses with "the backup failed"
    std::string question;  // empty: none asked
    std::string reason;    // of a "Firmware Update Error"; empty: no message
  };
  const Row rows[] = {
      {9, true, false, 0, downgrade, ""},
      {9, false, true, 1, "",
       "the pedal has firmware 9, newer than this program's 8; use --allow-downgrade to write 8 "
       "anyway"},
      {7, false, true, 1, upgrade, ""},  // only a downgrade needs the permission
      {7, true, false, 1, upgrade, ""},
      {7, true, true, -1, upgrade, "the backup failed"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(::testing::Message() << "row " << &row - rows);
    SimRun run(1, row.pedalVersion);
    FirmwareUpdateOptions options{row.allowDowngrade, nullptr};
    int hookCalls = 0;
    if (row.hook != 0) {
      options.beforeWrite = [&](CDevice& device, std::string& reason) {
        ++hookCalls;
        EXPECT_TRUE(&device == &run.device && device.IsOpen()) << "the pedal, open";
        EXPECT_EQ(run.prompter.questions.size(), 1u) << "only after the Yes";
        EXPECT_FALSE(run.Written()) << "before the image is written";
        reason = "the backup failed";
        return row.hook > 0;
      };
    }
    const bool said = !row.question.empty() && row.yes;
    EXPECT_EQ(run.Check(1, row.yes, options), said && row.reason.empty() ? 1 : 0);
    EXPECT_EQ(run.Written(), said && row.reason.empty());
    EXPECT_EQ(hookCalls, said && row.hook != 0 ? 1 : 0);
    const size_t asked = row.question.empty() ? 0 : 1, told = row.reason.empty() ? 0 : 1;
    EXPECT_EQ(run.prompter.questions, decltype(run.prompter.questions)(asked, {row.question, " "}));
    EXPECT_EQ(run.prompter.messages, std::vector<std::string>(told, "Firmware Update Error"));
    EXPECT_EQ(run.prompter.reasons, std::vector<std::string>(told, row.reason));
  }
}

TEST(CheckFirmware, DevelopmentImagesNeverReachARealPedal) {
  if (!FirmwareImagesAreDevelopment()) GTEST_SKIP() << "built with the maker's images";
  FakePlatform real;  // a pedal on a native platform
  real.replies.push_back({testing::GoodResult(), {0x07, 0x00}});
  CMassStorageDevice device(real);
  ScriptedPrompter prompter;
  prompter.answer = true;
  uint16_t version = 0;
  EXPECT_EQ(CheckFirmware(device, "/dev/sg3", 0, version, prompter), 0);
  EXPECT_EQ(prompter.messages, std::vector<std::string>{"No firmware image for this pedal"});
  EXPECT_TRUE(prompter.questions.empty());
  ASSERT_EQ(real.sent.size(), 1u) << "only the version read is sent";
  EXPECT_EQ(real.sent[0].request.cdb[1], 0x01);
  EXPECT_FALSE(device.IsOpen());
}

TEST(FirmwareImages, ThreeDistinctImagesThatACortexMCouldBoot) {
  for (uint8_t model = 0; model < kModelCount; ++model) {
    const std::span<const uint8_t> image = FirmwareImage(model);
    ASSERT_EQ(image.size(), kFirmwareImageBytes);
    auto word = [&](size_t at) {
      return static_cast<uint32_t>(image[at] | image[at + 1] << 8 | image[at + 2] << 16 |
                                   image[at + 3] << 24);
    };
    EXPECT_EQ(word(0) & 0xFFF00000u, 0x20000000u) << "initial stack pointer in SRAM";
    const uint32_t reset = word(4);
    EXPECT_EQ(reset & 1u, 1u) << "Thumb reset handler";
    EXPECT_GE(reset & ~1u, 0x08000040u);
    EXPECT_LT(reset & ~1u, 0x08000000u + kFirmwareImageBytes);
    EXPECT_EQ(image[kFirmwareImageBytes - 2], 0x08);
    EXPECT_EQ(image[kFirmwareImageBytes - 1], 0x00);
    for (uint8_t other = 0; other < model; ++other) {
      EXPECT_FALSE(std::equal(image.begin(), image.end(), FirmwareImage(other).begin()));
    }
  }
  EXPECT_TRUE(FirmwareImage(3).empty());
}

}  // namespace
}  // namespace rendax
