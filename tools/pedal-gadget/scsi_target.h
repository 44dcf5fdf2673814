// SPDX-License-Identifier: GPL-3.0-or-later
// The SCSI side of the gadget pedal: the commands a host's disk drivers send while attaching a
// USB disk, plus the pedal's vendor commands, handed to the pedal's firmware logic.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "device/pass_through.h"

namespace rendax {

// What the host announced in the command block wrapper: the data phase it expects.
enum class HostPhase : uint8_t { None, In, Out };

// One command as the transport hands it over.
struct ScsiCommand {
  std::array<uint8_t, 16> cdb{};
  uint8_t cdbLength = 0;
  HostPhase phase = HostPhase::None;
  uint32_t length = 0;  // the host's expected transfer length (0 with HostPhase::None)
};

// How a command ended, seen from the transport.
struct ScsiOutcome {
  uint8_t status = kScsiStatusGood;  // GOOD or CHECK CONDITION
  bool deviceLost = false;           // the pedal went away: no status is sent at all
};

// Runs a vendor command on the pedal's firmware; the gadget plugs in the simulated pedal.
using VendorHandler = std::function<PassThroughResult(const PassThroughRequest&)>;

// Largest data phase the gadget accepts for a vendor command. A pedal moves at most one
// 65,536-byte transfer block per command; a host asking for more gets ILLEGAL REQUEST instead of
// making the gadget allocate whatever the wrapper says.
inline constexpr uint32_t kMaxVendorTransfer = 1u << 20;

// The logical unit of the pedal. Not thread-safe: one transport drives it.
class PedalScsiTarget {
 public:
  // `product` is the 16-character product identification; `blocks` the size of the empty
  // medium in 512-byte blocks.
  PedalScsiTarget(std::string product, uint32_t blocks, VendorHandler vendor,
                  uint8_t scsiVersion = 0x04);

  // How many bytes the device wants to receive before it can run `command`; 0 for every
  // command but a vendor command with a data-out phase (then the host's length, when allowed).
  uint32_t DataOutWanted(const ScsiCommand& command) const;

  // Runs `command`. For a data-out command `data` holds what the host sent; for the others
  // `data` comes back holding what the device means to send (possibly nothing). The sense of a
  // failed command is kept for the next REQUEST SENSE.
  ScsiOutcome Execute(const ScsiCommand& command, std::vector<uint8_t>& data);

  // Fixed-format sense of the last command (NO SENSE after a good one).
  const std::array<uint8_t, 18>& Sense() const { return sense_; }

 private:
  ScsiOutcome Fail(uint8_t key, uint8_t asc, uint8_t ascq = 0);
  ScsiOutcome Inquiry(const ScsiCommand& c, std::vector<uint8_t>& data);
  ScsiOutcome ModeSense(const ScsiCommand& c, std::vector<uint8_t>& data, bool ten);
  ScsiOutcome Read10(const ScsiCommand& c, std::vector<uint8_t>& data);
  ScsiOutcome Vendor(const ScsiCommand& c, std::vector<uint8_t>& data);

  std::string product_;
  uint32_t blocks_;
  VendorHandler vendor_;
  uint8_t scsiVersion_;
  std::array<uint8_t, 18> sense_{};
};

}  // namespace rendax
