#include "device/commands.h"

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

int ReadFirmwareVersion(CDevice& device, uint16_t& version) {
  uint8_t bytes[2] = {0, 0};
  if (!SendCommandIn(CdbGetFirmwareVersion(), device, sizeof bytes, bytes)) return 0;
  // A short reply is not a version.
  if (device.LastResult().residual != 0) return 0;
  version = static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
  return 1;
}

}  // namespace rendax
