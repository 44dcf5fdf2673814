// SPDX-License-Identifier: GPL-3.0-or-later
// Windows pedal access through the kernel32 seam: the request block as the driver reads it,
// discovery over a fake volume set, and how commands and their failures come back.
#include "device/platform/win32/win32_platform.h"

#include <gtest/gtest.h>

#include <dbt.h>

#include <cstddef>
#include <cstring>

#include "device/commands.h"
#include "device/device.h"
#include "device/discovery.h"
#include "fake_kernel32.h"

namespace rendax {
namespace {

using testing::FakeKernel32;

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}
uintptr_t LePtr(const std::vector<uint8_t>& b, size_t at) {
  uintptr_t v = 0;
  for (size_t i = 0; i < sizeof(void*); ++i) v |= static_cast<uintptr_t>(b[at + i]) << (8 * i);
  return v;
}

// Where each field sits in this build's block, as the storage driver reads it.
struct Layout {
  size_t length, sptdSize, dataIn, transferLength, timeout, buffer, senseOffset, cdb, sense, block;
};
#if defined(_WIN64)
constexpr Layout kLayout{0, 56, 8, 12, 16, 24, 32, 36, 60, 96};
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 56);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer) == 24);
static_assert(offsetof(PassThroughBlock, sense) == 60);
#else
constexpr Layout kLayout{0, 44, 8, 12, 16, 20, 24, 28, 48, 80};
static_assert(sizeof(SCSI_PASS_THROUGH_DIRECT) == 44);
static_assert(offsetof(SCSI_PASS_THROUGH_DIRECT, DataBuffer) == 20);
static_assert(offsetof(PassThroughBlock, sense) == 48);
static_assert(sizeof(PassThroughBlock) == 80);
#endif

TEST(Win32RequestBlock, FilledBlockReadsBackAtTheDriversOffsets) {
  uint8_t buffer[64];
  PassThroughRequest r;
  r.cdb = {0xCB, 0xFF, 0x01, 0x00, 0x01};
  r.direction = DataDirection::In;
  r.dataLength = 65536;
  r.data = buffer;
  PassThroughBlock block;
  std::memset(&block, 0xAA, sizeof block);  // leftovers of an earlier command
  FillPassThroughBlock(block, r, buffer);

  const auto* p = reinterpret_cast<const uint8_t*>(&block);
  const std::vector<uint8_t> b(p, p + sizeof block);
  ASSERT_EQ(b.size(), kLayout.block);
  EXPECT_EQ(b[0] | b[1] << 8, static_cast<int>(kLayout.sptdSize)) << "Length";
  EXPECT_EQ(b[2], 0) << "ScsiStatus";
  EXPECT_EQ(b[3], 0) << "PathId";
  EXPECT_EQ(b[4], 1) << "TargetId";
  EXPECT_EQ(b[5], 0) << "Lun";
  EXPECT_EQ(b[6], 10) << "CdbLength";
  EXPECT_EQ(b[7], 26) << "SenseInfoLength";
  EXPECT_EQ(b[kLayout.dataIn], SCSI_IOCTL_DATA_IN);
  EXPECT_EQ(Le32(b, kLayout.transferLength), 65536u);
  EXPECT_EQ(Le32(b, kLayout.timeout), 400u);
  EXPECT_EQ(LePtr(b, kLayout.buffer), reinterpret_cast<uintptr_t>(buffer)) << "no copy";
  EXPECT_EQ(Le32(b, kLayout.senseOffset), kLayout.sense);
  const std::vector<uint8_t> cdb(b.begin() + kLayout.cdb, b.begin() + kLayout.cdb + 16);
  EXPECT_EQ(cdb, (std::vector<uint8_t>{0xCB, 0xFF, 1, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  for (size_t i = kLayout.sense; i < kLayout.sense + kSenseAreaBytes; ++i) {
    EXPECT_EQ(b[i], 0) << "sense byte " << i;
  }

  r.direction = DataDirection::Out;
  r.dataLength = 5;
  FillPassThroughBlock(block, r, buffer);
  EXPECT_EQ(block.sptd.DataIn, SCSI_IOCTL_DATA_OUT);
  EXPECT_EQ(block.sptd.DataTransferLength, 5u);
}

TEST(Win32Discovery, FindsThePedalAmongTheVolumeSet) {
  FakeKernel32 k = FakeKernel32::VolumeSet();
  Win32Platform platform(k);
  std::string path = "unchanged";
  EXPECT_EQ(FindPedal(platform, 0, path), 1);
  EXPECT_EQ(path, "\\\\.\\E:");
  // G: carries the twin's strings, but past the bytes its query returned.
  EXPECT_EQ(FindPedal(platform, 1, path), 0);
  EXPECT_EQ(FindPedal(platform, 2, path), 0);
  EXPECT_EQ(path, "\\\\.\\E:") << "a failed search leaves the path";
  EXPECT_EQ(k.openHandles, 0) << "every probe closes its handle";

  // Each scan opens the letters from A on, for queries only: no rights, shared for reading. The
  // first stops at E:, the two others try all 26.
  ASSERT_EQ(k.opens.size(), 5u + 26u + 26u);
  EXPECT_EQ(k.opens[0].path, L"\\\\.\\A:");
  EXPECT_EQ(k.opens[4].path, L"\\\\.\\E:");
  EXPECT_EQ(k.opens[5].path, L"\\\\.\\A:");
  EXPECT_EQ(k.opens.back().path, L"\\\\.\\Z:");
  for (const auto& o : k.opens) {
    EXPECT_EQ(o.access, 0u);
    EXPECT_EQ(o.share, static_cast<DWORD>(FILE_SHARE_READ));
    EXPECT_EQ(o.disposition, static_cast<DWORD>(OPEN_EXISTING));
  }

  std::vector<AttachedPedal> pedals;
  std::string error;
  ASSERT_TRUE(ListPedals(platform, pedals, error));
  ASSERT_EQ(pedals.size(), 1u);
  EXPECT_EQ(pedals[0].path, "\\\\.\\E:");

  // The lowest letter wins; a volume whose query fails is passed over; a descriptor that holds
  // its strings in full is read even from a short reply.
  k.volumes[L'B'] = {7, "QELM    ", "RENDAX          ", 0, true};
  k.volumes[L'D'] = {7, "qelm    ", "RENDAX_MINI     ", 0, false};
  k.volumes[L'H'] = {7, "QELM    ", "RENDAX          ", 97, false};
  EXPECT_EQ(FindPedal(platform, 0, path), 1);
  EXPECT_EQ(path, "\\\\.\\E:");
  EXPECT_EQ(FindPedal(platform, 2, path), 1);
  EXPECT_EQ(path, "\\\\.\\D:");
  k.volumes.erase(L'E');
  EXPECT_EQ(FindPedal(platform, 0, path), 1);
  EXPECT_EQ(path, "\\\\.\\H:");
}

TEST(Win32Channel, CommandsReachTheDriverAsBuilt) {
  FakeKernel32 k = FakeKernel32::VolumeSet();
  Win32Platform platform(k);
  CMassStorageDevice device(platform);
  uint16_t version = 0;
  EXPECT_EQ(ReadFirmwareVersion(device, version), 0) << "closed: nothing is sent";
  EXPECT_TRUE(k.blocks.empty());

  ASSERT_EQ(
      device.Open("\\\\.\\E:", kGenericRead | kGenericWrite, kFileShareRead | kFileShareWrite), 1);
  EXPECT_EQ(k.opens.back().access, static_cast<DWORD>(GENERIC_READ | GENERIC_WRITE));
  EXPECT_EQ(k.opens.back().share, static_cast<DWORD>(FILE_SHARE_READ | FILE_SHARE_WRITE));
  ASSERT_EQ(ReadFirmwareVersion(device, version), 1);
  EXPECT_EQ(version, 8);

  // A CHECK CONDITION with sense, then a clean command: the sense never reaches the next block.
  k.scsiStatus = 2;
  k.sense = {0x70, 0, 0x04, 0, 0, 0, 0, 10};
  uint8_t record[kLoopInfoBytes] = {};
  EXPECT_EQ(SendCommandIn(CdbLoopInfoRead(), device, kLoopInfoBytes, record), 0);
  EXPECT_EQ(device.LastResult().outcome, CommandOutcome::ScsiStatus);
  ASSERT_EQ(device.LastResult().senseLength, 8);
  EXPECT_EQ(device.LastResult().sense[2], 0x04);
  k.scsiStatus = 0;
  const auto info = EncodeLoopInfo({0, 4096});
  EXPECT_EQ(SendCommandOut(CdbLoopInfoWrite(), device, kLoopInfoBytes, info.data()), 1);

  ASSERT_EQ(k.blocks.size(), 3u);
  for (size_t i = 0; i < k.blocks.size(); ++i) {
    EXPECT_EQ(k.blocks[i].size(), sizeof(PassThroughBlock));
    EXPECT_EQ(k.blockOutBytes[i], sizeof(PassThroughBlock));
  }
  const std::vector<uint8_t>& last = k.blocks.back();
  EXPECT_EQ(last[kLayout.dataIn], SCSI_IOCTL_DATA_OUT);
  EXPECT_EQ(Le32(last, kLayout.transferLength), kLoopInfoBytes);
  for (size_t i = kLayout.sense; i < last.size(); ++i) EXPECT_EQ(last[i], 0) << i;
  EXPECT_EQ(k.dataBuffers.back(), info.data()) << "direct transfer from the caller's buffer";
  EXPECT_EQ(k.dataOut.back(), std::vector<uint8_t>(info.begin(), info.end()));

  device.Close();
  EXPECT_EQ(k.openHandles, 0);
}

TEST(Win32Channel, FailuresKeepTheOsErrorApartFromTheDevice) {
  FakeKernel32 k = FakeKernel32::VolumeSet();
  Win32Platform platform(k);
  CMassStorageDevice device(platform);
  EXPECT_EQ(device.Open("\\\\.\\Q:", kGenericRead | kGenericWrite, 3), 0);
  EXPECT_EQ(device.LastOpenError(), ERROR_FILE_NOT_FOUND);
  EXPECT_FALSE(device.IsOpen());

  ASSERT_EQ(device.Open("\\\\.\\E:", kGenericRead | kGenericWrite, 3), 1);
  struct Case {
    DWORD error;
    CommandOutcome outcome;
  };
  for (const Case c : {Case{ERROR_DEVICE_NOT_CONNECTED, CommandOutcome::TransportError},
                       Case{ERROR_SEM_TIMEOUT, CommandOutcome::TransportError},
                       Case{ERROR_ACCESS_DENIED, CommandOutcome::OsError}}) {
    k.failWith = c.error;
    uint8_t two[2] = {};
    EXPECT_EQ(SendCommandIn(CdbGetFirmwareVersion(), device, 2, two), 0);
    EXPECT_EQ(device.LastResult().outcome, c.outcome) << c.error;
    EXPECT_EQ(device.LastResult().osError, static_cast<int>(c.error));
  }
}

TEST(Win32Open, AVolumeIsHeldByOneChannelAtATime) {
  FakeKernel32 k = FakeKernel32::VolumeSet();
  Win32Platform platform(k);
  CMassStorageDevice first(platform), second(platform);
  ASSERT_EQ(first.Open("\\\\.\\E:", kGenericRead | kGenericWrite, 3), 1);
  EXPECT_EQ(second.Open("\\\\.\\E:", kGenericRead | kGenericWrite, 3), 0);
  EXPECT_EQ(second.LastOpenError(), kPedalInUseError);
  EXPECT_NE(DescribeOpenError("\\\\.\\E:", kPedalInUseError).find(kMsgPedalInUse),
            std::string::npos);
  EXPECT_EQ(second.Open("\\\\.\\F:", kGenericRead | kGenericWrite, 3), 1) << "another volume";
  second.Close();
  EXPECT_EQ(second.Open("\\\\.\\Q:", kGenericRead | kGenericWrite, 3), 0);
  first.Close();
  EXPECT_EQ(second.Open("\\\\.\\E:", kGenericRead | kGenericWrite, 3), 1) << "released";
  second.Close();
  for (const auto& [name, holders] : k.claims) EXPECT_EQ(holders, 0) << "claim left on a volume";
  EXPECT_EQ(k.openHandles, 0);
}

TEST(Win32Channel, MisalignedBufferGoesThroughAnAlignedCopy) {
  FakeKernel32 k = FakeKernel32::VolumeSet();
  k.alignmentMask = 3;
  Win32Platform platform(k);
  CMassStorageDevice device(platform);
  ASSERT_EQ(device.Open("\\\\.\\E:", kGenericRead | kGenericWrite, 3), 1);

  alignas(16) uint8_t storage[64] = {};
  uint8_t* odd = storage + 1;
  ASSERT_EQ(SendCommandIn(CdbLoopDataRead(), device, 32, odd), 1);
  EXPECT_NE(k.dataBuffers.back(), odd);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(k.dataBuffers.back()) & 3, 0u);
  for (int i = 0; i < 32; ++i) ASSERT_EQ(odd[i], static_cast<uint8_t>(i * 7 + 1)) << i;
  EXPECT_EQ(storage[0], 0) << "nothing written before the buffer";
  EXPECT_EQ(storage[33], 0) << "nothing written after it";

  for (int i = 0; i < 32; ++i) odd[i] = static_cast<uint8_t>(0xF0 ^ i);
  ASSERT_EQ(SendCommandOut(CdbLoopDataWrite(), device, 32, odd), 1);
  EXPECT_EQ(k.dataOut.back(), std::vector<uint8_t>(odd, odd + 32));

  // An aligned buffer is handed over as it is.
  ASSERT_EQ(SendCommandIn(CdbLoopDataRead(), device, 32, storage), 1);
  EXPECT_EQ(k.dataBuffers.back(), storage);
}

TEST(Win32Platform, NoticesComeFromDeviceChangeMessages) {
  // Only a volume's arrival and a removal count.
  DEV_BROADCAST_HDR volume{sizeof volume, DBT_DEVTYP_VOLUME, 0};
  DEV_BROADCAST_HDR port{sizeof port, DBT_DEVTYP_PORT, 0};
  EXPECT_EQ(NoticeFromDeviceChange(DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&volume)),
            HotplugNotice::VolumeArrival);
  EXPECT_EQ(NoticeFromDeviceChange(DBT_DEVICEARRIVAL, reinterpret_cast<LPARAM>(&port)),
            std::nullopt);
  EXPECT_EQ(NoticeFromDeviceChange(DBT_DEVICEREMOVECOMPLETE, 0), HotplugNotice::DeviceRemoval);
  EXPECT_EQ(NoticeFromDeviceChange(DBT_CONFIGCHANGED, 0), std::nullopt);
  EXPECT_EQ(NoticeFromDeviceChange(DBT_DEVNODES_CHANGED, 0), std::nullopt);
  // A volume by its drive letter.
  EXPECT_TRUE(Win32Platform().Spells("e:", "\\\\.\\E:"));
}

}  // namespace
}  // namespace rendax
