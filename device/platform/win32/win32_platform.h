// Windows pedal access: drive letters, the storage property query and direct SCSI pass-through.
#pragma once

#if defined(_WIN32)

#include "device/platform.h"

namespace rendax {

// Candidates are the device paths "\\.\A:" to "\\.\Z:". Identify opens a letter for queries only
// and reads the storage device descriptor; Open opens it for commands.
class Win32Platform : public DevicePlatform {
 public:
  bool ListCandidates(std::vector<std::string>& paths, std::string& error) override;
  std::optional<StorageIdentity> Identify(const std::string& path) override;
  // osError is GetLastError() on failure.
  std::unique_ptr<DeviceChannel> Open(const std::string& path, uint32_t access, uint32_t share,
                                      int& osError) override;
};

}  // namespace rendax

#endif  // _WIN32
