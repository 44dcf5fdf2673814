// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/platform/win32/win32_platform.h"

#include <dbt.h>
#include <malloc.h>
#include <winioctl.h>

#include <cctype>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "device/platform/win32/request_block.h"
#include "device/platform/win32/storage_descriptor.h"

namespace rendax {
namespace {

// Not every SDK's winerror.h names it.
constexpr DWORD kErrorNoSuchDevice = 433;

class SystemCalls : public Kernel32 {
 public:
  HANDLE CreateFileW(const wchar_t* path, DWORD access, DWORD share, DWORD disposition,
                     DWORD flags) override {
    return ::CreateFileW(path, access, share, nullptr, disposition, flags, nullptr);
  }
  BOOL DeviceIoControl(HANDLE handle, DWORD code, void* in, DWORD inBytes, void* out,
                       DWORD outBytes, DWORD* returned) override {
    return ::DeviceIoControl(handle, code, in, inBytes, out, outBytes, returned, nullptr);
  }
  HANDLE CreateMutexW(const wchar_t* name) override { return ::CreateMutexW(nullptr, FALSE, name); }
  BOOL CloseHandle(HANDLE handle) override { return ::CloseHandle(handle); }
  DWORD GetLastError() override { return ::GetLastError(); }
};

// The adapter's buffer alignment; direct transfers from a misaligned buffer fail.
ULONG QueryAlignmentMask(Kernel32& kernel, HANDLE handle) {
  STORAGE_PROPERTY_QUERY query{};
  query.PropertyId = StorageAdapterProperty;
  query.QueryType = PropertyStandardQuery;
  STORAGE_ADAPTER_DESCRIPTOR adapter{};
  DWORD returned = 0;
  if (!kernel.DeviceIoControl(handle, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, &adapter,
                              sizeof adapter, &returned) ||
      returned < offsetof(STORAGE_ADAPTER_DESCRIPTOR, AlignmentMask) + sizeof(ULONG)) {
    return 0;
  }
  return adapter.AlignmentMask;
}

// A failed ioctl that means the device or its bus went away rather than a refused call.
bool IsTransportError(DWORD error) {
  return error == ERROR_SEM_TIMEOUT || error == ERROR_IO_DEVICE ||
         error == ERROR_DEVICE_NOT_CONNECTED || error == kErrorNoSuchDevice ||
         error == ERROR_DEVICE_REMOVED || error == ERROR_BUS_RESET;
}

// The name of the object that marks a volume as held by a job, the same in every session.
std::wstring ClaimName(const std::string& path) {
  std::wstring name = L"Global\\RendaxPedal-";
  for (wchar_t c : Widen(path)) name += c == L'\\' ? L'_' : c;
  return name;
}

class SptiChannel : public DeviceChannel {
 public:
  SptiChannel(Kernel32& kernel, HANDLE handle, HANDLE claim, ULONG alignmentMask)
      : kernel_(kernel), handle_(handle), claim_(claim), mask_(alignmentMask) {}
  ~SptiChannel() override {
    kernel_.CloseHandle(handle_);
    kernel_.CloseHandle(claim_);
  }

  PassThroughResult Execute(const PassThroughRequest& request) override {
    // The caller's buffer goes straight to the driver; only a buffer the adapter cannot take
    // (misaligned) is bounced through an aligned copy.
    void* data = request.data;
    void* bounce = nullptr;
    if (data != nullptr && request.dataLength != 0 &&
        (reinterpret_cast<uintptr_t>(data) & mask_) != 0) {
      const size_t alignment = static_cast<size_t>(mask_) + 1;
      bounce = _aligned_malloc(request.dataLength, alignment < 16 ? 16 : alignment);
      if (bounce == nullptr) {
        PassThroughResult r;
        r.outcome = CommandOutcome::OsError;
        r.osError = ERROR_NOT_ENOUGH_MEMORY;
        return r;
      }
      if (request.direction == DataDirection::Out) {
        std::memcpy(bounce, data, request.dataLength);
      }
      data = bounce;
    }

    PassThroughBlock block;
    FillPassThroughBlock(block, request, data);
    DWORD returned = 0;
    const BOOL ok = kernel_.DeviceIoControl(handle_, IOCTL_SCSI_PASS_THROUGH_DIRECT, &block,
                                            sizeof block, &block, sizeof block, &returned);
    const DWORD error = ok ? 0 : kernel_.GetLastError();

    if (bounce != nullptr) {
      if (ok && request.direction == DataDirection::In) {
        std::memcpy(request.data, bounce, request.dataLength);
      }
      _aligned_free(bounce);
    }

    PassThroughResult r;
    if (!ok) {
      r.outcome =
          IsTransportError(error) ? CommandOutcome::TransportError : CommandOutcome::OsError;
      r.osError = static_cast<int>(error);
      return r;
    }
    r.scsiStatus = block.sptd.ScsiStatus;
    if (block.sptd.ScsiStatus != kScsiStatusGood) {
      r.outcome = CommandOutcome::ScsiStatus;
      r.senseLength = static_cast<uint8_t>(block.sptd.SenseInfoLength < kSenseAreaBytes
                                               ? block.sptd.SenseInfoLength
                                               : kSenseAreaBytes);
      std::memcpy(r.sense.data(), block.sense, r.senseLength);
      return r;
    }
    r.outcome = CommandOutcome::Good;
    r.residual = block.sptd.DataTransferLength < request.dataLength
                     ? request.dataLength - block.sptd.DataTransferLength
                     : 0;
    return r;
  }

 private:
  Kernel32& kernel_;
  HANDLE handle_;
  HANDLE claim_;
  ULONG mask_;
};

}  // namespace

std::wstring Widen(const std::string& utf8) {
  if (utf8.empty()) return {};
  const int n =
      MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n > 0 ? n : 0), L'\0');
  if (n > 0) {
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide.data(), n);
  }
  return wide;
}

std::string Narrow(const std::wstring& wide) {
  if (wide.empty()) return {};
  const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), nullptr,
                                    0, nullptr, nullptr);
  std::string utf8(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) {
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), n,
                        nullptr, nullptr);
  }
  return utf8;
}

Kernel32& SystemKernel32() {
  static SystemCalls calls;
  return calls;
}

void FillPassThroughBlock(PassThroughBlock& block, const PassThroughRequest& request, void* data) {
  // From zero every time: sense bytes of an earlier command never reach the next one.
  std::memset(&block, 0, sizeof block);
  block.sptd.Length = sizeof(SCSI_PASS_THROUGH_DIRECT);
  block.sptd.PathId = request.pathId;
  block.sptd.TargetId = request.targetId;
  block.sptd.Lun = request.lun;
  block.sptd.CdbLength = request.cdbLength;
  block.sptd.SenseInfoLength = request.senseRequested;
  block.sptd.DataIn =
      request.direction == DataDirection::In ? SCSI_IOCTL_DATA_IN : SCSI_IOCTL_DATA_OUT;
  if (request.dataLength == 0) block.sptd.DataIn = SCSI_IOCTL_DATA_UNSPECIFIED;
  block.sptd.DataTransferLength = request.dataLength;
  block.sptd.TimeOutValue = request.timeoutSeconds;
  block.sptd.DataBuffer = data;
  block.sptd.SenseInfoOffset = offsetof(PassThroughBlock, sense);
  std::memcpy(block.sptd.Cdb, request.cdb.data(), sizeof block.sptd.Cdb);
}

bool Win32Platform::ListCandidates(std::vector<std::string>& paths, std::string&) {
  paths.clear();
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    paths.push_back(std::string("\\\\.\\") + letter + ':');
  }
  return true;
}

std::optional<StorageIdentity> Win32Platform::Identify(const std::string& path) {
  // No read or write rights: the volume is opened for the query only.
  HANDLE handle = kernel_.CreateFileW(Widen(path).c_str(), 0, FILE_SHARE_READ, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL);
  if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
  STORAGE_PROPERTY_QUERY query{};
  query.PropertyId = StorageDeviceProperty;
  query.QueryType = PropertyStandardQuery;
  std::vector<uint8_t> descriptor(kStorageDescriptorBytes, 0);
  DWORD returned = 0;
  const BOOL ok =
      kernel_.DeviceIoControl(handle, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query,
                              descriptor.data(), static_cast<DWORD>(descriptor.size()), &returned);
  kernel_.CloseHandle(handle);
  if (!ok) return std::nullopt;
  // Only the bytes the query says it returned are read.
  return ParseStorageDeviceDescriptor(descriptor.data(),
                                      returned < descriptor.size() ? returned : descriptor.size());
}

std::unique_ptr<DeviceChannel> Win32Platform::Open(const std::string& path, uint32_t access,
                                                   uint32_t share, int& osError) {
  // Opened for synchronous I/O: the commands are issued without an OVERLAPPED structure, which
  // on an overlapped handle could report a command finished before it is.
  //
  // One program per pedal: a volume opens only when shared for writing, so no share mode can
  // refuse a second handle; a named object per volume, held as long as the channel, does.
  HANDLE claim = kernel_.CreateMutexW(ClaimName(path).c_str());
  if (claim == nullptr) {
    osError = static_cast<int>(kernel_.GetLastError());
    return nullptr;
  }
  if (kernel_.GetLastError() == ERROR_ALREADY_EXISTS) {
    kernel_.CloseHandle(claim);
    osError = kPedalInUseError;
    return nullptr;
  }
  HANDLE handle =
      kernel_.CreateFileW(Widen(path).c_str(), access, share, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL);
  if (handle == INVALID_HANDLE_VALUE) {
    osError = static_cast<int>(kernel_.GetLastError());
    kernel_.CloseHandle(claim);
    return nullptr;
  }
  osError = 0;
  return std::make_unique<SptiChannel>(kernel_, handle, claim, QueryAlignmentMask(kernel_, handle));
}

std::optional<HotplugNotice> NoticeFromDeviceChange(uintptr_t wParam, intptr_t lParam) {
  if (wParam == DBT_DEVICEARRIVAL) {
    const auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(lParam);
    if (header != nullptr && header->dbch_devicetype == DBT_DEVTYP_VOLUME) {
      return HotplugNotice::VolumeArrival;
    }
    return std::nullopt;
  }
  if (wParam == DBT_DEVICEREMOVECOMPLETE) return HotplugNotice::DeviceRemoval;
  return std::nullopt;
}

namespace {

// Windows tells of volumes coming and going only through WM_DEVICECHANGE, which it sends to
// every top-level window: the window hands each to Offer.
class DeviceChangeFeed : public NoticeFeed {
 public:
  void Offer(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
    if (message != WM_DEVICECHANGE) return;
    if (auto notice = NoticeFromDeviceChange(wParam, lParam)) pending_.push_back(*notice);
  }
  bool Read(std::vector<HotplugNotice>& notices) override {
    notices.insert(notices.end(), pending_.begin(), pending_.end());
    pending_.clear();
    return true;
  }
  std::string Name() const override { return "the system's device-change messages"; }

 private:
  std::vector<HotplugNotice> pending_;
};

// The drive letter of a volume path ("\\.\E:", "E:", "e:\"); 0 for anything else.
char DriveLetter(std::string s) {
  if (s.rfind("\\\\.\\", 0) == 0) s.erase(0, 4);
  if (s.size() == 3 && (s[2] == '\\' || s[2] == '/')) s.pop_back();
  if (s.size() != 2 || s[1] != ':' || !std::isalpha(static_cast<unsigned char>(s[0]))) return 0;
  return static_cast<char>(std::toupper(static_cast<unsigned char>(s[0])));
}

}  // namespace

std::unique_ptr<NoticeFeed> Win32Platform::WatchNotices(std::string&) {
  return std::make_unique<DeviceChangeFeed>();
}

bool Win32Platform::Spells(const std::string& spelling, const std::string& path) const {
  const char letter = DriveLetter(spelling);
  return letter != 0 && DriveLetter(path) == letter;
}

}  // namespace rendax
