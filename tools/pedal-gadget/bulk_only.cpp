// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/pedal-gadget/bulk_only.h"

#include <algorithm>
#include <vector>

namespace rendax {
namespace {

uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Data-out arrives in reads of at most this size; a read larger than one transfer block gains
// nothing and makes the kernel allocate more.
constexpr size_t kReadChunk = 65536;

}  // namespace

bool ParseCbw(const uint8_t* data, size_t size, Cbw& cbw) {
  if (size != kCbwBytes || Le32(data) != kCbwSignature) return false;
  const uint8_t flags = data[12];
  const uint8_t lun = data[13];
  const uint8_t cbLength = data[14];
  if ((flags & 0x7F) != 0 || (lun & 0xF0) != 0 || (cbLength & 0xE0) != 0) return false;
  if (lun != 0 || cbLength < 1 || cbLength > 16) return false;
  cbw.tag = Le32(data + 4);
  cbw.lun = lun;
  const uint32_t length = Le32(data + 8);
  cbw.command = ScsiCommand{};
  cbw.command.length = length;
  cbw.command.phase =
      length == 0 ? HostPhase::None : ((flags & 0x80) ? HostPhase::In : HostPhase::Out);
  cbw.command.cdbLength = cbLength;
  std::copy_n(data + 15, cbLength, cbw.command.cdb.begin());
  return true;
}

std::array<uint8_t, kCswBytes> MakeCsw(uint32_t tag, uint32_t residue, uint8_t status) {
  std::array<uint8_t, kCswBytes> csw{};
  PutLe32(csw.data(), kCswSignature);
  PutLe32(csw.data() + 4, tag);
  PutLe32(csw.data() + 8, residue);
  csw[12] = status;
  return csw;
}

ServeResult BulkOnlyTransport::SendStatus(uint32_t tag, uint32_t residue, uint8_t status) {
  const auto csw = MakeCsw(tag, residue, status);
  return pipes_.WriteIn(csw.data(), csw.size()) ? ServeResult::Served : ServeResult::PipeFailed;
}

long BulkOnlyTransport::ReceiveData(std::vector<uint8_t>& data, uint32_t wanted) {
  data.assign(wanted, 0);
  size_t got = 0;
  while (got < wanted) {
    const size_t ask = std::min<size_t>(kReadChunk, wanted - got);
    const long n = pipes_.ReadOut(data.data() + got, ask);
    if (n < 0) return -1;
    got += static_cast<size_t>(n);
    if (static_cast<size_t>(n) < ask) break;  // a short packet ends the host's data early
  }
  data.resize(got);
  return static_cast<long>(got);
}

ServeResult BulkOnlyTransport::ServeOne() {
  // A wrapper is one short packet; read a whole packet's worth so an oversized one shows.
  std::array<uint8_t, 512> wrapper{};
  const long n = pipes_.ReadOut(wrapper.data(), wrapper.size());
  if (n < 0) return ServeResult::PipeFailed;
  Cbw cbw;
  if (!ParseCbw(wrapper.data(), static_cast<size_t>(n), cbw)) {
    // Nothing more is accepted until the host resets the transport.
    pipes_.HaltIn();
    pipes_.HaltOut();
    return pipes_.WaitForReset() ? ServeResult::InvalidWrapper : ServeResult::PipeFailed;
  }
  const ScsiCommand& command = cbw.command;
  const uint32_t hostLength = command.length;
  std::vector<uint8_t> data;

  if (command.phase == HostPhase::Out) {
    const uint32_t wanted = std::min(target_.DataOutWanted(command), hostLength);
    if (wanted == 0) {
      // The device expects no data from the host: it refuses the data phase and tells whether
      // it meant to send data instead (a phase error) or nothing at all.
      const ScsiOutcome outcome = target_.Execute(command, data);
      if (outcome.deviceLost) {
        pipes_.Disconnect();
        return ServeResult::DeviceLost;
      }
      pipes_.HaltOut();
      if (!data.empty()) return SendStatus(cbw.tag, hostLength, kCswPhaseError);
      return SendStatus(cbw.tag, hostLength,
                        outcome.status == kScsiStatusGood ? kCswPassed : kCswFailed);
    }
    const long got = ReceiveData(data, wanted);
    if (got < 0) return ServeResult::PipeFailed;
    if (static_cast<uint32_t>(got) < wanted) {
      // The host sent less than it announced: the command cannot run on partial data.
      return SendStatus(cbw.tag, hostLength - static_cast<uint32_t>(got), kCswPhaseError);
    }
    if (wanted < hostLength) pipes_.HaltOut();
    const ScsiOutcome outcome = target_.Execute(command, data);
    if (outcome.deviceLost) {
      pipes_.Disconnect();
      return ServeResult::DeviceLost;
    }
    return SendStatus(cbw.tag, hostLength - wanted,
                      outcome.status == kScsiStatusGood ? kCswPassed : kCswFailed);
  }

  const ScsiOutcome outcome = target_.Execute(command, data);
  if (outcome.deviceLost) {
    pipes_.Disconnect();
    return ServeResult::DeviceLost;
  }
  const uint8_t status = outcome.status == kScsiStatusGood ? kCswPassed : kCswFailed;
  const uint32_t deviceLength = static_cast<uint32_t>(data.size());

  if (command.phase == HostPhase::None) {
    // The host expects no data: a device that meant to send some has a phase error.
    return SendStatus(cbw.tag, 0, deviceLength > 0 ? kCswPhaseError : status);
  }
  if (deviceLength > hostLength) {
    // The host asked for less than the device means to send: send what fits, then say so.
    if (!pipes_.WriteIn(data.data(), hostLength)) return ServeResult::PipeFailed;
    return SendStatus(cbw.tag, 0, kCswPhaseError);
  }
  if (deviceLength > 0 && !pipes_.WriteIn(data.data(), deviceLength)) {
    return ServeResult::PipeFailed;
  }
  // Less data than asked for: the stall ends the host's transfer, the residue tells how much.
  if (deviceLength < hostLength) pipes_.HaltIn();
  return SendStatus(cbw.tag, hostLength - deviceLength, status);
}

}  // namespace rendax
