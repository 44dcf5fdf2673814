// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/pedal-gadget/bulk_only.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <vector>

namespace rendax {
namespace {

// A scripted host: hands out queued bulk-out transfers, records everything the device does.
class ScriptedHost : public BulkPipes {
 public:
  std::deque<std::vector<uint8_t>> outgoing;
  std::vector<std::string> log;  // "in 36", "halt-in", "halt-out", "wait-reset", "disconnect"
  std::vector<std::vector<uint8_t>> sent;

  long ReadOut(uint8_t* buffer, size_t size) override {
    if (outgoing.empty()) return -1;
    auto transfer = outgoing.front();
    outgoing.pop_front();
    const size_t n = std::min(size, transfer.size());
    std::copy_n(transfer.begin(), n, buffer);
    return static_cast<long>(n);
  }
  bool WriteIn(const uint8_t* buffer, size_t size) override {
    sent.emplace_back(buffer, buffer + size);
    log.push_back("in " + std::to_string(size));
    return true;
  }
  void HaltIn() override { log.push_back("halt-in"); }
  void HaltOut() override { log.push_back("halt-out"); }
  bool WaitForReset() override {
    log.push_back("wait-reset");
    return true;
  }
  void Disconnect() override { log.push_back("disconnect"); }
};

std::vector<uint8_t> Wrapper(uint32_t tag, uint32_t length, bool in, std::vector<uint8_t> cdb) {
  std::vector<uint8_t> w(kCbwBytes, 0);
  auto put = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) w[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put(0, kCbwSignature);
  put(4, tag);
  put(8, length);
  w[12] = in ? 0x80 : 0x00;
  w[14] = static_cast<uint8_t>(cdb.size());
  std::copy(cdb.begin(), cdb.end(), w.begin() + 15);
  return w;
}

struct Status {
  uint32_t tag = 0, residue = 0;
  int status = -1;
};

Status LastStatus(const ScriptedHost& host) {
  Status s;
  if (host.sent.empty() || host.sent.back().size() != kCswBytes) return s;
  const auto& c = host.sent.back();
  auto get = [&](size_t at) {
    return uint32_t{c[at]} | (uint32_t{c[at + 1]} << 8) | (uint32_t{c[at + 2]} << 16) |
           (uint32_t{c[at + 3]} << 24);
  };
  if (get(0) != kCswSignature) return s;
  s.tag = get(4);
  s.residue = get(8);
  s.status = c[12];
  return s;
}

const std::vector<uint8_t> kTestUnitReady = {0x00, 0, 0, 0, 0, 0};
const std::vector<uint8_t> kInquiry36 = {0x12, 0, 0, 0, 36, 0};
const std::vector<uint8_t> kLoopInfoWrite = {0xCB, 0xFE, 0, 0, 0, 0, 0, 0, 0, 0};

// Every combination of the host's expectation and the device's intention that a host can
// produce: what goes over the pipes, which pipe stalls, and the status with its residue.
TEST(BulkOnlyTransport, HostAndDeviceExpectations) {
  struct Case {
    const char* name;
    uint32_t hostLength;
    bool in;
    std::vector<uint8_t> cdb;
    std::vector<std::vector<uint8_t>> data;  // bulk-out transfers after the wrapper
    std::vector<std::string> log;            // device actions before the status
    int status;
    uint32_t residue;
  };
  const std::vector<Case> cases = {
      {"no data either side", 0, false, kTestUnitReady, {}, {}, kCswPassed, 0},
      {"device would send, host expects none", 0, true, kInquiry36, {}, {}, kCswPhaseError, 0},
      {"host expects data, device has none",
       36,
       true,
       kTestUnitReady,
       {},
       {"halt-in"},
       kCswPassed,
       36},
      {"device sends less than asked",
       64,
       true,
       kInquiry36,
       {},
       {"in 36", "halt-in"},
       kCswPassed,
       28},
      {"device sends exactly what was asked", 36, true, kInquiry36, {}, {"in 36"}, kCswPassed, 0},
      {"device would send more than asked", 8, true, kInquiry36, {}, {"in 8"}, kCswPhaseError, 0},
      {"host sends data the device does not want",
       512,
       false,
       kTestUnitReady,
       {},
       {"halt-out"},
       kCswPassed,
       512},
      {"host sends, device would send",
       36,
       false,
       kInquiry36,
       {},
       {"halt-out"},
       kCswPhaseError,
       36},
      {"host sends what the device wants",
       5,
       false,
       kLoopInfoWrite,
       {{0, 1, 2, 3, 4}},
       {},
       kCswPassed,
       0},
      {"host sends less than it announced",
       5,
       false,
       kLoopInfoWrite,
       {{0, 1, 2}},
       {},
       kCswPhaseError,
       2},
      {"refused command with data-in",
       512,
       true,
       {0x2A, 0, 0, 0, 0, 0, 0, 0, 1, 0},
       {},
       {"halt-in"},
       kCswFailed,
       512},
  };
  for (const auto& c : cases) {
    std::vector<uint8_t> received;
    PedalScsiTarget target("RENDAX", 64, [&](const PassThroughRequest& r) {
      if (r.direction == DataDirection::Out) {
        const auto* p = static_cast<const uint8_t*>(r.data);
        received.assign(p, p + r.dataLength);
      }
      PassThroughResult ok;
      ok.outcome = CommandOutcome::Good;
      return ok;
    });
    ScriptedHost host;
    host.outgoing.push_back(Wrapper(0xA5A50000u + c.hostLength, c.hostLength, c.in, c.cdb));
    for (const auto& d : c.data) host.outgoing.push_back(d);
    BulkOnlyTransport transport(host, target);
    EXPECT_EQ(transport.ServeOne(), ServeResult::Served) << c.name;
    auto log = c.log;
    log.push_back("in 13");
    EXPECT_EQ(host.log, log) << c.name;
    const Status s = LastStatus(host);
    EXPECT_EQ(s.tag, 0xA5A50000u + c.hostLength) << c.name;
    EXPECT_EQ(s.status, c.status) << c.name;
    EXPECT_EQ(s.residue, c.residue) << c.name;
    if (c.status == kCswPassed && !c.data.empty()) {
      EXPECT_EQ(received, c.data.front()) << c.name << ": the firmware got the host's bytes";
    }
  }
}

TEST(BulkOnlyTransport, BadWrappersStallBothPipesUntilReset) {
  auto good = Wrapper(7, 0, false, kTestUnitReady);
  auto badSignature = good;
  badSignature[0] ^= 1;
  auto badLun = good;
  badLun[13] = 1;
  auto badLength = good;
  badLength[14] = 17;
  auto longWrapper = good;
  longWrapper.push_back(0);
  for (const auto& wrapper : {badSignature, badLun, badLength, longWrapper}) {
    PedalScsiTarget target("RENDAX", 64, {});
    ScriptedHost host;
    host.outgoing.push_back(wrapper);
    BulkOnlyTransport transport(host, target);
    EXPECT_EQ(transport.ServeOne(), ServeResult::InvalidWrapper);
    EXPECT_EQ(host.log, (std::vector<std::string>{"halt-in", "halt-out", "wait-reset"}));
  }
}

TEST(BulkOnlyTransport, PulledCableSendsNoStatusAndLeavesTheBus) {
  PedalScsiTarget target("RENDAX", 64, [](const PassThroughRequest&) {
    PassThroughResult r;
    r.outcome = CommandOutcome::TransportError;
    return r;
  });
  for (bool in : {true, false}) {
    ScriptedHost host;
    host.outgoing.push_back(
        Wrapper(9, 5, in, {0xCB, 0xFE, 0, 0, static_cast<uint8_t>(in), 0, 0, 0, 0, 0}));
    host.outgoing.push_back({0, 0, 0, 0, 0});
    BulkOnlyTransport transport(host, target);
    EXPECT_EQ(transport.ServeOne(), ServeResult::DeviceLost);
    EXPECT_EQ(host.log, (std::vector<std::string>{"disconnect"}));
  }
}

TEST(BulkOnlyTransport, LargeDataOutArrivesInSeveralReads) {
  std::vector<uint8_t> received;
  PedalScsiTarget target("RENDAX", 64, [&](const PassThroughRequest& r) {
    const auto* p = static_cast<const uint8_t*>(r.data);
    received.assign(p, p + r.dataLength);
    PassThroughResult ok;
    ok.outcome = CommandOutcome::Good;
    return ok;
  });
  ScriptedHost host;
  const uint32_t length = 3 * 65536;
  host.outgoing.push_back(Wrapper(1, length, false, {0xCB, 0xFF, 1, 0, 0, 0, 0, 0, 0, 0}));
  std::vector<uint8_t> all(length);
  for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<uint8_t>(i * 7);
  for (size_t at = 0; at < all.size(); at += 65536) {
    host.outgoing.emplace_back(all.begin() + at, all.begin() + at + 65536);
  }
  BulkOnlyTransport transport(host, target);
  EXPECT_EQ(transport.ServeOne(), ServeResult::Served);
  EXPECT_EQ(received, all);
  EXPECT_EQ(LastStatus(host).status, kCswPassed);
}

}  // namespace
}  // namespace rendax
