// SPDX-License-Identifier: GPL-3.0-or-later
// Linux pedal access: discovery over sysfs, commands through SG_IO on the SCSI generic node.
#pragma once

#include <scsi/sg.h>

#include <cstdint>
#include <string>

#include "device/platform.h"

namespace rendax {

// The calls that open and close a generic node: the system's own in the program, a recording
// fake in tests (the exclusive open needs a real sg driver to mean anything).
class SgNodeCalls {
 public:
  virtual ~SgNodeCalls() = default;
  // As ::open, ::fcntl(fd, F_SETFL, flags) and ::close: -1 with errno set on failure.
  virtual int Open(const char* path, int flags) = 0;
  virtual int SetFlags(int fd, int flags) = 0;
  virtual int Close(int fd) = 0;
};
SgNodeCalls& SystemSgNodeCalls();

// `sysfsRoot` and `devRoot` are "/sys" and "/dev" in real use; tests point them at a fake tree.
//
// Candidates are the SCSI disks under <sysfs>/class/scsi_disk in numeric H:C:T:L order, each
// handed back as its generic node <dev>/sgN (vendor commands need sg opened read-write; the
// block node refuses them to users without CAP_SYS_RAWIO). A disk without a generic node is no
// candidate.
class LinuxPlatform : public DevicePlatform {
 public:
  explicit LinuxPlatform(std::string sysfsRoot = "/sys", std::string devRoot = "/dev",
                         SgNodeCalls& calls = SystemSgNodeCalls());

  bool ListCandidates(std::vector<std::string>& paths, std::string& error) override;
  // USB when an ancestor of the disk's resolved sysfs directory has DEVTYPE=usb_device in its
  // uevent; vendor and product are the raw `vendor` and `model` files without their newline.
  std::optional<StorageIdentity> Identify(const std::string& path) override;
  // Opens the node read-write and exclusively: the sg driver then refuses every other open of it
  // until this channel is closed, and with O_NONBLOCK a second exclusive open fails at once with
  // EBUSY instead of waiting. osError is errno on failure (EBUSY: held by another program).
  std::unique_ptr<DeviceChannel> Open(const std::string& path, uint32_t access, uint32_t share,
                                      int& osError) override;
  // udevd's monitor where it runs, else the kernel's uevents (HotplugMonitor).
  std::unique_ptr<NoticeFeed> WatchNotices(std::string& error) override;
  // A generic node by its name alone ("sg3") or by its sysfs folder
  // (<sysfs>/class/scsi_generic/sg3, or where that links to).
  bool Spells(const std::string& spelling, const std::string& path) const override;

 private:
  // The node name ("sg3") a spelling gives, "" for none.
  std::string NodeName(const std::string& spelling) const;

  std::string sysfs_, dev_;
  SgNodeCalls& calls_;
};

// Fills an SG_IO header for `request`; `sense` must hold 32 bytes and outlive the call.
void FillSgHeader(const PassThroughRequest& request, sg_io_hdr_t& header, uint8_t* sense);
// Maps a finished SG_IO call: `ioctlResult` and `savedErrno` from the ioctl, then the header and
// sense area it filled.
PassThroughResult MapSgResult(int ioctlResult, int savedErrno, const sg_io_hdr_t& header,
                              const uint8_t* sense);

}  // namespace rendax
