// SPDX-License-Identifier: GPL-3.0-or-later
// One SCSI pass-through request, platform-neutral. Every backend maps it to its own call
// (SG_IO on Linux, SCSI_PASS_THROUGH_DIRECT on Windows, the simulated pedal's firmware).
#pragma once

#include <array>
#include <cstdint>

namespace rendax {

enum class DataDirection : uint8_t { In, Out };

// Built from zero for every command; the data buffer is the caller's, never copied.
struct PassThroughRequest {
  std::array<uint8_t, 16> cdb{};  // 10 command bytes, then 6 zero bytes
  uint8_t cdbLength = 10;
  DataDirection direction = DataDirection::In;
  uint32_t dataLength = 0;
  void* data = nullptr;  // caller's buffer, handed through
  uint32_t timeoutSeconds = 400;
  uint8_t senseRequested = 26;  // of a 32-byte sense area
  uint8_t pathId = 0;
  uint8_t targetId = 1;
  uint8_t lun = 0;
};

// How one command ended. The OS error is kept apart from the SCSI status.
enum class CommandOutcome : uint8_t {
  Good,            // the platform call worked and the device answered GOOD
  ScsiStatus,      // the device answered with another status (CHECK CONDITION, ...)
  TransportError,  // host or driver reported a failure (device gone, timeout, reset)
  OsError,         // the platform call itself failed (errno / GetLastError in osError)
  NotOpen          // the device was closed: nothing was sent
};

struct PassThroughResult {
  CommandOutcome outcome = CommandOutcome::NotOpen;
  uint8_t scsiStatus = 0;
  int osError = 0;
  uint32_t residual = 0;  // bytes not transferred; only meaningful when Good
  uint8_t senseLength = 0;
  std::array<uint8_t, 32> sense{};
  // What the host adapter and its driver said about a TransportError, in the Linux sg codes
  // (DID_*, DRIVER_*): they tell a pulled cable from a timeout. Zero where the platform reports
  // none.
  uint16_t hostStatus = 0;
  uint16_t driverStatus = 0;

  bool ok() const { return outcome == CommandOutcome::Good; }
};

inline constexpr uint8_t kScsiStatusGood = 0x00;
inline constexpr uint8_t kScsiStatusCheckCondition = 0x02;

// Host statuses that say why a command never reached the pedal or never came back.
inline constexpr uint16_t kHostNoConnect = 0x01;  // the device is gone
inline constexpr uint16_t kHostTimeOut = 0x03;
// The driver status's low nibble when the command timed out.
inline constexpr uint16_t kDriverTimeOut = 0x06;

}  // namespace rendax
