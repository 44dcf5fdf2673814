// SPDX-License-Identifier: GPL-3.0-or-later
#include <cerrno>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <system_error>

#include "device/platform.h"
#include "device/platform/sim/sim_pedal.h"
#include "device/u8_path.h"

#if defined(_WIN32)
#include "device/platform/win32/win32_platform.h"
#else
#include "device/platform/linux/linux_platform.h"
#endif

namespace rendax {

DevicePlatform& NativePlatform() {
#if defined(_WIN32)
  static Win32Platform platform;
#else
  static LinuxPlatform platform;
#endif
  return platform;
}

DevicePlatform& DefaultPlatform() {
  // Read on every call, so a test or tool that points RENDAX_SIMULATOR elsewhere gets that
  // folder. A set but unreadable folder is not a reason to reach for real pedals: discovery
  // then reports the folder's error instead.
  const std::string folder = Environment("RENDAX_SIMULATOR");
  if (folder.empty()) return NativePlatform();
  static std::mutex mutex;
  static std::map<std::string, std::unique_ptr<SimulatorPlatform>> simulators;
  std::lock_guard<std::mutex> lock(mutex);
  std::unique_ptr<SimulatorPlatform>& sim = simulators[folder];
  if (!sim) sim = std::make_unique<SimulatorPlatform>(folder);
  return *sim;
}

namespace {

// The sentences both platforms say about a pedal they cannot open.
std::string NoLongerAttached(const std::string& path) {
  return "The pedal at " + path + " is no longer attached.";
}
std::string CannotOpen(const std::string& path, const std::string& reason) {
  return "Cannot open the pedal at " + path + ": " + reason + ".";
}

}  // namespace

std::string DescribeOpenError(const std::string& path, int osError) {
  if (PedalGoneError(osError)) return NoLongerAttached(path);
  if (osError == kPedalInUseError) return std::string(kMsgPedalInUse) + ": " + path;
#if defined(_WIN32)
  constexpr int kAccessDenied = 5;
  if (osError == kAccessDenied) {
    return "Access to the pedal at " + path + " was denied. Close other programs that use it.";
  }
  return CannotOpen(path, std::system_category().message(osError));
#else
  if (osError == EACCES || osError == EPERM) {
    return "Permission denied opening the pedal at " + path +
           ". Install the udev rule that lets you use Rendax pedals: "
           "sudo install -m 644 packaging/linux/70-rendax-pedal.rules /etc/udev/rules.d/ && "
           "sudo udevadm control --reload-rules && sudo udevadm trigger, "
           "then unplug the pedal and plug it in again. Do not run this program as root.";
  }
  return CannotOpen(path, std::error_code(osError, std::generic_category()).message());
#endif
}

}  // namespace rendax
