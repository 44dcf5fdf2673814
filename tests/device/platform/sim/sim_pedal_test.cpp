// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/platform/sim/sim_pedal.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <numeric>

#include "device/discovery.h"
#include "fake_platform.h"

namespace rendax {
namespace {
using testing::TempDir;
namespace fs = std::filesystem;

// One open of a simulated pedal, with the senders the jobs use.
struct OpenPedal {
  SimulatorPlatform platform;
  CMassStorageDevice device;
  OpenPedal(const TempDir& root, const std::string& name)
      : platform(root.path().string()), device(platform) {
    EXPECT_EQ(device.Open(root / name, kGenericRead | kGenericWrite, 3), 1);
  }
  int Write(const std::vector<uint8_t>& bytes) {
    return SendCommandOut(CdbLoopDataWrite(), device, static_cast<uint32_t>(bytes.size()),
                          bytes.data());
  }
  std::vector<uint8_t> Read(uint32_t n) {
    std::vector<uint8_t> out(n, 0xEE);
    EXPECT_EQ(SendCommandIn(CdbLoopDataRead(), device, n, out.data()), 1);
    return out;
  }
  LoopInfo Info() {
    uint8_t record[5] = {};
    EXPECT_EQ(SendCommandIn(CdbLoopInfoRead(), device, 5, record), 1);
    return DecodeLoopInfo(record);
  }
  int SetInfo(const LoopInfo& info) {
    const auto record = EncodeLoopInfo(info);
    return SendCommandOut(CdbLoopInfoWrite(), device, 5, record.data());
  }
};

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  std::iota(v.begin(), v.end(), seed);
  return v;
}

std::vector<uint8_t> Stored(const TempDir& root, const std::string& name,
                            LoopInfo* info = nullptr) {
  std::vector<uint8_t> stream;
  LoopInfo li;
  std::string error;
  EXPECT_TRUE(ReadSimulatedLoop(root / name, stream, li, error)) << error;
  if (info) *info = li;
  return stream;
}

TEST(SimulatedPedal, LoopStreamMovesInOrderAndKeepsWhatItWasSent) {
  TempDir root;
  std::string error;
  ASSERT_TRUE(CreateSimulatedPedal(root / "p", 0, 8, error)) << error;
  const std::vector<uint8_t> old = Pattern(10000, 7);
  ASSERT_TRUE(WriteSimulatedLoop(root / "p", old, LoopInfo{0, 10000}, error));

  const std::vector<uint8_t> a = Pattern(4096, 1), b = Pattern(2048, 100);
  {
    OpenPedal pedal(root, "p");
    ASSERT_EQ(pedal.Write(a), 1);
    ASSERT_EQ(pedal.Write(b), 1);
    // Mid-import, the pedal holds the new bytes over the old loop's tail.
    EXPECT_EQ(Stored(root, "p").size(), old.size());
    ASSERT_EQ(pedal.SetInfo(LoopInfo{0, 6000}), 1);
  }
  LoopInfo info;
  std::vector<uint8_t> expected = a;
  expected.insert(expected.end(), b.begin(), b.end());
  EXPECT_EQ(Stored(root, "p", &info), expected) << "cut to the end of the last write";
  EXPECT_EQ(info.length, 6000u);

  OpenPedal pedal(root, "p");
  EXPECT_EQ(pedal.Info().length, 6000u);
  EXPECT_EQ(pedal.Read(4096), a);
  EXPECT_EQ(pedal.Info().status, 0) << "LoopInfo read rewinds";
  EXPECT_EQ(pedal.Read(4096), a);
  const std::vector<uint8_t> tail = pedal.Read(4096);
  EXPECT_TRUE(std::equal(b.begin(), b.end(), tail.begin()));
  EXPECT_TRUE(std::all_of(tail.begin() + 2048, tail.end(), [](uint8_t x) { return x == 0; }))
      << "past the stream the pedal reads zeros";
}

TEST(SimulatedPedal, RefusesUnknownOrMisdirectedCommandsWithIllegalRequest) {
  TempDir root;
  std::string error;
  ASSERT_TRUE(CreateSimulatedPedal(root / "p", 0, 8, error));
  SimulatedPedalFirmware firmware(root / "p");
  uint8_t data[8] = {};
  struct Case {
    Cdb cdb;
    DataDirection direction;
    uint8_t asc;
  };
  const Case cases[] = {
      {{0x12, 0, 0, 0, 36, 0, 0, 0, 0, 0}, DataDirection::In, 0x20},       // INQUIRY
      {{0xCB, 0x03, 0, 0, 0, 0, 0, 0, 0, 0}, DataDirection::In, 0x20},     // no such subcommand
      {{0xCB, 0x01, 0, 0, 0, 0, 0, 0, 0, 0x01}, DataDirection::In, 0x20},  // stray byte 9
      {CdbGetFirmwareVersion(), DataDirection::Out, 0x24},                 // wrong direction
      {CdbLoopInfoWrite(), DataDirection::Out, 0x24},                      // 8 bytes, not 5
  };
  for (const Case& c : cases) {
    PassThroughRequest request;
    std::copy(c.cdb.begin(), c.cdb.end(), request.cdb.begin());
    request.direction = c.direction;
    request.dataLength = sizeof data;
    request.data = data;
    const PassThroughResult r = firmware.Execute(request);
    EXPECT_EQ(r.outcome, CommandOutcome::ScsiStatus);
    EXPECT_EQ(r.scsiStatus, kScsiStatusCheckCondition);
    EXPECT_EQ(r.sense[0], 0x70);
    EXPECT_EQ(r.sense[2], 0x05);
    EXPECT_EQ(r.sense[12], c.asc);
    EXPECT_LE(r.senseLength, 26);
  }
}

TEST(SimulatedPedal, FaultScriptFailsTheChosenCommands) {
  TempDir root;
  std::string error;
  ASSERT_TRUE(CreateSimulatedPedal(root / "p", 0, 8, error));
  ASSERT_TRUE(WriteSimulatedFaults(root / "p",
                                   "# a comment\nfail LoopDataWrite 3\nfrobnicate 9\n"
                                   "fail GetFirmwareVersion\n",
                                   error));
  const std::vector<uint8_t> block(512, 1);
  for (int open = 0; open < 2; ++open) {  // counts start again at each open
    OpenPedal pedal(root, "p");
    EXPECT_EQ(pedal.Write(block), 1);
    EXPECT_EQ(pedal.Write(block), 1);
    EXPECT_EQ(pedal.Write(block), 0);
    EXPECT_EQ(pedal.device.LastResult().sense[2], 0x04) << "HARDWARE ERROR";
    EXPECT_EQ(pedal.Write(block), 1);
    uint16_t version = 0;
    EXPECT_EQ(ReadFirmwareVersion(pedal.device, version), 0);
  }
}

TEST(SimulatedPedal, PulledCableKeepsWrittenDataAndHidesThePedal) {
  TempDir root;
  std::string error;
  ASSERT_TRUE(CreateSimulatedPedal(root / "p", 2, 8, error));
  ASSERT_TRUE(WriteSimulatedFaults(root / "p", "unplug-after 2\n", error));
  SimulatorPlatform platform(root.path().string());
  {
    OpenPedal pedal(root, "p");
    EXPECT_EQ(pedal.Write(Pattern(1000, 0)), 1);
    EXPECT_EQ(pedal.Write(Pattern(1000, 50)), 1);
    EXPECT_EQ(pedal.Write(Pattern(1000, 99)), 0);
    EXPECT_EQ(pedal.device.LastResult().outcome, CommandOutcome::TransportError);
  }
  EXPECT_EQ(Stored(root, "p").size(), 2000u);
  std::vector<std::string> paths;
  ASSERT_TRUE(platform.ListCandidates(paths, error));
  EXPECT_TRUE(paths.empty());
  EXPECT_FALSE(platform.Identify(root / "p"));
  int osError = 0;
  EXPECT_EQ(platform.Open(root / "p", 0, 0, osError), nullptr);
  EXPECT_EQ(osError, ENODEV);
  fs::remove(root.path() / "p" / "unplugged");
  EXPECT_NE(platform.Open(root / "p", 0, 0, osError), nullptr) << "plugged back in";
}

TEST(SimulatorPlatform, EachPedalFolderIsAnAttachedUsbPedalInNameOrder) {
  TempDir root;
  std::string error;
  ASSERT_TRUE(CreateSimulatedPedal(root / "b-twin", 1, 8, error));
  ASSERT_TRUE(CreateSimulatedPedal(root / "a-mini", 2, 8, error));
  fs::create_directory(root.path() / "c-empty");  // no model: not a pedal
  SimulatorPlatform platform(root.path().string());
  std::vector<std::string> paths;
  ASSERT_TRUE(platform.ListCandidates(paths, error));
  EXPECT_EQ(paths, (std::vector<std::string>{root / "a-mini", root / "b-twin"}));
  const auto id = platform.Identify(paths[1]);
  ASSERT_TRUE(id);
  EXPECT_TRUE(id->usb);
  EXPECT_EQ(id->vendor, "QELM    ");
  EXPECT_EQ(id->product, "RENDAX_TWIN     ");

  std::string found;
  ASSERT_EQ(FindPedal(platform, 2, found), 1);
  EXPECT_EQ(found, root / "a-mini");

  SimulatorPlatform missing(root / "nowhere");
  EXPECT_FALSE(missing.ListCandidates(paths, error));
  EXPECT_NE(error.find("nowhere"), std::string::npos);

#ifdef _WIN32
  _putenv_s("RENDAX_SIMULATOR", root.path().string().c_str());
  auto* sim = dynamic_cast<SimulatorPlatform*>(&DefaultPlatform());
  _putenv_s("RENDAX_SIMULATOR", "");
#else
  setenv("RENDAX_SIMULATOR", root.path().c_str(), 1);
  auto* sim = dynamic_cast<SimulatorPlatform*>(&DefaultPlatform());
  unsetenv("RENDAX_SIMULATOR");
#endif
  ASSERT_NE(sim, nullptr);
  EXPECT_EQ(sim->Root(), root.path().string());
  EXPECT_EQ(dynamic_cast<SimulatorPlatform*>(&DefaultPlatform()), nullptr);
}

}  // namespace
}  // namespace rendax
