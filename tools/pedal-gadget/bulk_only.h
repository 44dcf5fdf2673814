// SPDX-License-Identifier: GPL-3.0-or-later
// USB mass-storage bulk-only transport on the device side: command block wrappers in, data,
// command status wrappers out, with the stall and phase-error rules for every combination of
// what the host expects and what the device means to transfer.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "tools/pedal-gadget/scsi_target.h"

namespace rendax {

inline constexpr size_t kCbwBytes = 31;
inline constexpr size_t kCswBytes = 13;
inline constexpr uint32_t kCbwSignature = 0x43425355;  // "USBC"
inline constexpr uint32_t kCswSignature = 0x53425355;  // "USBS"

inline constexpr uint8_t kCswPassed = 0;
inline constexpr uint8_t kCswFailed = 1;
inline constexpr uint8_t kCswPhaseError = 2;

struct Cbw {
  uint32_t tag = 0;
  uint8_t lun = 0;
  ScsiCommand command;
};

// Parses one wrapper as it arrived on the bulk-out pipe. False when it is not valid (size,
// signature) or not meaningful (reserved bits, LUN other than 0, command length not 1..16).
bool ParseCbw(const uint8_t* data, size_t size, Cbw& cbw);
std::array<uint8_t, kCswBytes> MakeCsw(uint32_t tag, uint32_t residue, uint8_t status);

// The two bulk pipes of the interface and its control requests, as the transport needs them.
// The gadget implements it on FunctionFS endpoint files; tests inject a scripted host.
class BulkPipes {
 public:
  virtual ~BulkPipes() = default;
  // One read from the bulk-out pipe of at most `size` bytes: the byte count, or -1 when the
  // pipe failed (disabled, unbound, interrupted by a reset or shutdown).
  virtual long ReadOut(uint8_t* buffer, size_t size) = 0;
  // Sends `size` bytes on the bulk-in pipe; false when the pipe failed.
  virtual bool WriteIn(const uint8_t* buffer, size_t size) = 0;
  virtual void HaltIn() = 0;
  virtual void HaltOut() = 0;
  // Blocks until the host sends a Bulk-Only Mass Storage Reset; false when shutting down.
  virtual bool WaitForReset() = 0;
  // The pedal went away: the device leaves the bus.
  virtual void Disconnect() = 0;
};

enum class ServeResult : uint8_t {
  Served,          // a command ran and its status went out
  InvalidWrapper,  // a bad wrapper was refused; the host has since reset the transport
  PipeFailed,      // a pipe failed mid-command; the command was abandoned
  DeviceLost       // the pedal went away; the device has left the bus
};

class BulkOnlyTransport {
 public:
  BulkOnlyTransport(BulkPipes& pipes, PedalScsiTarget& target) : pipes_(pipes), target_(target) {}

  // Reads one wrapper and carries out its command, data phase and status.
  ServeResult ServeOne();

 private:
  ServeResult SendStatus(uint32_t tag, uint32_t residue, uint8_t status);
  // Receives up to `wanted` bytes of data-out; returns the count or -1 when the pipe failed.
  long ReceiveData(std::vector<uint8_t>& data, uint32_t wanted);

  BulkPipes& pipes_;
  PedalScsiTarget& target_;
};

}  // namespace rendax
