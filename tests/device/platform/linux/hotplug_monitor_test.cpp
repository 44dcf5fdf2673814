// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/platform/linux/hotplug_monitor.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

namespace rendax {
namespace {

using namespace std::string_literals;

// What the kernel sent when a pedal's disk came: header, then the environment.
const std::string kDiskAdd =
    "add@/devices/pci0000:00/0000:00:04.0/usb1/1-1/1-1:1.0/host2/target2:0:0/2:0:0:0/block/sdb\0"
    "ACTION=add\0"
    "DEVPATH=/devices/pci0000:00/0000:00:04.0/usb1/1-1/1-1:1.0/host2/target2:0:0/2:0:0:0/block/"
    "sdb\0"
    "SUBSYSTEM=block\0MAJOR=8\0MINOR=16\0DEVNAME=sdb\0DEVTYPE=disk\0DISKSEQ=4\0SEQNUM=1742\0"s;

TEST(ParseUevent, ReadsTheFieldsOfKernelMessages) {
  struct Case {
    const char* what;
    std::string message;
    Uevent want;
  } cases[] = {
      {"a disk added",
       kDiskAdd,
       {"add",
        "/devices/pci0000:00/0000:00:04.0/usb1/1-1/1-1:1.0/host2/target2:0:0/2:0:0:0/block/sdb",
        "block", "disk", "sdb"}},
      {"the last field without its NUL",
       "remove@/devices/x/block/sdc/sdc1\0ACTION=remove\0SUBSYSTEM=block\0DEVTYPE=partition"s,
       {"remove", "/devices/x/block/sdc/sdc1", "block", "partition", ""}},
      {"empty and key-less fields skipped",
       "bind@/devices/u\0\0junk\0=x\0ACTION=bind\0SUBSYSTEM=usb\0"s,
       {"bind", "/devices/u", "usb", "", ""}},
      {"the first ACTION and SUBSYSTEM count",
       "add@/d\0ACTION=add\0SUBSYSTEM=block\0ACTION=remove\0SUBSYSTEM=usb\0"s,
       {"add", "/d", "block", "", ""}},
      {"values may hold '=' and '@'",
       "change@/d\0ACTION=change\0SUBSYSTEM=a=b@c\0"s,
       {"change", "/d", "a=b@c", "", ""}},
  };
  for (const Case& c : cases) {
    Uevent e;
    ASSERT_TRUE(ParseUevent(c.message.data(), c.message.size(), e)) << c.what;
    EXPECT_EQ(e.action, c.want.action) << c.what;
    EXPECT_EQ(e.devpath, c.want.devpath) << c.what;
    EXPECT_EQ(e.subsystem, c.want.subsystem) << c.what;
    EXPECT_EQ(e.devtype, c.want.devtype) << c.what;
    EXPECT_EQ(e.devname, c.want.devname) << c.what;
  }
}

TEST(ParseUevent, RefusesWhatIsNotAKernelUevent) {
  struct Case {
    const char* what;
    std::string message;
  } cases[] = {
      {"empty", ""},
      {"a lone NUL", "\0"s},
      {"udevd's own message", "libudev\0\xfe\xed\xca\xfe\0\0\0\0ACTION=add\0SUBSYSTEM=block\0"s},
      {"a header without '@'", "add /d\0ACTION=add\0SUBSYSTEM=block\0"s},
      {"a header with an empty action", "@/d\0ACTION=add\0SUBSYSTEM=block\0"s},
      {"a KEY=VALUE header", "ACTION=add@x\0ACTION=add\0SUBSYSTEM=block\0"s},
      {"only a header", "add@/d"s},
      {"no ACTION", "add@/d\0SUBSYSTEM=block\0"s},
      {"no SUBSYSTEM", "add@/d\0ACTION=add\0"s},
      {"ACTION differs from the header", "add@/d\0ACTION=remove\0SUBSYSTEM=block\0"s},
  };
  for (const Case& c : cases) {
    Uevent e;
    EXPECT_FALSE(ParseUevent(c.message.data(), c.message.size(), e)) << c.what;
  }
  Uevent e;
  EXPECT_FALSE(ParseUevent(nullptr, 0, e));
}

TEST(ParseUevent, NeverReadsPastTheBytesReceived) {
  // A datagram shorter than the buffer it landed in: what follows is stale and must not count.
  const std::string full = "add@/d\0ACTION=add\0SUBSYSTEM=block\0"s;
  const size_t cut = full.find("SUBSYSTEM");
  Uevent e;
  EXPECT_FALSE(ParseUevent(full.data(), cut, e));
  EXPECT_TRUE(ParseUevent(full.data(), cut + 13, e));  // "SUBSYSTEM=blo" without its end
  EXPECT_EQ(e.subsystem, "blo");
  // An exactly sized heap copy lets a sanitizer see any read past the end.
  for (size_t n = 1; n <= kDiskAdd.size(); ++n) {
    std::vector<char> exact(kDiskAdd.begin(), kDiskAdd.begin() + static_cast<long>(n));
    ParseUevent(exact.data(), exact.size(), e);
  }
}

TEST(HotplugNotices, OnlyBlockDevicesComingAndGoingCount) {
  struct Case {
    const char* action;
    const char* subsystem;
    std::optional<HotplugNotice> want;
  } cases[] = {
      {"add", "block", HotplugNotice::VolumeArrival},
      {"remove", "block", HotplugNotice::DeviceRemoval},
      {"change", "block", std::nullopt},  // media change, partition table re-read
      {"bind", "block", std::nullopt},
      {"add", "scsi_generic", std::nullopt},  // comes before the disk can be found
      {"remove", "usb", std::nullopt},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NoticeFor(c.action, c.subsystem), c.want) << c.action << " " << c.subsystem;
  }
}

TEST(HotplugNotices, TrustOnlyWholeMessagesFromTheKernel) {
  sockaddr_nl kernel{};
  kernel.nl_family = AF_NETLINK;
  sockaddr_nl process = kernel;
  process.nl_pid = 4242;
  sockaddr_nl other{};
  other.nl_family = AF_UNIX;
  EXPECT_TRUE(FromKernel(kernel, 0));
  EXPECT_FALSE(FromKernel(process, 0));
  EXPECT_FALSE(FromKernel(kernel, MSG_TRUNC));
  EXPECT_FALSE(FromKernel(other, 0));
}

// A process sending to the uevent group: needs CAP_NET_ADMIN. Uses a group the kernel and udevd
// do not use, so nothing else on the machine sees these messages.
constexpr uint32_t kPrivateGroup = 1u << 5;

class Spoofer {
 public:
  Spoofer() : fd_(socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_KOBJECT_UEVENT)) {}
  ~Spoofer() {
    if (fd_ >= 0) close(fd_);
  }
  bool Send(const std::string& message) {
    sockaddr_nl to{};
    to.nl_family = AF_NETLINK;
    to.nl_groups = kPrivateGroup;
    return fd_ >= 0 && sendto(fd_, message.data(), message.size(), 0,
                              reinterpret_cast<sockaddr*>(&to), sizeof to) >= 0;
  }

 private:
  int fd_;
};

TEST(HotplugMonitor, KernelFeedDropsUeventsSentByProcesses) {
  std::string error;
  auto monitor = HotplugMonitor::Open(HotplugMonitor::Feed::Kernel, error, kPrivateGroup);
  if (!monitor) GTEST_SKIP() << "no uevent socket here: " << error;
  auto witness = HotplugMonitor::Open(HotplugMonitor::Feed::Kernel, error, kPrivateGroup);
  ASSERT_TRUE(witness) << error;
  EXPECT_EQ(monitor->Name(), "kernel uevents");
  std::vector<HotplugNotice> notices;
  ASSERT_TRUE(monitor->Read(notices));
  EXPECT_TRUE(notices.empty());

  Spoofer spoofer;
  if (!spoofer.Send(kDiskAdd)) GTEST_SKIP() << "cannot send to a uevent group: " << errno;
  // The message did reach the group: a plain socket bound beside the monitor holds it.
  char buffer[4096];
  EXPECT_EQ(recv(witness->Fd(), buffer, sizeof buffer, MSG_DONTWAIT),
            static_cast<ssize_t>(kDiskAdd.size()));
  ASSERT_TRUE(monitor->Read(notices));
  EXPECT_TRUE(notices.empty()) << "a process posed as the kernel";
}

TEST(HotplugMonitor, LostEventsMakeTheFrontEndCheckBothWays) {
  std::string error;
  auto monitor = HotplugMonitor::Open(HotplugMonitor::Feed::Kernel, error, kPrivateGroup);
  if (!monitor) GTEST_SKIP() << "no uevent socket here: " << error;
  Spoofer spoofer;
  // Far more than the receive buffer holds, so the kernel drops some and says so.
  for (int i = 0; i < 20000; ++i) {
    if (!spoofer.Send(kDiskAdd)) GTEST_SKIP() << "cannot send to a uevent group: " << errno;
  }
  std::vector<HotplugNotice> notices;
  ASSERT_TRUE(monitor->Read(notices));
  EXPECT_EQ(notices, (std::vector<HotplugNotice>{HotplugNotice::DeviceRemoval,
                                                 HotplugNotice::VolumeArrival}));
}

}  // namespace
}  // namespace rendax
