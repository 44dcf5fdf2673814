// SPDX-License-Identifier: GPL-3.0-or-later
// A fake kernel32 for Windows pedal access: a volume set behind drive letters, each answering
// the storage property query from a descriptor it builds, and a pedal answering pass-through
// requests. It records every call.
#pragma once

#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "device/platform/win32/kernel32.h"
#include "device/platform/win32/request_block.h"

namespace rendax::testing {

struct FakeVolume {
  uint32_t busType = 7;  // USB
  std::string vendor;    // empty: offset 0
  std::string product;
  // Bytes the query reports as returned; 0 reports the whole descriptor. The descriptor is
  // always written in full, so bytes past a short count are there but must not be read.
  DWORD reportedBytes = 0;
  bool queryFails = false;
};

class FakeKernel32 : public Kernel32 {
 public:
  struct OpenCall {
    std::wstring path;
    DWORD access, share, disposition, flags;
  };

  std::map<wchar_t, FakeVolume> volumes;
  ULONG alignmentMask = 0;
  // How the next pass-through requests end.
  DWORD failWith = 0;        // nonzero: DeviceIoControl fails with this error
  UCHAR scsiStatus = 0;      // else the device's status
  std::vector<UCHAR> sense;  // written into the sense area when the status is not GOOD
  uint8_t firmwareVersion = 8;

  std::vector<OpenCall> opens;
  std::vector<std::vector<uint8_t>> blocks;  // every pass-through block as it arrived
  std::vector<DWORD> blockOutBytes;
  std::vector<void*> dataBuffers;
  std::vector<std::vector<uint8_t>> dataOut;  // what Out commands carried
  int openHandles = 0;
  std::map<std::wstring, int> claims;  // named objects: handles open on each
  std::map<HANDLE, std::wstring> claimHandles;
  uintptr_t claimsMade = 0;
  DWORD lastError = 0;

  // The volume set of the tests: a USB pedal on E:, a fixed disk on C:, a USB
  // stick on F:, a descriptor on G: whose strings lie past the bytes the query returned.
  static FakeKernel32 VolumeSet() {
    FakeKernel32 k;
    k.volumes[L'C'] = {11, "ATA     ", "Samsung SSD 870 ", 0, false};
    k.volumes[L'E'] = {7, "QELM    ", "RENDAX          ", 0, false};
    k.volumes[L'F'] = {7, "SanDisk ", "Cruzer Blade    ", 0, false};
    k.volumes[L'G'] = {7, "QELM    ", "RENDAX_TWIN     ", 40, false};
    return k;
  }

  HANDLE CreateFileW(const wchar_t* path, DWORD access, DWORD share, DWORD disposition,
                     DWORD flags) override {
    opens.push_back({path, access, share, disposition, flags});
    const std::wstring p(path);
    if (p.size() != 6 || p.compare(0, 4, L"\\\\.\\") != 0 || p[5] != L':' || !volumes.count(p[4])) {
      lastError = ERROR_FILE_NOT_FOUND;
      return INVALID_HANDLE_VALUE;
    }
    ++openHandles;
    return reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x1000 + p[4]));
  }

  BOOL DeviceIoControl(HANDLE handle, DWORD code, void* in, DWORD inBytes, void* out,
                       DWORD outBytes, DWORD* returned) override {
    const wchar_t letter = static_cast<wchar_t>(reinterpret_cast<uintptr_t>(handle) - 0x1000);
    *returned = 0;
    if (code == IOCTL_STORAGE_QUERY_PROPERTY) {
      const auto* query = static_cast<const STORAGE_PROPERTY_QUERY*>(in);
      if (inBytes < sizeof *query) return Fail(ERROR_INVALID_PARAMETER);
      if (query->PropertyId == StorageAdapterProperty) {
        STORAGE_ADAPTER_DESCRIPTOR adapter{};
        adapter.Size = sizeof adapter;
        adapter.AlignmentMask = alignmentMask;
        std::memcpy(out, &adapter, std::min<size_t>(outBytes, sizeof adapter));
        *returned = std::min<DWORD>(outBytes, sizeof adapter);
        return TRUE;
      }
      const FakeVolume& v = volumes.at(letter);
      if (v.queryFails) return Fail(ERROR_INVALID_FUNCTION);
      std::vector<uint8_t> d = Descriptor(v);
      std::memcpy(out, d.data(), std::min<size_t>(outBytes, d.size()));
      *returned = std::min<DWORD>(outBytes, v.reportedBytes ? v.reportedBytes : DWORD(d.size()));
      return TRUE;
    }
    if (code == IOCTL_SCSI_PASS_THROUGH_DIRECT) {
      auto* block = static_cast<PassThroughBlock*>(in);
      const auto* bytes = static_cast<const uint8_t*>(in);
      blocks.emplace_back(bytes, bytes + inBytes);
      blockOutBytes.push_back(outBytes);
      dataBuffers.push_back(block->sptd.DataBuffer);
      if (in != out) return Fail(ERROR_INVALID_PARAMETER);
      if (failWith) return Fail(failWith);
      auto* data = static_cast<uint8_t*>(block->sptd.DataBuffer);
      const ULONG length = block->sptd.DataTransferLength;
      if (block->sptd.DataIn == SCSI_IOCTL_DATA_IN) {
        for (ULONG i = 0; i < length; ++i) data[i] = static_cast<uint8_t>(i * 7 + 1);
        if (block->sptd.Cdb[1] == 0x01 && length >= 2) {
          data[0] = firmwareVersion;
          data[1] = 0;
        }
      } else {
        dataOut.emplace_back(data, data + length);
      }
      block->sptd.ScsiStatus = scsiStatus;
      if (scsiStatus != 0) {
        // Where a driver puts it: at the offset the block names.
        std::memcpy(static_cast<uint8_t*>(in) + block->sptd.SenseInfoOffset, sense.data(),
                    std::min(sense.size(), kSenseAreaBytes));
        block->sptd.SenseInfoLength = static_cast<UCHAR>(sense.size());
      }
      *returned = outBytes;
      return TRUE;
    }
    return Fail(ERROR_INVALID_FUNCTION);
  }

  HANDLE CreateMutexW(const wchar_t* name) override {
    const int holders = claims[name]++;
    lastError = holders > 0 ? ERROR_ALREADY_EXISTS : 0;
    const auto h = reinterpret_cast<HANDLE>(static_cast<uintptr_t>(0x100000 + ++claimsMade));
    claimHandles[h] = name;
    return h;
  }
  BOOL CloseHandle(HANDLE h) override {
    if (auto it = claimHandles.find(h); it != claimHandles.end()) {
      --claims[it->second];
      claimHandles.erase(it);
    } else {
      --openHandles;
    }
    return TRUE;
  }
  DWORD GetLastError() override { return lastError; }

 private:
  BOOL Fail(DWORD error) {
    lastError = error;
    return FALSE;
  }

  static void Put32(std::vector<uint8_t>& d, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) d[at + i] = static_cast<uint8_t>(v >> (8 * i));
  }

  // STORAGE_DEVICE_DESCRIPTOR with the vendor string at 64 and the product string at 80.
  static std::vector<uint8_t> Descriptor(const FakeVolume& v) {
    std::vector<uint8_t> d(120, 0);
    Put32(d, 0, 1);
    Put32(d, 4, static_cast<uint32_t>(d.size()));
    Put32(d, 28, v.busType);
    if (!v.vendor.empty()) {
      Put32(d, 12, 64);
      std::memcpy(&d[64], v.vendor.data(), v.vendor.size());
    }
    if (!v.product.empty()) {
      Put32(d, 16, 80);
      std::memcpy(&d[80], v.product.data(), v.product.size());
    }
    return d;
  }
};

}  // namespace rendax::testing
