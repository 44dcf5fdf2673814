// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/pedal-gadget/scsi_target.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace rendax {
namespace {

ScsiCommand Command(std::vector<uint8_t> cdb, HostPhase phase, uint32_t length) {
  ScsiCommand c;
  std::copy(cdb.begin(), cdb.end(), c.cdb.begin());
  c.cdbLength = static_cast<uint8_t>(cdb.size());
  c.phase = phase;
  c.length = length;
  return c;
}

PedalScsiTarget Target(VendorHandler vendor = {}) {
  return PedalScsiTarget("RENDAX_TWIN", 64, std::move(vendor));
}

// The commands a host's disk drivers send at attach time: each answers with the data the host
// expects to parse, cut to the allocation length.
TEST(PedalScsiTarget, AnswersTheAttachCommands) {
  struct Case {
    const char* name;
    std::vector<uint8_t> cdb;
    std::vector<uint8_t> expectedPrefix;
    size_t expectedSize;
  };
  const std::vector<Case> cases = {
      {"inquiry", {0x12, 0, 0, 0, 36, 0}, {0x00, 0x80}, 36},
      {"inquiry cut to 5", {0x12, 0, 0, 0, 5, 0}, {0x00, 0x80}, 5},
      {"vpd page list", {0x12, 1, 0, 0, 255, 0}, {0x00, 0x00, 0x00, 0x01, 0x00}, 5},
      {"read capacity", {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 63, 0, 0, 2, 0}, 8},
      {"mode sense 6 all pages", {0x1A, 0, 0x3F, 0, 192, 0}, {23, 0, 0x80, 0, 0x08, 18}, 24},
      {"mode sense 6 header only", {0x1A, 0, 0x3F, 0, 4, 0}, {23, 0, 0x80, 0}, 4},
      {"mode sense 10 caching", {0x5A, 0, 0x08, 0, 0, 0, 0, 0, 255, 0}, {0, 26, 0, 0x80}, 28},
      {"read 2 blocks", {0x28, 0, 0, 0, 0, 62, 0, 0, 2, 0}, {0, 0, 0, 0}, 1024},
      {"test unit ready", {0x00, 0, 0, 0, 0, 0}, {}, 0},
      {"prevent removal", {0x1E, 0, 0, 0, 1, 0}, {}, 0},
      {"synchronize cache", {0x35, 0, 0, 0, 0, 0, 0, 0, 0, 0}, {}, 0},
  };
  for (const auto& c : cases) {
    auto target = Target();
    std::vector<uint8_t> data;
    const auto outcome = target.Execute(Command(c.cdb, HostPhase::In, 4096), data);
    EXPECT_EQ(outcome.status, kScsiStatusGood) << c.name;
    ASSERT_EQ(data.size(), c.expectedSize) << c.name;
    EXPECT_TRUE(std::equal(c.expectedPrefix.begin(), c.expectedPrefix.end(), data.begin()))
        << c.name;
  }
}

TEST(PedalScsiTarget, InquiryCarriesThePedalStrings) {
  auto target = Target();
  std::vector<uint8_t> data;
  target.Execute(Command({0x12, 0, 0, 0, 36, 0}, HostPhase::In, 36), data);
  ASSERT_EQ(data.size(), 36u);
  EXPECT_EQ(std::string(data.begin() + 8, data.begin() + 16), "QELM    ");
  EXPECT_EQ(std::string(data.begin() + 16, data.begin() + 32), "RENDAX_TWIN     ");
  // Above SCSI-2, so the host's midlayer leaves CDB byte 1 (the subcommand) alone.
  EXPECT_GT(data[2], 0x02);
}

// Refused commands: CHECK CONDITION, and the sense that tells why reaches the next REQUEST
// SENSE exactly once.
TEST(PedalScsiTarget, RefusalsLeaveSenseForOneRequestSense) {
  struct Case {
    const char* name;
    std::vector<uint8_t> cdb;
    uint8_t asc;
  };
  const std::vector<Case> cases = {
      {"unknown opcode", {0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 0x20},
      {"read capacity 16", {0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0}, 0x20},
      {"read past the end", {0x28, 0, 0, 0, 0, 63, 0, 0, 2, 0}, 0x21},
      {"unsupported vpd page", {0x12, 1, 0x83, 0, 255, 0}, 0x24},
      {"unsupported mode page", {0x1A, 0, 0x1C, 0, 192, 0}, 0x24},
  };
  for (const auto& c : cases) {
    auto target = Target();
    std::vector<uint8_t> data;
    EXPECT_EQ(target.Execute(Command(c.cdb, HostPhase::In, 512), data).status,
              kScsiStatusCheckCondition)
        << c.name;
    EXPECT_TRUE(data.empty()) << c.name;
    target.Execute(Command({0x03, 0, 0, 0, 18, 0}, HostPhase::In, 18), data);
    ASSERT_EQ(data.size(), 18u) << c.name;
    EXPECT_EQ(data[0], 0x70) << c.name;
    EXPECT_EQ(data[2], 0x05) << c.name;  // ILLEGAL REQUEST
    EXPECT_EQ(data[12], c.asc) << c.name;
    target.Execute(Command({0x03, 0, 0, 0, 18, 0}, HostPhase::In, 18), data);
    EXPECT_EQ(data[2], 0x00) << c.name << ": sense handed over twice";
  }
}

// Vendor commands go to the firmware with the host's direction and length, and its answer
// (data, residue, sense, a pulled cable) comes back unchanged.
TEST(PedalScsiTarget, VendorCommandsReachTheFirmware) {
  PassThroughRequest seen;
  PassThroughResult reply;
  reply.outcome = CommandOutcome::Good;
  auto target = Target([&](const PassThroughRequest& r) {
    seen = r;
    if (r.direction == DataDirection::In && r.dataLength >= 2) {
      static_cast<uint8_t*>(r.data)[0] = 0x08;
    }
    return reply;
  });
  std::vector<uint8_t> data;
  EXPECT_EQ(
      target.Execute(Command({0xCB, 0x01, 0, 0, 0, 0, 0, 0, 0, 0}, HostPhase::In, 2), data).status,
      kScsiStatusGood);
  EXPECT_EQ(seen.direction, DataDirection::In);
  EXPECT_EQ(seen.dataLength, 2u);
  EXPECT_EQ(seen.cdb[1], 0x01);
  EXPECT_EQ(data, (std::vector<uint8_t>{0x08, 0x00}));

  reply.residual = 3;
  target.Execute(Command({0xCB, 0xFE, 0, 0, 1, 0, 0, 0, 0, 0}, HostPhase::In, 5), data);
  EXPECT_EQ(data.size(), 2u) << "the residue shortens the data";

  std::vector<uint8_t> out(5, 0x11);
  reply = PassThroughResult{};
  reply.outcome = CommandOutcome::ScsiStatus;
  reply.scsiStatus = kScsiStatusCheckCondition;
  reply.senseLength = 18;
  reply.sense[0] = 0x70;
  reply.sense[2] = 0x04;
  reply.sense[12] = 0x44;
  EXPECT_EQ(
      target.Execute(Command({0xCB, 0xFE, 0, 0, 0, 0, 0, 0, 0, 0}, HostPhase::Out, 5), out).status,
      kScsiStatusCheckCondition);
  EXPECT_EQ(seen.direction, DataDirection::Out);
  EXPECT_EQ(target.Sense()[2], 0x04);
  EXPECT_EQ(target.Sense()[12], 0x44);

  reply = PassThroughResult{};
  reply.outcome = CommandOutcome::TransportError;
  EXPECT_TRUE(
      target.Execute(Command({0xCB, 0xFF, 1, 0, 1, 0, 0, 0, 0, 0}, HostPhase::In, 65536), data)
          .deviceLost);
}

TEST(PedalScsiTarget, OversizedVendorTransferIsRefusedWithoutReachingTheFirmware) {
  int calls = 0;
  auto target = Target([&](const PassThroughRequest&) {
    ++calls;
    return PassThroughResult{};
  });
  const auto big = Command({0xCB, 0xFF, 1, 0, 0, 0, 0, 0, 0, 0}, HostPhase::Out, 0x80000000u);
  EXPECT_EQ(target.DataOutWanted(big), 0u);
  std::vector<uint8_t> data;
  EXPECT_EQ(target.Execute(big, data).status, kScsiStatusCheckCondition);
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(
      target.DataOutWanted(Command({0xCB, 0xFF, 1, 0, 0, 0, 0, 0, 0, 0}, HostPhase::Out, 65536)),
      65536u);
  EXPECT_EQ(target.DataOutWanted(Command({0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, HostPhase::Out, 512)),
            0u);
}

}  // namespace
}  // namespace rendax
