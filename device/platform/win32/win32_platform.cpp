#include "device/platform/win32/win32_platform.h"

// windows.h first: the storage headers build on its types.
#include <windows.h>

#include <malloc.h>
#include <ntddscsi.h>
#include <winioctl.h>

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "device/platform/win32/storage_descriptor.h"

namespace rendax {
namespace {

constexpr size_t kSenseArea = 32;

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

// The request block: the pass-through structure, then the sense area it points to.
struct PassThroughBlock {
  SCSI_PASS_THROUGH_DIRECT sptd;
  ULONG filler;  // keeps the sense area aligned as the driver expects
  UCHAR sense[kSenseArea];
};

// The adapter's buffer alignment; direct transfers from a misaligned buffer fail.
ULONG QueryAlignmentMask(HANDLE handle) {
  STORAGE_PROPERTY_QUERY query{};
  query.PropertyId = StorageAdapterProperty;
  query.QueryType = PropertyStandardQuery;
  STORAGE_ADAPTER_DESCRIPTOR adapter{};
  DWORD returned = 0;
  if (!DeviceIoControl(handle, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, &adapter,
                       sizeof adapter, &returned, nullptr) ||
      returned < offsetof(STORAGE_ADAPTER_DESCRIPTOR, AlignmentMask) + sizeof(ULONG)) {
    return 0;
  }
  return adapter.AlignmentMask;
}

// A failed ioctl that means the device or its bus went away rather than a refused call.
bool IsTransportError(DWORD error) {
  return error == ERROR_SEM_TIMEOUT || error == ERROR_IO_DEVICE ||
         error == ERROR_DEVICE_NOT_CONNECTED || error == ERROR_NO_SUCH_DEVICE ||
         error == ERROR_DEVICE_REMOVED || error == ERROR_BUS_RESET;
}

class SptiChannel : public DeviceChannel {
 public:
  SptiChannel(HANDLE handle, ULONG alignmentMask) : handle_(handle), mask_(alignmentMask) {}
  ~SptiChannel() override { CloseHandle(handle_); }

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

    DWORD returned = 0;
    const BOOL ok = DeviceIoControl(handle_, IOCTL_SCSI_PASS_THROUGH_DIRECT, &block, sizeof block,
                                    &block, sizeof block, &returned, nullptr);
    const DWORD error = ok ? 0 : GetLastError();

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
      r.senseLength = static_cast<uint8_t>(
          block.sptd.SenseInfoLength < kSenseArea ? block.sptd.SenseInfoLength : kSenseArea);
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
  HANDLE handle_;
  ULONG mask_;
};

}  // namespace

bool Win32Platform::ListCandidates(std::vector<std::string>& paths, std::string&) {
  paths.clear();
  for (char letter = 'A'; letter <= 'Z'; ++letter) {
    paths.push_back(std::string("\\\\.\\") + letter + ':');
  }
  return true;
}

std::optional<StorageIdentity> Win32Platform::Identify(const std::string& path) {
  // No read or write rights: the volume is opened for the query only.
  HANDLE handle = CreateFileW(Widen(path).c_str(), 0, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
  STORAGE_PROPERTY_QUERY query{};
  query.PropertyId = StorageDeviceProperty;
  query.QueryType = PropertyStandardQuery;
  std::vector<uint8_t> descriptor(kStorageDescriptorBytes, 0);
  DWORD returned = 0;
  const BOOL ok =
      DeviceIoControl(handle, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, descriptor.data(),
                      static_cast<DWORD>(descriptor.size()), &returned, nullptr);
  CloseHandle(handle);
  if (!ok) return std::nullopt;
  return ParseStorageDeviceDescriptor(descriptor.data(), returned);
}

std::unique_ptr<DeviceChannel> Win32Platform::Open(const std::string& path, uint32_t access,
                                                   uint32_t share, int& osError) {
  // Opened for synchronous I/O: the commands are issued without an OVERLAPPED structure, which
  // on an overlapped handle could report a command finished before it is.
  HANDLE handle = CreateFileW(Widen(path).c_str(), access, share, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    osError = static_cast<int>(GetLastError());
    return nullptr;
  }
  osError = 0;
  return std::make_unique<SptiChannel>(handle, QueryAlignmentMask(handle));
}

}  // namespace rendax
