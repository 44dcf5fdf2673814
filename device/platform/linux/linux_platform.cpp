// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/platform/linux/linux_platform.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "device/platform/linux/hotplug_monitor.h"

namespace rendax {
namespace fs = std::filesystem;
namespace {

constexpr uint8_t kDriverSense = 0x08;
constexpr size_t kSenseArea = 32;

struct ScsiAddress {
  unsigned long part[4] = {};
  bool operator<(const ScsiAddress& o) const {
    return std::lexicographical_compare(part, part + 4, o.part, o.part + 4);
  }
};

bool ParseAddress(const std::string& name, ScsiAddress& address) {
  size_t at = 0;
  for (int i = 0; i < 4; ++i) {
    size_t end = at;
    while (end < name.size() && name[end] >= '0' && name[end] <= '9') ++end;
    if (end == at || end - at > 9) return false;
    address.part[i] = std::stoul(name.substr(at, end - at));
    if (i < 3) {
      if (end >= name.size() || name[end] != ':') return false;
      at = end + 1;
    } else if (end != name.size()) {
      return false;
    }
  }
  return true;
}

bool IsSgName(const std::string& name) {
  return name.size() > 2 && name.compare(0, 2, "sg") == 0 &&
         std::all_of(name.begin() + 2, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A sysfs attribute without its trailing newline; the padding blanks are part of the value.
std::optional<std::string> ReadAttribute(const fs::path& file) {
  std::ifstream in(file, std::ios::binary);
  if (!in) return std::nullopt;
  std::ostringstream s;
  s << in.rdbuf();
  std::string value = s.str();
  if (!value.empty() && value.back() == '\n') value.pop_back();
  // Attributes are short; anything else is not an INQUIRY string.
  if (value.size() > 64 || value.find('\0') != std::string::npos) return std::nullopt;
  return value;
}

bool SitsOnUsb(const fs::path& deviceDir, const fs::path& sysfsRoot) {
  std::error_code ec;
  const fs::path root = fs::weakly_canonical(sysfsRoot, ec);
  for (fs::path p = deviceDir; !p.empty() && p != p.parent_path(); p = p.parent_path()) {
    if (p == root) break;
    std::ifstream uevent(p / "uevent");
    std::string line;
    while (uevent && std::getline(uevent, line)) {
      if (line == "DEVTYPE=usb_device") return true;
    }
  }
  return false;
}

class SystemCalls : public SgNodeCalls {
 public:
  int Open(const char* path, int flags) override { return ::open(path, flags); }
  int SetFlags(int fd, int flags) override { return ::fcntl(fd, F_SETFL, flags); }
  int Close(int fd) override { return ::close(fd); }
};

class SgChannel : public DeviceChannel {
 public:
  SgChannel(SgNodeCalls& calls, int fd) : calls_(calls), fd_(fd) {}
  ~SgChannel() override { calls_.Close(fd_); }
  PassThroughResult Execute(const PassThroughRequest& request) override {
    uint8_t sense[kSenseArea] = {};
    sg_io_hdr_t header;
    FillSgHeader(request, header, sense);
    const int rc = ::ioctl(fd_, SG_IO, &header);
    const int err = rc < 0 ? errno : 0;
    return MapSgResult(rc, err, header, sense);
  }

 private:
  SgNodeCalls& calls_;
  int fd_;
};

// `path` written out in full: absolute, without `.` or `..` parts or a trailing separator; with
// `follow`, also with symbolic links followed as far as it exists.
fs::path Spelled(const fs::path& path, bool follow) {
  std::error_code ec;
  fs::path p = follow ? fs::weakly_canonical(path, ec) : fs::absolute(path, ec);
  if (ec) p = path;
  p = p.lexically_normal();
  if (!p.has_filename() && p.has_relative_path()) p = p.parent_path();
  return p;
}

}  // namespace

void FillSgHeader(const PassThroughRequest& request, sg_io_hdr_t& header, uint8_t* sense) {
  std::memset(&header, 0, sizeof header);
  std::memset(sense, 0, kSenseArea);
  header.interface_id = 'S';
  if (request.dataLength == 0) {
    header.dxfer_direction = SG_DXFER_NONE;
  } else {
    header.dxfer_direction =
        request.direction == DataDirection::In ? SG_DXFER_FROM_DEV : SG_DXFER_TO_DEV;
  }
  header.cmd_len = request.cdbLength;
  header.cmdp = const_cast<unsigned char*>(request.cdb.data());
  header.dxfer_len = request.dataLength;
  header.dxferp = request.data;  // the caller's buffer, straight to the driver
  header.mx_sb_len = std::min<uint8_t>(request.senseRequested, kSenseArea);
  header.sbp = sense;
  header.timeout = request.timeoutSeconds * 1000u;
}

PassThroughResult MapSgResult(int ioctlResult, int savedErrno, const sg_io_hdr_t& header,
                              const uint8_t* sense) {
  PassThroughResult r;
  if (ioctlResult < 0) {
    r.outcome = CommandOutcome::OsError;
    r.osError = savedErrno;
    return r;
  }
  // The ioctl succeeding says nothing about the command: a refused vendor command comes back
  // with rc 0 and CHECK CONDITION in status.
  const uint8_t driverByte = header.driver_status & 0x0F;
  if (header.host_status != 0 || (driverByte & ~kDriverSense) != 0) {
    r.outcome = CommandOutcome::TransportError;
    r.scsiStatus = header.status;
    r.hostStatus = header.host_status;
    r.driverStatus = header.driver_status;
    return r;
  }
  if (header.status != kScsiStatusGood) {
    r.outcome = CommandOutcome::ScsiStatus;
    r.scsiStatus = header.status;
    r.senseLength = std::min<uint8_t>(header.sb_len_wr, static_cast<uint8_t>(kSenseArea));
    std::copy_n(sense, r.senseLength, r.sense.begin());
    return r;
  }
  r.outcome = CommandOutcome::Good;
  r.residual = header.resid > 0 ? static_cast<uint32_t>(header.resid) : 0;
  return r;
}

SgNodeCalls& SystemSgNodeCalls() {
  static SystemCalls calls;
  return calls;
}

std::unique_ptr<NoticeFeed> LinuxPlatform::WatchNotices(std::string& error) {
  return HotplugMonitor::Open(HotplugMonitor::Feed::Automatic, error);
}

std::string LinuxPlatform::NodeName(const std::string& spelling) const {
  if (IsSgName(spelling)) return spelling;
  // <sysfs>/class/scsi_generic/sg3 links into <sysfs>/devices/.../scsi_generic/sg3.
  const std::string sysfs = Spelled(sysfs_, false).generic_string() + "/";
  for (bool follow : {false, true}) {
    const fs::path p = Spelled(spelling, follow);
    const std::string name = p.filename().string();
    if (IsSgName(name) && p.parent_path().filename() == "scsi_generic" &&
        p.generic_string().rfind(sysfs, 0) == 0) {
      return name;
    }
  }
  return "";
}

bool LinuxPlatform::Spells(const std::string& spelling, const std::string& path) const {
  const std::string node = fs::path(path).filename().string();
  return IsSgName(node) && NodeName(spelling) == node;
}

LinuxPlatform::LinuxPlatform(std::string sysfsRoot, std::string devRoot, SgNodeCalls& calls)
    : sysfs_(std::move(sysfsRoot)), dev_(std::move(devRoot)), calls_(calls) {}

bool LinuxPlatform::ListCandidates(std::vector<std::string>& paths, std::string& error) {
  paths.clear();
  const fs::path disks = fs::path(sysfs_) / "class" / "scsi_disk";
  std::error_code ec;
  if (!fs::exists(disks, ec)) return true;  // no SCSI disk driver loaded: nothing attached
  std::vector<std::pair<ScsiAddress, std::string>> found;
  fs::directory_iterator it(disks, ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    ScsiAddress address;
    if (!ParseAddress(it->path().filename().string(), address)) continue;
    std::error_code linkError;
    const fs::path generic =
        fs::read_symlink(it->path() / "device" / "generic", linkError).filename();
    if (linkError || !IsSgName(generic.string())) continue;
    found.emplace_back(address, (fs::path(dev_) / generic).string());
  }
  if (ec) {
    error = CannotBeRead("The SCSI disks under " + disks.string(), ec.message());
    return false;
  }
  std::sort(found.begin(), found.end());
  for (auto& [address, path] : found) paths.push_back(std::move(path));
  return true;
}

std::optional<StorageIdentity> LinuxPlatform::Identify(const std::string& path) {
  const std::string name = fs::path(path).filename().string();
  if (!IsSgName(name)) return std::nullopt;
  std::error_code ec;
  const fs::path deviceDir =
      fs::canonical(fs::path(sysfs_) / "class" / "scsi_generic" / name / "device", ec);
  if (ec) return std::nullopt;
  StorageIdentity identity;
  identity.usb = SitsOnUsb(deviceDir, sysfs_);
  identity.vendor = ReadAttribute(deviceDir / "vendor");
  identity.product = ReadAttribute(deviceDir / "model");
  return identity;
}

std::unique_ptr<DeviceChannel> LinuxPlatform::Open(const std::string& path, uint32_t, uint32_t,
                                                   int& osError) {
  // Read-write: the kernel lets vendor opcodes through sg only on a writable open (and takes
  // O_EXCL only on one). Exclusive, so that two programs never interleave their commands in one
  // loop; non-blocking, so that a held pedal is refused at once instead of waiting for it.
  const int fd = calls_.Open(path.c_str(), O_RDWR | O_EXCL | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    osError = errno;
    return nullptr;
  }
  // The exclusion stays with the open; clearing O_NONBLOCK makes the commands plain blocking
  // SG_IO calls.
  if (calls_.SetFlags(fd, 0) != 0) {
    osError = errno;
    calls_.Close(fd);
    return nullptr;
  }
  osError = 0;
  return std::make_unique<SgChannel>(calls_, fd);
}

}  // namespace rendax
