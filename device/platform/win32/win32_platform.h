// SPDX-License-Identifier: GPL-3.0-or-later
// Windows pedal access: drive letters, the storage property query and direct SCSI pass-through.
#pragma once

#if defined(_WIN32)

#include <optional>
#include <string>

#include "device/platform.h"
#include "device/platform/win32/kernel32.h"

namespace rendax {

// UTF-8 inside the program, UTF-16 at the Windows calls.
std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& wide);

// What a WM_DEVICECHANGE with these parameters means: a volume's arrival or a removal; nullopt
// for anything else (another kind of device arriving, a configuration change, ...).
std::optional<HotplugNotice> NoticeFromDeviceChange(uintptr_t wParam, intptr_t lParam);

// Candidates are the device paths "\\.\A:" to "\\.\Z:". Identify opens a letter for queries only
// and reads the storage device descriptor; Open opens it for commands. Every kernel32 call goes
// through `kernel` (the system's own unless a test gives another).
class Win32Platform : public DevicePlatform {
 public:
  explicit Win32Platform(Kernel32& kernel = SystemKernel32()) : kernel_(kernel) {}
  bool ListCandidates(std::vector<std::string>& paths, std::string& error) override;
  // nullopt when the letter cannot be opened, the query fails, or the descriptor does not hold
  // its strings inside the bytes the query returned.
  std::optional<StorageIdentity> Identify(const std::string& path) override;
  // osError is GetLastError() on failure.
  std::unique_ptr<DeviceChannel> Open(const std::string& path, uint32_t access, uint32_t share,
                                      int& osError) override;
  // The WM_DEVICECHANGE messages a window hands to Offer.
  std::unique_ptr<NoticeFeed> WatchNotices(std::string& error) override;
  // A volume by its drive letter: "E:", "e:\".
  bool Spells(const std::string& spelling, const std::string& path) const override;

 private:
  Kernel32& kernel_;
};

}  // namespace rendax

#endif  // _WIN32
