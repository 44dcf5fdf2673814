// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/platform/linux/hotplug_monitor.h"

#include <libudev.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <system_error>

#include "device/platform.h"

namespace rendax {
namespace {

// The kernel caps a uevent's environment at 2,048 bytes and adds the header; anything that does
// not fit this buffer is not a kernel uevent.
constexpr size_t kMessageBuffer = 8192;
// Enough for the burst of events when a hub full of disks comes and goes.
constexpr int kReceiveBuffer = 1 << 20;

// Why the kernel's notices cannot be watched, with the system's reason.
std::string CannotReadEvents(int err) {
  return CannotBeRead("The kernel's device events",
                      std::error_code(err, std::generic_category()).message());
}

void Overflowed(std::vector<HotplugNotice>& notices) {
  notices.push_back(HotplugNotice::DeviceRemoval);
  notices.push_back(HotplugNotice::VolumeArrival);
}

}  // namespace

bool ParseUevent(const char* data, size_t size, Uevent& event) {
  event = Uevent{};
  if (data == nullptr || size == 0) return false;
  std::string_view message(data, size);
  std::string_view headerAction;
  bool header = true, haveAction = false, haveSubsystem = false;
  while (!message.empty()) {
    const size_t end = message.find('\0');
    const std::string_view field = message.substr(0, end);
    message = end == std::string_view::npos ? std::string_view() : message.substr(end + 1);
    if (header) {
      // "add@/devices/...": udevd's own messages start with "libudev" instead.
      const size_t at = field.find('@');
      if (at == 0 || at == std::string_view::npos || field.find('=') < at) return false;
      headerAction = field.substr(0, at);
      event.devpath = std::string(field.substr(at + 1));
      header = false;
      continue;
    }
    const size_t eq = field.find('=');
    if (eq == 0 || eq == std::string_view::npos) continue;
    const std::string_view key = field.substr(0, eq), value = field.substr(eq + 1);
    if (key == "ACTION" && !haveAction) {
      event.action = std::string(value);
      haveAction = true;
    } else if (key == "SUBSYSTEM" && !haveSubsystem) {
      event.subsystem = std::string(value);
      haveSubsystem = true;
    } else if (key == "DEVPATH") {
      event.devpath = std::string(value);
    } else if (key == "DEVTYPE") {
      event.devtype = std::string(value);
    } else if (key == "DEVNAME") {
      event.devname = std::string(value);
    }
  }
  return !header && haveAction && haveSubsystem && event.action == headerAction;
}

std::optional<HotplugNotice> NoticeFor(std::string_view action, std::string_view subsystem) {
  if (subsystem != "block") return std::nullopt;
  if (action == "add") return HotplugNotice::VolumeArrival;
  if (action == "remove") return HotplugNotice::DeviceRemoval;
  return std::nullopt;
}

bool FromKernel(const sockaddr_nl& sender, int msgFlags) {
  return sender.nl_family == AF_NETLINK && sender.nl_pid == 0 && (msgFlags & MSG_TRUNC) == 0;
}

struct HotplugMonitor::Udev {
  udev* context = nullptr;
  udev_monitor* monitor = nullptr;
  ~Udev() {
    if (monitor) udev_monitor_unref(monitor);
    if (context) udev_unref(context);
  }
};

std::unique_ptr<HotplugMonitor> HotplugMonitor::Open(Feed feed, std::string& error,
                                                     uint32_t kernelGroups) {
  if (feed == Feed::Automatic) {
    // udevd creates its control socket when it starts; without it nobody forwards events.
    feed = access("/run/udev/control", F_OK) == 0 ? Feed::Udev : Feed::Kernel;
  }
  std::unique_ptr<HotplugMonitor> monitor(new HotplugMonitor());
  if (feed == Feed::Udev) {
    auto u = std::make_unique<Udev>();
    u->context = udev_new();
    u->monitor = u->context ? udev_monitor_new_from_netlink(u->context, "udev") : nullptr;
    if (!u->monitor ||
        udev_monitor_filter_add_match_subsystem_devtype(u->monitor, "block", nullptr) < 0 ||
        udev_monitor_enable_receiving(u->monitor) < 0) {
      error = "The udev monitor is not available";
      return nullptr;
    }
    monitor->udev_ = std::move(u);
    return monitor;
  }

  const int fd =
      socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_KOBJECT_UEVENT);
  if (fd < 0) {
    error = CannotReadEvents(errno);
    return nullptr;
  }
  monitor->fd_ = fd;
  // Forcing the size needs CAP_NET_ADMIN; the plain request is capped by the system's limit.
  if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &kReceiveBuffer, sizeof kReceiveBuffer) < 0) {
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kReceiveBuffer, sizeof kReceiveBuffer);
  }
  sockaddr_nl address{};
  address.nl_family = AF_NETLINK;
  address.nl_groups = kernelGroups;
  if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) < 0) {
    error = CannotReadEvents(errno);
    return nullptr;
  }
  return monitor;
}

HotplugMonitor::~HotplugMonitor() {
  if (fd_ >= 0) close(fd_);
}

int HotplugMonitor::Fd() const {
  return udev_ ? udev_monitor_get_fd(udev_->monitor) : fd_;
}

std::string HotplugMonitor::Name() const {
  return udev_ ? "udev" : "kernel uevents";
}

bool HotplugMonitor::Read(std::vector<HotplugNotice>& notices) {
  return udev_ ? ReadUdev(notices) : ReadKernel(notices);
}

bool HotplugMonitor::ReadKernel(std::vector<HotplugNotice>& notices) {
  char buffer[kMessageBuffer];
  for (;;) {
    sockaddr_nl sender{};
    iovec io{buffer, sizeof buffer};
    msghdr header{};
    header.msg_name = &sender;
    header.msg_namelen = sizeof sender;
    header.msg_iov = &io;
    header.msg_iovlen = 1;
    const ssize_t got = recvmsg(fd_, &header, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) return true;
      if (errno == ENOBUFS) {
        Overflowed(notices);
        continue;
      }
      return false;
    }
    if (!FromKernel(sender, header.msg_flags)) continue;
    Uevent event;
    if (!ParseUevent(buffer, static_cast<size_t>(got), event)) continue;
    if (auto notice = NoticeFor(event.action, event.subsystem)) notices.push_back(*notice);
  }
}

bool HotplugMonitor::ReadUdev(std::vector<HotplugNotice>& notices) {
  for (;;) {
    errno = 0;
    udev_device* device = udev_monitor_receive_device(udev_->monitor);
    if (device == nullptr) {
      // libudev ends with EAGAIN when the queue is empty; a malformed message is skipped by it.
      if (errno == ENOBUFS) Overflowed(notices);
      return true;
    }
    const char* action = udev_device_get_action(device);
    const char* subsystem = udev_device_get_subsystem(device);
    if (action && subsystem) {
      if (auto notice = NoticeFor(action, subsystem)) notices.push_back(*notice);
    }
    udev_device_unref(device);
  }
}

}  // namespace rendax
