// SPDX-License-Identifier: GPL-3.0-or-later
// Pedal hot-plug on Linux without a toolkit: a pollable descriptor and the notices behind it.
//
// Where udevd runs, its monitor is used (events come after udev has made the node and granted
// the seat user access to it). Where none runs (a container, a bare guest, an initramfs) the
// kernel's own uevent netlink group is read instead and its messages are parsed here.
//
// Only block devices count: "add" is a volume arrival, "remove" a device removal. The SCSI
// generic node is not watched: it is added before the disk has been probed, so a search at that
// moment would not yet see the pedal (discovery starts from the SCSI disks).
#pragma once

#include <linux/netlink.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "device/hotplug_notice.h"

namespace rendax {

// The fields of one kernel uevent that the watcher needs.
struct Uevent {
  std::string action;     // "add", "remove", "change", "bind", ...
  std::string devpath;    // "/devices/.../block/sdb"
  std::string subsystem;  // "block", "scsi_generic", "usb", ...
  std::string devtype;    // "disk", "partition", ... (may be empty)
  std::string devname;    // "sdb" (may be empty)
};

// Parses one kernel uevent message: a header "ACTION@DEVPATH", then NUL-separated KEY=VALUE
// fields. Reads exactly `size` bytes (the last field need not end in a NUL). Returns false,
// leaving `event` unspecified, for anything else: an empty message, udevd's own "libudev"
// messages, a header without '@', a missing ACTION or SUBSYSTEM, or an ACTION that disagrees
// with the header.
bool ParseUevent(const char* data, size_t size, Uevent& event);

// The notice an event stands for; nullopt for events that change nothing for the pedal search
// (other subsystems, "change", "bind", "move", ...).
std::optional<HotplugNotice> NoticeFor(std::string_view action, std::string_view subsystem);

// Whether a datagram read from the kernel's uevent socket may be trusted: it must come from the
// kernel (sender port 0; any process with the right capability can send to the group) and must
// not have been cut short by the receive buffer (`msgFlags` from recvmsg).
bool FromKernel(const sockaddr_nl& sender, int msgFlags);

// The Linux notice feed (LinuxPlatform::WatchNotices).
class HotplugMonitor : public NoticeFeed {
 public:
  enum class Feed {
    Automatic,  // udevd's monitor when /run/udev/control exists, else the kernel's uevents
    Udev,
    Kernel
  };

  // Opens the watcher. nullptr, with `error` set to a sentence for people, when it cannot.
  // `kernelGroups` is the netlink group mask of the kernel feed (1: the kernel's uevents);
  // tests use a private group.
  static std::unique_ptr<HotplugMonitor> Open(Feed feed, std::string& error,
                                              uint32_t kernelGroups = 1);
  ~HotplugMonitor() override;
  HotplugMonitor(const HotplugMonitor&) = delete;
  HotplugMonitor& operator=(const HotplugMonitor&) = delete;

  // Non-blocking; readable when events are pending. Stays owned by the monitor.
  int Fd() const override;
  // "udev" or "kernel uevents": which feed was opened, for messages.
  std::string Name() const override;

  // Reads every pending event without blocking and appends its notice (if any) to `notices`.
  // When the kernel dropped events because the socket's buffer overflowed, appends a removal
  // and then an arrival, so the front end checks both ways instead of missing a change.
  // Returns false when the descriptor failed (the watcher is then of no further use).
  bool Read(std::vector<HotplugNotice>& notices) override;

 private:
  HotplugMonitor() = default;
  bool ReadKernel(std::vector<HotplugNotice>& notices);
  bool ReadUdev(std::vector<HotplugNotice>& notices);

  int fd_ = -1;  // the kernel socket (kernel feed only)
  struct Udev;   // libudev's context and monitor (udev feed only)
  std::unique_ptr<Udev> udev_;
};

}  // namespace rendax
