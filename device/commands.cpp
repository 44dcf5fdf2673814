// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/commands.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <system_error>
#include <utility>

namespace rendax {
namespace {

Cdb Vendor(uint8_t sub, uint8_t p1, uint8_t p2, uint8_t direction) {
  return Cdb{kVendorOpcode, sub, p1, p2, direction, 0, 0, 0, 0, 0};
}

int Send(const Cdb& cdb, CDevice& device, DataDirection direction, uint32_t length, void* buffer) {
  if (!device.IsOpen()) {
    device.SetLastResult(PassThroughResult{});  // NotOpen, no sense
    return 0;
  }
  // Built from zero for every command, so nothing of an earlier command can leak in.
  PassThroughRequest request{};
  std::copy(cdb.begin(), cdb.end(), request.cdb.begin());
  request.direction = direction;
  request.dataLength = length;
  request.data = buffer;
  device.SetLastResult(device.Channel()->Execute(request));
  return device.LastResult().ok() ? 1 : 0;
}

}  // namespace

Cdb CdbGetFirmwareVersion() {
  return Vendor(0x01, 0x00, 0x00, 0);
}
Cdb CdbWriteFirmware() {
  return Vendor(0x02, 0x00, 0x80, 0);
}
Cdb CdbLoopInfoRead() {
  return Vendor(0xFE, 0x00, 0x00, 1);
}
Cdb CdbLoopInfoWrite() {
  return Vendor(0xFE, 0x00, 0x00, 0);
}
Cdb CdbLoopDataRead() {
  return Vendor(0xFF, 0x01, 0x00, 1);
}
Cdb CdbLoopDataWrite() {
  return Vendor(0xFF, 0x01, 0x00, 0);
}

int SendCommandIn(const Cdb& cdb, CDevice& device, uint32_t length, void* buffer) {
  return Send(cdb, device, DataDirection::In, length, buffer);
}

int SendCommandOut(const Cdb& cdb, CDevice& device, uint32_t length, const void* buffer) {
  // The request type carries one pointer for both directions; an Out command only reads it.
  return Send(cdb, device, DataDirection::Out, length, const_cast<void*>(buffer));
}

std::array<uint8_t, kLoopInfoBytes> EncodeLoopInfo(const LoopInfo& info) {
  return {info.status, static_cast<uint8_t>(info.length), static_cast<uint8_t>(info.length >> 8),
          static_cast<uint8_t>(info.length >> 16), static_cast<uint8_t>(info.length >> 24)};
}

LoopInfo DecodeLoopInfo(const uint8_t* record) {
  LoopInfo info;
  info.status = record[0];
  info.length = static_cast<uint32_t>(record[1]) | static_cast<uint32_t>(record[2]) << 8 |
                static_cast<uint32_t>(record[3]) << 16 | static_cast<uint32_t>(record[4]) << 24;
  return info;
}

namespace {

// Two hex digits at least, as sense codes and statuses are written.
std::string Hex2(unsigned value) {
  char text[12];
  std::snprintf(text, sizeof text, "%02X", value);
  return text;
}

const char* StatusName(uint8_t status) {
  static const std::pair<uint8_t, const char*> kNames[] = {{0x02, "check condition"},
                                                           {0x04, "condition met"},
                                                           {0x08, "busy"},
                                                           {0x10, "intermediate"},
                                                           {0x14, "intermediate, condition met"},
                                                           {0x18, "reservation conflict"},
                                                           {0x22, "command terminated"},
                                                           {0x28, "task set full"},
                                                           {0x30, "ACA active"},
                                                           {0x40, "task aborted"}};
  for (const auto& [code, name] : kNames) {
    if (code == status) return name;
  }
  return nullptr;
}

// Key, ASC and ASCQ from fixed (70h/71h) or descriptor (72h/73h) sense; false when the bytes
// hold neither.
bool SenseCodes(const PassThroughResult& r, uint8_t& key, uint8_t& asc, uint8_t& ascq) {
  const size_t n = std::min<size_t>(r.senseLength, r.sense.size());
  const uint8_t format = n > 0 ? r.sense[0] & 0x7F : 0;
  if ((format == 0x70 || format == 0x71) && n >= 3) {
    key = r.sense[2] & 0x0F;
    asc = n > 12 ? r.sense[12] : 0;
    ascq = n > 13 ? r.sense[13] : 0;
    return true;
  }
  if ((format == 0x72 || format == 0x73) && n >= 2) {
    key = r.sense[1] & 0x0F;
    asc = n > 2 ? r.sense[2] : 0;
    ascq = n > 3 ? r.sense[3] : 0;
    return true;
  }
  return false;
}

// A pulled cable, as the host adapter or the system reports a device that is no longer there.
bool SaysGone(const PassThroughResult& r) {
  if (r.hostStatus == kHostNoConnect) return true;
#if defined(_WIN32)
  // ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND, ERROR_BAD_UNIT, ERROR_DEV_NOT_EXIST,
  // ERROR_NO_SUCH_DEVICE, ERROR_DEVICE_NOT_CONNECTED, ERROR_DEVICE_REMOVED
  for (int gone : {2, 3, 20, 55, 433, 1167, 1617}) {
    if (r.osError == gone) return true;
  }
  return false;
#else
  return r.osError == ENODEV || r.osError == ENXIO;
#endif
}

bool SaysTimedOut(const PassThroughResult& r) {
  if (r.hostStatus == kHostTimeOut || (r.driverStatus & 0x0F) == kDriverTimeOut) return true;
#if defined(_WIN32)
  return r.osError == 121 || r.osError == 1460;  // ERROR_SEM_TIMEOUT, ERROR_TIMEOUT
#else
  return r.osError == ETIMEDOUT;
#endif
}

// strerror on Linux, FormatMessage on Windows, made to sit inside a sentence.
std::string SystemText(int osError) {
  std::string text = std::system_category().message(osError);
  while (!text.empty() &&
         (std::isspace(static_cast<unsigned char>(text.back())) || text.back() == '.')) {
    text.pop_back();
  }
  // "Input/output error" reads as one phrase lower-cased; an acronym such as "I/O" stays.
  if (text.size() > 1 && std::isupper(static_cast<unsigned char>(text[0])) &&
      std::islower(static_cast<unsigned char>(text[1]))) {
    text[0] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[0])));
  }
  if (text.empty()) text = "system error";
  return text + " (error " + std::to_string(osError) + ")";
}

}  // namespace

std::string DescribeCommandResult(const PassThroughResult& r) {
  switch (r.outcome) {
    case CommandOutcome::Good:
      return {};
    case CommandOutcome::NotOpen:
      return "the pedal is not open";
    case CommandOutcome::ScsiStatus: {
      uint8_t key = 0, asc = 0, ascq = 0;
      if (r.scsiStatus == kScsiStatusCheckCondition && SenseCodes(r, key, asc, ascq)) {
        return "the pedal refused the command (sense " + Hex2(key) + "/" + Hex2(asc) + "/" +
               Hex2(ascq) + ")";
      }
      const char* name = StatusName(r.scsiStatus);
      return "the pedal answered status 0x" + Hex2(r.scsiStatus) +
             (name != nullptr ? std::string(" (") + name + ")" : std::string());
    }
    case CommandOutcome::TransportError:
    case CommandOutcome::OsError:
      if (SaysGone(r)) return "the pedal was disconnected";
      if (SaysTimedOut(r)) return "the pedal did not answer in time";
      if (r.osError != 0) return SystemText(r.osError);
      return "the connection to the pedal failed (host status 0x" + Hex2(r.hostStatus) +
             ", driver status 0x" + Hex2(r.driverStatus) + ")";
  }
  return "the command failed";
}

int ReadFirmwareVersion(CDevice& device, uint16_t& version) {
  uint8_t bytes[2] = {0, 0};
  if (!SendCommandIn(CdbGetFirmwareVersion(), device, sizeof bytes, bytes)) return 0;
  // A short reply is not a version.
  if (device.LastResult().residual != 0) return 0;
  version = static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
  return 1;
}

}  // namespace rendax
