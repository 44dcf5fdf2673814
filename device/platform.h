// SPDX-License-Identifier: GPL-3.0-or-later
// The seam between the pedal logic and an operating system's storage stack. One
// implementation per platform under device/platform/; tests inject their own.
#pragma once

#include <cerrno>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "device/hotplug_notice.h"
#include "device/pass_through.h"

namespace rendax {

// What watching says where the platform sends no notices of devices coming and going.
inline constexpr const char* kNoDeviceNotices = "no device notices on this platform";

// Access and share bits, with the values the Windows storage calls take.
inline constexpr uint32_t kGenericRead = 0x80000000u;
inline constexpr uint32_t kGenericWrite = 0x40000000u;
inline constexpr uint32_t kFileShareRead = 0x1u;
inline constexpr uint32_t kFileShareWrite = 0x2u;

// The identification a storage device reports: its bus and INQUIRY strings as raw 8-bit
// text (padded fields, trailing blanks kept). An absent string is tested as "(NULL)".
struct StorageIdentity {
  bool usb = false;
  std::optional<std::string> vendor;
  std::optional<std::string> product;
};

// An open connection to one device: the "handle".
class DeviceChannel {
 public:
  virtual ~DeviceChannel() = default;
  // Runs one command to completion (or its timeout). Never throws.
  virtual PassThroughResult Execute(const PassThroughRequest& request) = 0;
  // True for the simulated pedal: development firmware images may only go there.
  virtual bool IsSimulated() const { return false; }
};

class DevicePlatform {
 public:
  virtual ~DevicePlatform() = default;

  // Candidate device paths in the stable order discovery tries them
  // (drive letters A to Z on Windows, SCSI disks by address on Linux, folders by name in the
  // simulator). Returns false, with `error` set, when the list itself cannot be read.
  virtual bool ListCandidates(std::vector<std::string>& paths, std::string& error) = 0;

  // Bus and identification of one candidate; nullopt when it cannot be opened or queried
  // (discovery then skips it, as it skips a drive letter without a volume).
  virtual std::optional<StorageIdentity> Identify(const std::string& path) = 0;

  // Opens a device for commands. On failure returns nullptr and sets `osError`.
  virtual std::unique_ptr<DeviceChannel> Open(const std::string& path, uint32_t access,
                                              uint32_t share, int& osError) = 0;

  // The notices of devices coming and going; nullptr, with `error` saying why, when they cannot
  // be watched.
  virtual std::unique_ptr<NoticeFeed> WatchNotices(std::string& error) {
    error = kNoDeviceNotices;
    return nullptr;
  }

  // Whether `spelling` is this platform's own other way of writing the candidate path `path`: a
  // SCSI generic node by its name alone, a volume by its drive letter. The ways every file
  // system has (relative, `.` parts, symbolic links) are PedalTracker::Resolve's own.
  virtual bool Spells(const std::string& /*spelling*/, const std::string& /*path*/) const {
    return false;
  }
};

// A listing the platform could not read: "<what> cannot be read: <the system's reason>".
inline std::string CannotBeRead(const std::string& what, const std::string& reason) {
  return what + " cannot be read: " + reason;
}

// What a job says when another program holds the pedal: one program at a time may talk to it,
// or two transfers would interleave their commands in one loop.
inline constexpr const char* kMsgPedalInUse = "The pedal is in use by another program";
// The open error that every platform reports for a pedal held by another program (the system's
// own code for it: ERROR_SHARING_VIOLATION on Windows, EBUSY elsewhere).
#if defined(_WIN32)
inline constexpr int kPedalInUseError = 32;
#else
inline constexpr int kPedalInUseError = EBUSY;
#endif
// True for the open errors of a pedal that is no longer there (pulled out between the click and
// the job): the device notice that follows says it, so a job need not.
inline constexpr bool PedalGoneError(int osError) {
#if defined(_WIN32)
  return osError == 2 || osError == 3;  // ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND
#else
  return osError == ENOENT || osError == ENODEV || osError == ENXIO;
#endif
}

// The platform this process talks to: the simulated pedals when the environment variable
// RENDAX_SIMULATOR names a folder, otherwise the operating system's devices.
DevicePlatform& DefaultPlatform();

// The native platform of this build (SG_IO on Linux, SPTI on Windows), whatever the
// environment says.
DevicePlatform& NativePlatform();

// A clear English sentence for a failed Open of `path` with `osError`, saying what to do about
// it (on Linux, how to install the udev rule when access was denied). For front ends.
std::string DescribeOpenError(const std::string& path, int osError);

}  // namespace rendax
