// SPDX-License-Identifier: GPL-3.0-or-later
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

std::vector<uint8_t> FileBytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

struct SimRun {
  TempDir root;
  SimulatorPlatform platform{root.path().string()};
  CMassStorageDevice device{platform};

  SimRun(uint8_t model, uint16_t pedalVersion, const std::string& faults = "") {
    std::string error;
    EXPECT_TRUE(CreateSimulatedPedal(root / "pedal", model, pedalVersion, error));
    EXPECT_TRUE(WriteSimulatedFaults(root / "pedal", faults, error));
  }
  FirmwareReading Check(uint8_t model) {
    const FirmwareReading reading = CheckFirmware(device, root / "pedal", model);
    EXPECT_FALSE(device.IsOpen()) << "the pedal is closed on every path";
    return reading;
  }
  bool Written() const { return fs::exists(root.path() / "pedal" / "firmware.bin"); }
};

TEST(CheckFirmware, TheVerdictComparesAllSixteenBitsAndFailuresCarryTheirReason) {
  using V = FirmwareVerdict;
  struct Row {
    uint16_t pedalVersion;
    const char* faults;
    V verdict;
    const char* reason;
  };
  const Row rows[] = {
      {8, "", V::Usable, ""},
      {7, "", V::NeedsUpdate, ""},
      {9, "", V::Newer, ""},
      {264, "", V::Newer, ""},  // 08 01: the high byte counts
      {8, "fail GetFirmwareVersion\n", V::Unreadable,
       "the pedal refused the command (sense 04/44/00)"},
      {8, "unplug-after 0\n", V::Unreadable, "the pedal was disconnected"},
  };
  for (const Row& row : rows) {
    for (uint8_t model = 0; model < kModelCount; ++model) {
      SCOPED_TRACE(::testing::Message() << row.pedalVersion << " " << row.faults << +model);
      SimRun run(model, row.pedalVersion, row.faults);
      const FirmwareReading r = run.Check(model);
      EXPECT_EQ(r.verdict, row.verdict);
      EXPECT_EQ(r.version, row.verdict == V::Unreadable ? 0 : row.pedalVersion);
      EXPECT_EQ(r.reason, row.reason);
      EXPECT_FALSE(r.openFailed);
      EXPECT_TRUE(r.imageWritable) << "the simulated pedal takes every image";
      EXPECT_FALSE(run.Written());
    }
  }
  SimRun gone(0, 8);
  fs::remove_all(gone.root.path() / "pedal");
  const FirmwareReading r = gone.Check(0);
  EXPECT_EQ(r.verdict, V::Unreadable);
  EXPECT_TRUE(r.openFailed);
  EXPECT_EQ(r.openError, ENOENT);
  EXPECT_EQ(r.reason, DescribeOpenError(gone.root / "pedal", ENOENT));
}

TEST(WriteFirmwareImage, WritesThePedalsOwnImageOrSaysWhyNot) {
  for (uint8_t model = 0; model < kModelCount; ++model) {
    SimRun run(model, 7);
    ASSERT_TRUE(run.device.Open(run.root / "pedal", kGenericRead | kGenericWrite, 3));
    std::string reason;
    EXPECT_TRUE(WriteFirmwareImage(run.device, model, reason)) << reason;
    run.device.Close();
    const std::span<const uint8_t> image = FirmwareImage(model);
    EXPECT_EQ(FileBytes(run.root.path() / "pedal" / "firmware.bin"),
              std::vector<uint8_t>(image.begin(), image.end()));
    uint16_t now = 0;
    ASSERT_TRUE(ReadSimulatedFirmwareVersion(run.root / "pedal", now, reason));
    EXPECT_EQ(now, 8) << "the pedal takes its version from the image's last two bytes";
  }
  SimRun refused(1, 7, "fail WriteFirmware\n");
  ASSERT_TRUE(refused.device.Open(refused.root / "pedal", kGenericRead | kGenericWrite, 3));
  std::string reason;
  EXPECT_FALSE(WriteFirmwareImage(refused.device, 1, reason));
  EXPECT_EQ(reason, "the pedal refused the command (sense 04/44/00)");
}

TEST(WriteFirmwareImage, DevelopmentImagesNeverReachARealPedal) {
  if (!FirmwareImagesAreDevelopment()) GTEST_SKIP() << "built with the maker's images";
  FakePlatform real;  // a pedal on a native platform
  real.replies.push_back({testing::GoodResult(), {0x07, 0x00}});
  CMassStorageDevice device(real);
  const FirmwareReading r = CheckFirmware(device, "/dev/sg3", 0);
  EXPECT_EQ(r.verdict, FirmwareVerdict::NeedsUpdate);
  EXPECT_FALSE(r.imageWritable);
  ASSERT_TRUE(device.Open("/dev/sg3", kGenericRead | kGenericWrite, 3));
  std::string reason;
  EXPECT_FALSE(WriteFirmwareImage(device, 0, reason));
  EXPECT_FALSE(reason.empty());
  ASSERT_EQ(real.sent.size(), 1u) << "only the version read is sent";
  EXPECT_EQ(real.sent[0].request.cdb[1], 0x01);
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
