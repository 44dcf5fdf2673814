// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/pedal-gadget/scsi_target.h"

#include <algorithm>
#include <cstring>

namespace rendax {
namespace {

constexpr uint8_t kOpTestUnitReady = 0x00;
constexpr uint8_t kOpRequestSense = 0x03;
constexpr uint8_t kOpInquiry = 0x12;
constexpr uint8_t kOpModeSense6 = 0x1A;
constexpr uint8_t kOpPreventAllow = 0x1E;
constexpr uint8_t kOpReadCapacity10 = 0x25;
constexpr uint8_t kOpRead10 = 0x28;
constexpr uint8_t kOpSynchronizeCache10 = 0x35;
constexpr uint8_t kOpModeSense10 = 0x5A;
constexpr uint8_t kOpVendor = 0xCB;

constexpr uint8_t kKeyNoSense = 0x00;
constexpr uint8_t kKeyHardwareError = 0x04;
constexpr uint8_t kKeyIllegalRequest = 0x05;
constexpr uint8_t kAscInvalidOpcode = 0x20;
constexpr uint8_t kAscLbaOutOfRange = 0x21;
constexpr uint8_t kAscInvalidField = 0x24;
constexpr uint8_t kAscInternalFailure = 0x44;

constexpr uint32_t kBlockBytes = 512;
constexpr uint8_t kPageCaching = 0x08;
constexpr uint8_t kPageAll = 0x3F;

uint32_t Be16(const uint8_t* p) {
  return (uint32_t{p[0]} << 8) | p[1];
}
uint32_t Be32(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
}
void PutBe32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
}

std::array<uint8_t, 18> MakeSense(uint8_t key, uint8_t asc, uint8_t ascq) {
  std::array<uint8_t, 18> s{};
  s[0] = 0x70;  // current error, fixed format
  s[2] = key;
  s[7] = 10;  // additional length
  s[12] = asc;
  s[13] = ascq;
  return s;
}

void Truncate(std::vector<uint8_t>& data, uint32_t allocation) {
  if (data.size() > allocation) data.resize(allocation);
}

}  // namespace

PedalScsiTarget::PedalScsiTarget(std::string product, uint32_t blocks, VendorHandler vendor,
                                 uint8_t scsiVersion)
    : product_(std::move(product)),
      blocks_(blocks),
      vendor_(std::move(vendor)),
      scsiVersion_(scsiVersion),
      sense_(MakeSense(kKeyNoSense, 0, 0)) {
  product_.resize(16, ' ');
}

ScsiOutcome PedalScsiTarget::Fail(uint8_t key, uint8_t asc, uint8_t ascq) {
  sense_ = MakeSense(key, asc, ascq);
  return ScsiOutcome{kScsiStatusCheckCondition, false};
}

uint32_t PedalScsiTarget::DataOutWanted(const ScsiCommand& command) const {
  if (command.cdbLength == 0 || command.cdb[0] != kOpVendor) return 0;
  if (command.phase != HostPhase::Out || command.length > kMaxVendorTransfer) return 0;
  return command.length;
}

ScsiOutcome PedalScsiTarget::Execute(const ScsiCommand& command, std::vector<uint8_t>& data) {
  const uint8_t op = command.cdbLength > 0 ? command.cdb[0] : 0xFF;
  if (op == kOpVendor) return Vendor(command, data);
  data.clear();
  if (op == kOpRequestSense) {
    // The sense of the previous command, handed over once.
    data.assign(sense_.begin(), sense_.end());
    Truncate(data, command.cdb[4]);
    sense_ = MakeSense(kKeyNoSense, 0, 0);
    return {};
  }
  sense_ = MakeSense(kKeyNoSense, 0, 0);
  switch (op) {
    case kOpTestUnitReady:
    case kOpPreventAllow:
    case kOpSynchronizeCache10:
      return {};
    case kOpInquiry:
      return Inquiry(command, data);
    case kOpReadCapacity10: {
      data.assign(8, 0);
      PutBe32(data.data(), blocks_ - 1);
      PutBe32(data.data() + 4, kBlockBytes);
      return {};
    }
    case kOpModeSense6:
      return ModeSense(command, data, false);
    case kOpModeSense10:
      return ModeSense(command, data, true);
    case kOpRead10:
      return Read10(command, data);
    default:
      return Fail(kKeyIllegalRequest, kAscInvalidOpcode);
  }
}

ScsiOutcome PedalScsiTarget::Inquiry(const ScsiCommand& c, std::vector<uint8_t>& data) {
  const uint32_t allocation = Be16(&c.cdb[3]);
  if (c.cdb[1] & 0x01) {
    // Vital product data: only the list of pages, which names nothing but itself.
    if (c.cdb[2] != 0x00) return Fail(kKeyIllegalRequest, kAscInvalidField);
    data = {0x00, 0x00, 0x00, 0x01, 0x00};
  } else {
    if (c.cdb[2] != 0x00) return Fail(kKeyIllegalRequest, kAscInvalidField);
    data.assign(36, 0);
    data[0] = 0x00;  // direct-access block device
    data[1] = 0x80;  // removable medium, as the pedal's volume is
    data[2] = scsiVersion_;
    data[3] = 0x02;  // response data format
    data[4] = 31;    // additional length
    std::memcpy(&data[8], "QELM    ", 8);
    std::memcpy(&data[16], product_.data(), 16);
    std::memcpy(&data[32], "0008", 4);
  }
  Truncate(data, allocation);
  return {};
}

ScsiOutcome PedalScsiTarget::ModeSense(const ScsiCommand& c, std::vector<uint8_t>& data, bool ten) {
  const uint8_t pageControl = c.cdb[2] >> 6;
  const uint8_t page = c.cdb[2] & 0x3F;
  if (pageControl == 3) return Fail(kKeyIllegalRequest, 0x39);  // saving not supported
  if (page != kPageAll && page != kPageCaching) return Fail(kKeyIllegalRequest, kAscInvalidField);
  const size_t header = ten ? 8 : 4;
  data.assign(header, 0);
  data[ten ? 3 : 2] = 0x80;  // write protected: the pedal's volume is not for the host to write
  // Caching page: no write cache, so the host never needs to flush one. Changeable values
  // (page control 1) are all zero.
  std::array<uint8_t, 20> caching{};
  caching[0] = kPageCaching;
  caching[1] = 18;
  data.insert(data.end(), caching.begin(), caching.end());
  if (ten) {
    const size_t len = data.size() - 2;
    data[0] = static_cast<uint8_t>(len >> 8);
    data[1] = static_cast<uint8_t>(len);
  } else {
    data[0] = static_cast<uint8_t>(data.size() - 1);
  }
  Truncate(data, ten ? Be16(&c.cdb[7]) : c.cdb[4]);
  return {};
}

ScsiOutcome PedalScsiTarget::Read10(const ScsiCommand& c, std::vector<uint8_t>& data) {
  const uint64_t lba = Be32(&c.cdb[2]);
  const uint64_t count = Be16(&c.cdb[7]);
  if (lba + count > blocks_) return Fail(kKeyIllegalRequest, kAscLbaOutOfRange);
  data.assign(count * kBlockBytes, 0);  // the medium is empty
  return {};
}

ScsiOutcome PedalScsiTarget::Vendor(const ScsiCommand& c, std::vector<uint8_t>& data) {
  if (c.length > kMaxVendorTransfer) {
    data.clear();
    return Fail(kKeyIllegalRequest, kAscInvalidField);
  }
  PassThroughRequest request;
  std::copy_n(c.cdb.begin(), std::min<size_t>(c.cdbLength, 10), request.cdb.begin());
  request.cdbLength = 10;
  request.direction = c.phase == HostPhase::Out ? DataDirection::Out : DataDirection::In;
  request.senseRequested = 18;
  if (c.phase == HostPhase::In) {
    data.assign(c.length, 0);
  } else if (c.phase == HostPhase::None) {
    data.clear();
  }
  request.dataLength = static_cast<uint32_t>(data.size());
  request.data = data.empty() ? nullptr : data.data();

  const PassThroughResult result = vendor_ ? vendor_(request) : PassThroughResult{};
  const bool in = c.phase == HostPhase::In;
  switch (result.outcome) {
    case CommandOutcome::Good:
      sense_ = MakeSense(kKeyNoSense, 0, 0);
      if (in)
        data.resize(data.size() - std::min<size_t>(result.residual, data.size()));
      else
        data.clear();
      return {};
    case CommandOutcome::ScsiStatus:
      data.clear();
      if (result.senseLength >= 14) {
        std::fill(sense_.begin(), sense_.end(), 0);
        std::copy_n(result.sense.begin(), std::min<size_t>(result.senseLength, sense_.size()),
                    sense_.begin());
        return ScsiOutcome{kScsiStatusCheckCondition, false};
      }
      return Fail(kKeyHardwareError, kAscInternalFailure);
    case CommandOutcome::TransportError:
      // The pedal's cable was pulled: the host gets no status for this command.
      data.clear();
      return ScsiOutcome{kScsiStatusGood, true};
    case CommandOutcome::OsError:
    case CommandOutcome::NotOpen:
      break;
  }
  data.clear();
  return Fail(kKeyHardwareError, kAscInternalFailure);
}

}  // namespace rendax
