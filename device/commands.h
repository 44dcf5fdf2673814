// SPDX-License-Identifier: GPL-3.0-or-later
// The pedal's vendor command set (opcode 0xCB) and the two senders.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "device/device.h"

namespace rendax {

using Cdb = std::array<uint8_t, 10>;

inline constexpr uint8_t kVendorOpcode = 0xCB;
inline constexpr uint32_t kFirmwareImageBytes = 24576;
inline constexpr uint32_t kLoopInfoBytes = 5;

// The catalogue: every CDB byte of every command.
Cdb CdbGetFirmwareVersion();  // CB 01 00 00 00 ...
Cdb CdbWriteFirmware();       // CB 02 00 80 00 ...
Cdb CdbLoopInfoRead();        // CB FE 00 00 01 ...
Cdb CdbLoopInfoWrite();       // CB FE 00 00 00 ...
Cdb CdbLoopDataRead();        // CB FF 01 00 01 ...
Cdb CdbLoopDataWrite();       // CB FF 01 00 00 ...

// Sends `cdb` and lets the device fill `length` bytes of `buffer`. Returns 1 when the command
// completed with GOOD status, 0 when the device is closed (nothing is sent), the platform call
// failed, or the device answered another status. The outcome and sense stay in
// device.LastResult().
int SendCommandIn(const Cdb& cdb, CDevice& device, uint32_t length, void* buffer);
// The same with `length` bytes of `buffer` sent to the device.
int SendCommandOut(const Cdb& cdb, CDevice& device, uint32_t length, const void* buffer);

// Why a command failed, as a short lower-case phrase to follow a message ("the pedal was
// disconnected", "the pedal refused the command (sense 05/20/00)"). Empty for a GOOD command.
std::string DescribeCommandResult(const PassThroughResult& r);

// The 5-byte loop info record: status, then the page stream's length, little-endian.
struct LoopInfo {
  uint8_t status = 0;
  uint32_t length = 0;
};
std::array<uint8_t, kLoopInfoBytes> EncodeLoopInfo(const LoopInfo& info);
LoopInfo DecodeLoopInfo(const uint8_t* record);
// True when the record says the pedal holds a loop (status 1 or length 0: none).
inline bool HoldsLoop(const LoopInfo& info) {
  return info.status != 1 && info.length != 0;
}

// Reads the firmware version of an open pedal (two bytes, low-order first). Returns 1 and sets
// `version` when the pedal delivered both bytes with GOOD status; 0 otherwise (`version` kept).
int ReadFirmwareVersion(CDevice& device, uint16_t& version);

}  // namespace rendax
