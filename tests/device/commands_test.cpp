// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/commands.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cerrno>

#include "fake_platform.h"

namespace rendax {
namespace {
using testing::FakePlatform;
using testing::ScriptedReply;

PassThroughResult Outcome(CommandOutcome outcome, uint8_t status = 0) {
  PassThroughResult r;
  r.outcome = outcome;
  r.scsiStatus = status;
  return r;
}

TEST(Commands, EveryCatalogueCommandBuildsItsExactRequest) {
  struct Case {
    const char* name;
    Cdb cdb;
    DataDirection direction;
    uint32_t length;
    std::array<uint8_t, 10> bytes;
  };
  const Case cases[] = {
      {"GetFirmwareVersion",
       CdbGetFirmwareVersion(),
       DataDirection::In,
       2,
       {0xCB, 0x01, 0, 0, 0, 0, 0, 0, 0, 0}},
      {"WriteFirmware",
       CdbWriteFirmware(),
       DataDirection::Out,
       24576,
       {0xCB, 0x02, 0x00, 0x80, 0, 0, 0, 0, 0, 0}},
      {"LoopInfo read",
       CdbLoopInfoRead(),
       DataDirection::In,
       5,
       {0xCB, 0xFE, 0, 0, 0x01, 0, 0, 0, 0, 0}},
      {"LoopInfo write",
       CdbLoopInfoWrite(),
       DataDirection::Out,
       5,
       {0xCB, 0xFE, 0, 0, 0x00, 0, 0, 0, 0, 0}},
      {"LoopData read",
       CdbLoopDataRead(),
       DataDirection::In,
       65536,
       {0xCB, 0xFF, 0x01, 0, 0x01, 0, 0, 0, 0, 0}},
      {"LoopData write",
       CdbLoopDataWrite(),
       DataDirection::Out,
       4096,
       {0xCB, 0xFF, 0x01, 0, 0x00, 0, 0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakePlatform platform;
    CMassStorageDevice device(platform);
    ASSERT_EQ(device.Open("pedal", kGenericRead | kGenericWrite, 3), 1);
    std::vector<uint8_t> buffer(c.length, 0x5A);
    const int ok = c.direction == DataDirection::In
                       ? SendCommandIn(c.cdb, device, c.length, buffer.data())
                       : SendCommandOut(c.cdb, device, c.length, buffer.data());
    EXPECT_EQ(ok, 1);
    ASSERT_EQ(platform.sent.size(), 1u);
    const PassThroughRequest& r = platform.sent[0].request;
    EXPECT_TRUE(std::equal(c.bytes.begin(), c.bytes.end(), r.cdb.begin()));
    EXPECT_TRUE(std::all_of(r.cdb.begin() + 10, r.cdb.end(), [](uint8_t b) { return b == 0; }));
    EXPECT_EQ(r.cdbLength, 10);
    EXPECT_EQ(r.direction, c.direction);
    EXPECT_EQ(r.dataLength, c.length);
    EXPECT_EQ(r.data, buffer.data()) << "the caller's buffer must be handed through";
    EXPECT_EQ(r.timeoutSeconds, 400u);
    EXPECT_EQ(r.senseRequested, 26);
    EXPECT_EQ(r.pathId, 0);
    EXPECT_EQ(r.targetId, 1);
    EXPECT_EQ(r.lun, 0);
  }
}

TEST(Commands, ClosedDeviceSendsNothing) {
  FakePlatform platform;
  uint8_t buffer[2] = {};
  CMassStorageDevice never(platform);
  EXPECT_EQ(SendCommandIn(CdbGetFirmwareVersion(), never, 2, buffer), 0);

  platform.openError = ENOENT;
  CMassStorageDevice failed(platform);
  EXPECT_EQ(failed.Open("gone", 0, 0), 0);
  EXPECT_EQ(failed.LastOpenError(), ENOENT);
  EXPECT_EQ(SendCommandOut(CdbLoopInfoWrite(), failed, 2, buffer), 0);

  platform.openError = 0;
  CMassStorageDevice closed(platform);
  ASSERT_EQ(closed.Open("pedal", 0, 0), 1);
  closed.Close();
  EXPECT_EQ(SendCommandIn(CdbLoopDataRead(), closed, 2, buffer), 0);
  EXPECT_EQ(closed.LastResult().outcome, CommandOutcome::NotOpen);
  EXPECT_TRUE(platform.sent.empty());
}

TEST(Commands, ResultIsTheCommandsRealOutcome) {
  const std::pair<PassThroughResult, int> cases[] = {
      {Outcome(CommandOutcome::Good), 1},
      {Outcome(CommandOutcome::ScsiStatus, kScsiStatusCheckCondition), 0},
      {Outcome(CommandOutcome::ScsiStatus, 0x08), 0},  // BUSY
      {Outcome(CommandOutcome::TransportError), 0},
      {Outcome(CommandOutcome::OsError), 0},
  };
  for (const auto& [result, expected] : cases) {
    FakePlatform platform;
    platform.replies.push_back(ScriptedReply{result, {}});
    CDevice device(platform);
    ASSERT_EQ(device.Open("pedal", 0, 0), 1);
    uint8_t record[5];
    EXPECT_EQ(SendCommandIn(CdbLoopInfoRead(), device, 5, record), expected)
        << static_cast<int>(result.outcome);
    EXPECT_EQ(device.LastResult().outcome, result.outcome);
  }
}

TEST(Commands, EveryFailedOutcomeSaysWhyInWords) {
  using enum CommandOutcome;
  auto refused = [](std::initializer_list<uint8_t> sense) {
    PassThroughResult r{.outcome = ScsiStatus, .scsiStatus = kScsiStatusCheckCondition};
    r.senseLength = static_cast<uint8_t>(sense.size());
    std::copy(sense.begin(), sense.end(), r.sense.begin());
    return r;
  };
#if defined(_WIN32)
  const int gone = 1167, other = 5;  // ERROR_DEVICE_NOT_CONNECTED, ERROR_ACCESS_DENIED
#else
  const int gone = ENODEV, other = EIO;
#endif
  const std::pair<PassThroughResult, std::string> rows[] = {
      {{.outcome = Good}, ""},
      {{.outcome = NotOpen}, "the pedal is not open"},
      {refused({0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20, 0}),
       "the pedal refused the command (sense 05/20/00)"},
      {refused({0x72, 0x04, 0x44, 0x01}), "the pedal refused the command (sense 04/44/01)"},
      {refused({}), "the pedal answered status 0x02 (check condition)"},
      {{.outcome = ScsiStatus, .scsiStatus = 0x08}, "the pedal answered status 0x08 (busy)"},
      {{.outcome = ScsiStatus, .scsiStatus = 0x3C}, "the pedal answered status 0x3C"},
      {{.outcome = OsError, .osError = gone}, "the pedal was disconnected"},
      {{.outcome = TransportError, .driverStatus = kDriverTimeOut},
       "the pedal did not answer in time"},
      {{.outcome = TransportError, .hostStatus = 0x07},
       "the connection to the pedal failed (host status 0x07, driver status 0x00)"},
  };
  for (const auto& [result, text] : rows) EXPECT_EQ(DescribeCommandResult(result), text);
  // Any other error in the system's own words, made to follow a colon, with its code.
  const std::string said = DescribeCommandResult({.outcome = OsError, .osError = other});
  EXPECT_TRUE(said.ends_with(" (error 5)") && std::islower(said[0])) << said;
}

TEST(Commands, SenseOfOneCommandNeverReachesTheNext) {
  FakePlatform platform;
  PassThroughResult refused = Outcome(CommandOutcome::ScsiStatus, kScsiStatusCheckCondition);
  refused.senseLength = 18;
  refused.sense[0] = 0x70;
  refused.sense[2] = 0x05;
  refused.sense[12] = 0x20;
  platform.replies.push_back({refused, {}});
  platform.replies.push_back({testing::GoodResult(), {}});
  CDevice device(platform);
  ASSERT_EQ(device.Open("pedal", 0, 0), 1);
  uint8_t data[5];
  EXPECT_EQ(SendCommandIn(CdbLoopInfoRead(), device, 5, data), 0);
  EXPECT_EQ(device.LastResult().sense[12], 0x20) << "the refusal's sense stays readable";
  EXPECT_EQ(SendCommandIn(CdbLoopInfoRead(), device, 5, data), 1);
  EXPECT_EQ(device.LastResult().senseLength, 0);
  EXPECT_TRUE(std::all_of(device.LastResult().sense.begin(), device.LastResult().sense.end(),
                          [](uint8_t b) { return b == 0; }));
  EXPECT_EQ(platform.sent[0].request.cdb, platform.sent[1].request.cdb);
}

TEST(Commands, OpenIsRefusedOnAnOpenDeviceAndCloseIsIdempotent) {
  FakePlatform platform;
  {
    CMassStorageDevice device(platform);
    ASSERT_EQ(device.Open("pedal", 0, 0), 1);
    DeviceChannel* first = device.Channel();
    EXPECT_EQ(device.Open("other", 0, 0), 0);
    EXPECT_EQ(device.Channel(), first) << "an open handle is never replaced";
    EXPECT_EQ(platform.opens, 1);
    device.Close();
    device.Close();
    EXPECT_EQ(platform.closes, 1);
    EXPECT_FALSE(device.IsOpen());
    ASSERT_EQ(device.Open("pedal", 0, 0), 1);
  }
  EXPECT_EQ(platform.closes, 2) << "deleting an open device closes its handle";
}

TEST(LoopInfoRecord, LengthIsLittleEndianAfterTheStatus) {
  const uint8_t announced[5] = {0x00, 0x00, 0x10, 0x00, 0x00};
  EXPECT_EQ(DecodeLoopInfo(announced).status, 0);
  EXPECT_EQ(DecodeLoopInfo(announced).length, 4096u);
  const LoopInfo big{1, 0xA1B2C3D4u};
  const auto bytes = EncodeLoopInfo(big);
  EXPECT_EQ(bytes, (std::array<uint8_t, 5>{0x01, 0xD4, 0xC3, 0xB2, 0xA1}));
  EXPECT_EQ(DecodeLoopInfo(bytes.data()).length, big.length);
}

TEST(Commands, FirmwareVersionTakesBothBytesLowFirst) {
  struct Case {
    ScriptedReply reply;
    int ok;
    uint16_t version;
  };
  PassThroughResult shortReply = testing::GoodResult();
  shortReply.residual = 1;
  const Case cases[] = {
      {{testing::GoodResult(), {0x08, 0x00}}, 1, 8},
      {{testing::GoodResult(), {0x08, 0x01}}, 1, 264},
      {{shortReply, {0x08}}, 0, 0xBEEF},
      {{Outcome(CommandOutcome::TransportError), {}}, 0, 0xBEEF},
  };
  for (const Case& c : cases) {
    FakePlatform platform;
    platform.replies.push_back(c.reply);
    CDevice device(platform);
    ASSERT_EQ(device.Open("pedal", 0, 0), 1);
    uint16_t version = 0xBEEF;
    EXPECT_EQ(ReadFirmwareVersion(device, version), c.ok);
    EXPECT_EQ(version, c.version);
  }
}

}  // namespace
}  // namespace rendax
