// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/platform/linux/linux_platform.h"

#include <fcntl.h>
#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>

#include "device/discovery.h"
#include "fake_platform.h"

namespace rendax {
namespace {
using testing::TempDir;
namespace fs = std::filesystem;

// A sysfs tree laid out as the kernel lays out USB and virtio SCSI disks.
class FakeSysfs {
 public:
  std::string root() const { return (dir_.path() / "sys").string(); }
  std::string dev() const { return (dir_.path() / "dev").string(); }

  // `sg` < 0: no generic node. A missing string writes no attribute file.
  void AddDisk(const std::string& address, int sg, bool usb, std::optional<std::string> vendor,
               std::optional<std::string> model) {
    const fs::path sys = dir_.path() / "sys";
    const std::string host = address.substr(0, address.find(':'));
    fs::path parent = sys / "devices/pci0000:00";
    if (usb) {
      const fs::path port = parent / "0000:00:14.0/usb1" / ("1-" + std::to_string(++ports_));
      Write(port / "uevent", "MAJOR=189\nDEVTYPE=usb_device\n");
      parent = port / (port.filename().string() + ":1.0");
      Write(parent / "uevent", "DEVTYPE=usb_interface\n");
    } else {
      parent = parent / "0000:00:05.0/virtio1";
      Write(parent / "uevent", "DRIVER=virtio_scsi\n");
    }
    const fs::path device = parent / ("host" + host) / ("target" + host + ":0:0") / address;
    Write(device / "uevent", "DEVTYPE=scsi_device\n");
    if (vendor) Write(device / "vendor", *vendor + "\n");
    if (model) Write(device / "model", *model + "\n");
    fs::create_directories(device / "scsi_disk" / address);
    fs::create_directory_symlink("../../../" + address, device / "scsi_disk" / address / "device");
    fs::create_directories(sys / "class/scsi_disk");
    fs::create_directory_symlink(device / "scsi_disk" / address, sys / "class/scsi_disk" / address);
    if (sg >= 0) {
      const std::string name = "sg" + std::to_string(sg);
      fs::create_directories(device / "scsi_generic" / name);
      fs::create_directory_symlink("scsi_generic/" + name, device / "generic");
      fs::create_directory_symlink("../../../" + address,
                                   device / "scsi_generic" / name / "device");
      fs::create_directories(sys / "class/scsi_generic");
      fs::create_directory_symlink(device / "scsi_generic" / name,
                                   sys / "class/scsi_generic" / name);
    }
  }

 private:
  static void Write(const fs::path& p, const std::string& text) {
    fs::create_directories(p.parent_path());
    std::ofstream(p) << text;
  }
  TempDir dir_;
  int ports_ = 0;
};

TEST(LinuxDiscovery, CandidatesAreGenericNodesInNumericScsiAddressOrder) {
  FakeSysfs sysfs;
  sysfs.AddDisk("10:0:0:0", 1, true, "QELM    ", "RENDAX          ");
  sysfs.AddDisk("2:0:1:0", 0, true, "QELM    ", "RENDAX          ");
  sysfs.AddDisk("2:0:0:0", 5, false, "ATA     ", "Samsung SSD     ");
  sysfs.AddDisk("3:0:0:0", -1, true, "QELM    ", "RENDAX          ");  // sg not loaded
  LinuxPlatform platform(sysfs.root(), sysfs.dev());
  std::vector<std::string> paths;
  std::string error;
  ASSERT_TRUE(platform.ListCandidates(paths, error)) << error;
  EXPECT_EQ(paths, (std::vector<std::string>{sysfs.dev() + "/sg5", sysfs.dev() + "/sg0",
                                             sysfs.dev() + "/sg1"}));

  LinuxPlatform empty((fs::path(sysfs.root()) / "nothing").string(), sysfs.dev());
  EXPECT_TRUE(empty.ListCandidates(paths, error));
  EXPECT_TRUE(paths.empty());
}

TEST(LinuxDiscovery, PedalSearchOnAFakeTree) {
  FakeSysfs sysfs;
  sysfs.AddDisk("0:0:0:0", 0, false, "QELM    ", "RENDAX          ");  // decoy on virtio
  sysfs.AddDisk("1:0:0:0", 1, true, "SanDisk ", "Cruzer Blade    ");
  sysfs.AddDisk("1:0:1:0", 7, true, "QELM    ", "RENDAX_TWIN     ");
  sysfs.AddDisk("2:0:0:0", 2, true, "QELM    ", "RENDAX_MINI     ");
  sysfs.AddDisk("4:0:0:0", 4, true, "qelm    ", "RENDAX          ");
  sysfs.AddDisk("3:0:0:0", 3, true, "QELM    ", "RENDAX          ");
  sysfs.AddDisk("5:0:0:0", 6, true, std::nullopt, std::nullopt);
  LinuxPlatform platform(sysfs.root(), sysfs.dev());
  const auto virtio = platform.Identify(sysfs.dev() + "/sg0");
  ASSERT_TRUE(virtio);
  EXPECT_FALSE(virtio->usb);
  EXPECT_EQ(virtio->product, "RENDAX          ") << "raw 16 bytes: blanks kept, newline gone";
  EXPECT_FALSE(platform.Identify(sysfs.dev() + "/sg9"));
  std::string path;
  ASSERT_EQ(FindPedal(platform, 0, path), 1);
  EXPECT_EQ(path, sysfs.dev() + "/sg3") << "lowest address of the USB pedals of model 0";
  ASSERT_EQ(FindPedal(platform, 2, path), 1);
  EXPECT_EQ(path, sysfs.dev() + "/sg2");
  ASSERT_EQ(FindPedal(platform, 1, path), 1);
  EXPECT_EQ(path, sysfs.dev() + "/sg7") << "model 0's filter passed over the Twin";
}

TEST(LinuxSg, RequestBecomesAnSgHeaderOverTheCallersBuffer) {
  uint8_t data[65536];
  uint8_t sense[32];
  const std::pair<DataDirection, uint32_t> cases[] = {
      {DataDirection::In, 65536}, {DataDirection::Out, 24576}, {DataDirection::In, 0}};
  for (const auto& [direction, length] : cases) {
    PassThroughRequest request;
    request.cdb[0] = 0xCB;
    request.direction = direction;
    request.dataLength = length;
    request.data = data;
    sg_io_hdr_t h;
    FillSgHeader(request, h, sense);
    EXPECT_EQ(h.interface_id, 'S');
    EXPECT_EQ(h.dxfer_direction, length == 0                      ? SG_DXFER_NONE
                                 : direction == DataDirection::In ? SG_DXFER_FROM_DEV
                                                                  : SG_DXFER_TO_DEV);
    EXPECT_EQ(h.cmd_len, 10);
    EXPECT_EQ(h.cmdp, request.cdb.data());
    EXPECT_EQ(h.dxfer_len, length);
    EXPECT_EQ(h.dxferp, data);
    EXPECT_EQ(h.mx_sb_len, 26);
    EXPECT_EQ(h.sbp, sense);
    EXPECT_EQ(h.timeout, 400000u);
  }
}

TEST(LinuxSg, OutcomeComesFromStatusNotFromTheIoctl) {
  uint8_t sense[32] = {0x70, 0, 0x05, 0, 0, 0, 0, 10, 0, 0, 0, 0, 0x20};
  auto header = [](int status, int host, int driver, int resid, int sbWritten) {
    sg_io_hdr_t h{};
    h.status = static_cast<unsigned char>(status);
    h.host_status = static_cast<unsigned short>(host);
    h.driver_status = static_cast<unsigned short>(driver);
    h.resid = resid;
    h.sb_len_wr = static_cast<unsigned char>(sbWritten);
    return h;
  };
  const PassThroughResult refused = MapSgResult(0, 0, header(0x02, 0, 0x08, 2, 18), sense);
  EXPECT_EQ(refused.outcome, CommandOutcome::ScsiStatus);
  EXPECT_EQ(refused.scsiStatus, 0x02);
  EXPECT_EQ(refused.senseLength, 18);
  EXPECT_EQ(refused.sense[12], 0x20);

  EXPECT_EQ(MapSgResult(-1, EPERM, header(0, 0, 0, 0, 0), sense).osError, EPERM);
  EXPECT_EQ(MapSgResult(-1, EPERM, header(0, 0, 0, 0, 0), sense).outcome, CommandOutcome::OsError);
  // The host and driver statuses stay: they tell a pulled cable from a timeout.
  const PassThroughResult pulled = MapSgResult(0, 0, header(0, 0x01, 0, 0, 0), sense);
  EXPECT_EQ(pulled.outcome, CommandOutcome::TransportError);
  EXPECT_EQ(pulled.hostStatus, kHostNoConnect);
  const PassThroughResult late = MapSgResult(0, 0, header(0, 0, 0x06, 0, 0), sense);
  EXPECT_EQ(late.outcome, CommandOutcome::TransportError);
  EXPECT_EQ(late.driverStatus, kDriverTimeOut);
  const PassThroughResult good = MapSgResult(0, 0, header(0, 0, 0, 3, 0), sense);
  EXPECT_EQ(good.outcome, CommandOutcome::Good);
  EXPECT_EQ(good.residual, 3u);
  EXPECT_EQ(good.senseLength, 0);
}

TEST(LinuxOpen, FailuresCarryErrnoAndDeniedAccessExplainsTheUdevRule) {
  LinuxPlatform platform;
  int osError = 0;
  EXPECT_EQ(platform.Open("/nonexistent/sg0", 0, 0, osError), nullptr);
  EXPECT_EQ(osError, ENOENT);
  const std::string hint = DescribeOpenError("/dev/sg2", EACCES);
  EXPECT_NE(hint.find("/dev/sg2"), std::string::npos);
  EXPECT_NE(hint.find("70-rendax-pedal.rules /etc/udev/rules.d/"), std::string::npos);
  EXPECT_NE(hint.find("udevadm control --reload-rules"), std::string::npos);
  EXPECT_NE(DescribeOpenError("/dev/sg2", ENODEV).find("no longer attached"), std::string::npos);
}

// The node's system calls as the platform makes them; the open answers with `openErrno` or fd 7.
struct RecordingSgCalls : SgNodeCalls {
  int openErrno = 0;
  std::vector<int> openFlags, setFlags, closed;
  int Open(const char*, int flags) override {
    openFlags.push_back(flags);
    errno = openErrno;
    return openErrno != 0 ? -1 : 7;
  }
  int SetFlags(int fd, int flags) override {
    EXPECT_EQ(fd, 7);
    setFlags.push_back(flags);
    return 0;
  }
  int Close(int fd) override {
    closed.push_back(fd);
    return 0;
  }
};

TEST(LinuxOpen, TheNodeIsHeldExclusivelyAndAHeldOneIsRefusedAtOnce) {
  RecordingSgCalls calls;
  LinuxPlatform platform("/sys", "/dev", calls);
  int osError = -1;
  {
    auto channel = platform.Open("/dev/sg2", 0, 0, osError);
    ASSERT_NE(channel, nullptr);
    EXPECT_EQ(osError, 0);
    ASSERT_EQ(calls.openFlags.size(), 1u);
    const int flags = calls.openFlags[0];
    EXPECT_EQ(flags & O_ACCMODE, O_RDWR) << "sg takes vendor opcodes and O_EXCL only read-write";
    EXPECT_TRUE(flags & O_EXCL);
    EXPECT_TRUE(flags & O_NONBLOCK) << "a held node must refuse, not wait";
    EXPECT_EQ(calls.setFlags, std::vector<int>{0}) << "commands run blocking";
    EXPECT_TRUE(calls.closed.empty()) << "held while the channel lives";
  }
  EXPECT_EQ(calls.closed, std::vector<int>{7});

  calls.openErrno = EBUSY;
  EXPECT_EQ(platform.Open("/dev/sg2", 0, 0, osError), nullptr);
  EXPECT_EQ(osError, kPedalInUseError);
  EXPECT_EQ(DescribeOpenError("/dev/sg2", osError), std::string(kMsgPedalInUse) + ": /dev/sg2");
}

TEST(LinuxPlatform, AGenericNodeIsSpelledByItsNameOrItsSysfsFolder) {
  LinuxPlatform platform;
  const struct {
    const char* spelling;
    const char* path;
    bool spells;
  } rows[] = {
      {"sg3", "/dev/sg3", true},
      {"/sys/class/scsi_generic/sg3/", "/dev/sg3", true},
      {"sg1", "/dev/sg12", false},
      {"/tmp/scsi_generic/sg3", "/dev/sg3", false},  // not in sysfs
  };
  for (const auto& row : rows) {
    EXPECT_EQ(platform.Spells(row.spelling, row.path), row.spells) << row.spelling;
  }
}

}  // namespace
}  // namespace rendax
