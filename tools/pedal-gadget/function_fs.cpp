// SPDX-License-Identifier: GPL-3.0-or-later
#include "tools/pedal-gadget/function_fs.h"

#include <endian.h>
#include <fcntl.h>
#include <linux/usb/ch9.h>
#include <linux/usb/functionfs.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>

namespace rendax {
namespace {

constexpr uint8_t kClassMassStorage = 0x08;
constexpr uint8_t kSubclassScsi = 0x06;
constexpr uint8_t kProtocolBulkOnly = 0x50;
constexpr uint8_t kRequestGetMaxLun = 0xFE;
constexpr uint8_t kRequestReset = 0xFF;

struct __attribute__((packed)) InterfaceDescriptors {
  usb_interface_descriptor interface;
  usb_endpoint_descriptor_no_audio in;
  usb_endpoint_descriptor_no_audio out;
};

struct __attribute__((packed)) Descriptors {
  usb_functionfs_descs_head_v2 header;
  __le32 fullSpeedCount;
  __le32 highSpeedCount;
  InterfaceDescriptors fullSpeed;
  InterfaceDescriptors highSpeed;
};

constexpr char kInterfaceName[] = "Pedal storage";

struct __attribute__((packed)) Strings {
  usb_functionfs_strings_head header;
  __le16 language;
  char text[sizeof(kInterfaceName)];
};

InterfaceDescriptors MakeInterface(uint16_t maxPacket) {
  InterfaceDescriptors d{};
  d.interface.bLength = sizeof(d.interface);
  d.interface.bDescriptorType = USB_DT_INTERFACE;
  d.interface.bNumEndpoints = 2;
  d.interface.bInterfaceClass = kClassMassStorage;
  d.interface.bInterfaceSubClass = kSubclassScsi;
  d.interface.bInterfaceProtocol = kProtocolBulkOnly;
  d.interface.iInterface = 1;
  // The endpoint files are numbered in this order: ep1 is bulk-in, ep2 bulk-out.
  d.in.bLength = sizeof(d.in);
  d.in.bDescriptorType = USB_DT_ENDPOINT;
  d.in.bEndpointAddress = 1 | USB_DIR_IN;
  d.in.bmAttributes = USB_ENDPOINT_XFER_BULK;
  d.in.wMaxPacketSize = htole16(maxPacket);
  d.out = d.in;
  d.out.bEndpointAddress = 2 | USB_DIR_OUT;
  return d;
}

bool WriteText(const std::string& path, const std::string& text, std::string& error) {
  const int fd = ::open(path.c_str(), O_WRONLY);
  if (fd < 0) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  const ssize_t n = ::write(fd, text.data(), text.size());
  const int saved = errno;
  ::close(fd);
  if (n != static_cast<ssize_t>(text.size())) {
    error = path + ": " + std::strerror(n < 0 ? saved : EIO);
    return false;
  }
  return true;
}

bool MakeDir(const std::string& path, std::string& error) {
  if (::mkdir(path.c_str(), 0755) == 0 || errno == EEXIST) return true;
  error = path + ": " + std::strerror(errno);
  return false;
}

std::string Hex(uint16_t v) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "0x%04x", v);
  return buf;
}

}  // namespace

FfsGadget::FfsGadget(GadgetConfig config) : config_(std::move(config)) {
  if (config_.mountDir.empty()) config_.mountDir = "/dev/ffs-" + config_.name;
  gadgetDir_ = config_.configfs + "/usb_gadget/" + config_.name;
}

FfsGadget::~FfsGadget() {
  Stop();
  Shutdown();
}

bool FfsGadget::Start(std::string& error) {
  if (::mkdir(gadgetDir_.c_str(), 0755) != 0) {
    error = gadgetDir_ + ": " + std::strerror(errno) +
            (errno == ENOENT ? " (is configfs mounted and libcomposite loaded?)" : "");
    return false;
  }
  const std::string g = gadgetDir_;
  const std::string function = g + "/functions/ffs." + config_.name;
  const std::string config = g + "/configs/c.1";
  if (!WriteText(g + "/idVendor", Hex(config_.vendorId), error) ||
      !WriteText(g + "/idProduct", Hex(config_.productId), error) ||
      !WriteText(g + "/bcdUSB", "0x0200", error) || !WriteText(g + "/bcdDevice", "0x0100", error) ||
      !MakeDir(g + "/strings/0x409", error) ||
      !WriteText(g + "/strings/0x409/manufacturer", config_.manufacturer, error) ||
      !WriteText(g + "/strings/0x409/product", config_.product, error) ||
      !WriteText(g + "/strings/0x409/serialnumber", config_.serial, error) ||
      !MakeDir(config, error) || !WriteText(config + "/MaxPower", "100", error) ||
      !MakeDir(config + "/strings/0x409", error) ||
      !WriteText(config + "/strings/0x409/configuration", "Pedal", error) ||
      !MakeDir(function, error)) {
    return false;
  }
  const std::string link = config + "/ffs." + config_.name;
  if (::symlink(function.c_str(), link.c_str()) != 0) {
    error = link + ": " + std::strerror(errno);
    return false;
  }
  linked_ = true;

  if (!MakeDir(config_.mountDir, error)) return false;
  if (::mount(config_.name.c_str(), config_.mountDir.c_str(), "functionfs", 0, nullptr) != 0) {
    error = "mount functionfs at " + config_.mountDir + ": " + std::strerror(errno);
    return false;
  }
  mounted_ = true;

  ep0_ = ::open((config_.mountDir + "/ep0").c_str(), O_RDWR);
  if (ep0_ < 0) {
    error = config_.mountDir + "/ep0: " + std::strerror(errno);
    return false;
  }
  Descriptors d{};
  d.header.magic = htole32(FUNCTIONFS_DESCRIPTORS_MAGIC_V2);
  d.header.length = htole32(sizeof(d));
  d.header.flags = htole32(FUNCTIONFS_HAS_FS_DESC | FUNCTIONFS_HAS_HS_DESC);
  d.fullSpeedCount = htole32(3);
  d.highSpeedCount = htole32(3);
  d.fullSpeed = MakeInterface(64);
  d.highSpeed = MakeInterface(512);
  Strings s{};
  s.header.magic = htole32(FUNCTIONFS_STRINGS_MAGIC);
  s.header.length = htole32(sizeof(s));
  s.header.str_count = htole32(1);
  s.header.lang_count = htole32(1);
  s.language = htole16(0x0409);
  std::memcpy(s.text, kInterfaceName, sizeof(kInterfaceName));
  if (::write(ep0_, &d, sizeof(d)) != static_cast<ssize_t>(sizeof(d)) ||
      ::write(ep0_, &s, sizeof(s)) != static_cast<ssize_t>(sizeof(s))) {
    error = "FunctionFS refused the descriptors: " + std::string(std::strerror(errno));
    return false;
  }
  epIn_ = ::open((config_.mountDir + "/ep1").c_str(), O_RDWR);
  epOut_ = ::open((config_.mountDir + "/ep2").c_str(), O_RDWR);
  if (epIn_ < 0 || epOut_ < 0) {
    error = "the endpoint files in " + config_.mountDir + ": " + std::strerror(errno);
    return false;
  }

  ep0Thread_ = std::thread([this] { Ep0Loop(); });

  if (!WriteUdc(config_.udc)) {
    error = "cannot bind to the controller " + config_.udc + ": " + std::strerror(errno);
    return false;
  }
  bound_ = true;
  return true;
}

bool FfsGadget::WriteUdc(const std::string& value) {
  const int fd = ::open((gadgetDir_ + "/UDC").c_str(), O_WRONLY);
  if (fd < 0) return false;
  const std::string text = value + "\n";
  const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::close(fd);
  return ok;
}

void FfsGadget::Ep0Loop() {
  usb_functionfs_event events[4];
  while (!stopping_.load()) {
    const ssize_t n = ::read(ep0_, events, sizeof(events));
    if (n < 0) {
      if (errno != EINTR) std::this_thread::sleep_for(std::chrono::milliseconds(10));
      continue;
    }
    for (size_t i = 0; i < static_cast<size_t>(n) / sizeof(events[0]); ++i) {
      switch (events[i].type) {
        case FUNCTIONFS_ENABLE: {
          std::lock_guard<std::mutex> lock(mutex_);
          enabled_ = true;
          changed_.notify_all();
          break;
        }
        case FUNCTIONFS_DISABLE:
        case FUNCTIONFS_UNBIND: {
          std::lock_guard<std::mutex> lock(mutex_);
          enabled_ = false;
          changed_.notify_all();
          break;
        }
        case FUNCTIONFS_SETUP:
          HandleSetup(reinterpret_cast<const uint8_t*>(&events[i].u.setup));
          break;
        default:
          break;
      }
    }
  }
  ep0Done_ = true;
}

void FfsGadget::HandleSetup(const uint8_t* setup) {
  const uint8_t type = setup[0];
  const uint8_t request = setup[1];
  const uint16_t length = static_cast<uint16_t>(setup[6] | (setup[7] << 8));
  const bool toHost = (type & USB_DIR_IN) != 0;
  const bool classInterface =
      (type & USB_TYPE_MASK) == USB_TYPE_CLASS && (type & USB_RECIP_MASK) == USB_RECIP_INTERFACE;
  uint8_t byte = 0;
  if (classInterface && request == kRequestGetMaxLun && toHost && length >= 1) {
    (void)::write(ep0_, &byte, 1);  // one logical unit: the highest LUN is 0
    return;
  }
  if (classInterface && request == kRequestReset && !toHost && length == 0) {
    (void)::read(ep0_, nullptr, 0);  // status stage
    {
      std::lock_guard<std::mutex> lock(mutex_);
      ++resets_;
      changed_.notify_all();
    }
    // A command still in progress is abandoned: the next thing the host sends is a wrapper.
    if (bulkDone_.load() == false && bulkThread_ != pthread_t{}) pthread_kill(bulkThread_, SIGUSR2);
    return;
  }
  // Anything else is refused: FunctionFS stalls ep0 on I/O in the wrong direction.
  if (toHost) {
    (void)::read(ep0_, &byte, 0);
  } else {
    (void)::write(ep0_, &byte, 0);
  }
}

bool FfsGadget::WaitEnabled() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return enabled_ || stopping_.load() || lost_.load(); });
  return enabled_ && !stopping_.load() && !lost_.load();
}

void FfsGadget::Run(BulkOnlyTransport& transport) {
  bulkThread_ = pthread_self();
  while (!stopping_.load() && !lost_.load()) {
    if (!WaitEnabled()) break;
    const ServeResult r = transport.ServeOne();
    if (r == ServeResult::DeviceLost) break;
    if (r == ServeResult::PipeFailed) {
      // Disabled, reset or interrupted: give the control events a moment to arrive.
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  bulkDone_ = true;
}

void FfsGadget::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    changed_.notify_all();
  }
  if (bound_.exchange(false)) WriteUdc("");
  // Blocking endpoint I/O ends only on a signal; repeat it until both loops have seen the flag.
  for (int i = 0; i < 500; ++i) {
    const bool bulkRunning = bulkThread_ != pthread_t{} && !bulkDone_.load();
    const bool ep0Running = ep0Thread_.joinable() && !ep0Done_.load();
    if (!bulkRunning && !ep0Running) break;
    if (bulkRunning) pthread_kill(bulkThread_, SIGUSR2);
    if (ep0Running) pthread_kill(ep0Thread_.native_handle(), SIGUSR2);
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (ep0Thread_.joinable() && ep0Done_.load()) ep0Thread_.join();
}

void FfsGadget::Shutdown() {
  if (bound_.exchange(false)) WriteUdc("");
  if (ep0Thread_.joinable()) {
    // Stop() could not end it: leave it rather than block the shutdown.
    if (ep0Done_.load())
      ep0Thread_.join();
    else
      ep0Thread_.detach();
  }
  for (int* fd : {&epIn_, &epOut_, &ep0_}) {
    if (*fd >= 0) ::close(*fd);
    *fd = -1;
  }
  if (mounted_ && ::umount(config_.mountDir.c_str()) == 0) {
    ::rmdir(config_.mountDir.c_str());
  }
  mounted_ = false;
  if (linked_) {
    const std::string config = gadgetDir_ + "/configs/c.1";
    ::unlink((config + "/ffs." + config_.name).c_str());
    linked_ = false;
    ::rmdir((gadgetDir_ + "/functions/ffs." + config_.name).c_str());
    ::rmdir((config + "/strings/0x409").c_str());
    ::rmdir(config.c_str());
    ::rmdir((gadgetDir_ + "/strings/0x409").c_str());
    ::rmdir(gadgetDir_.c_str());
  }
}

long FfsGadget::ReadOut(uint8_t* buffer, size_t size) {
  const ssize_t n = ::read(epOut_, buffer, size);
  return n < 0 ? -1 : static_cast<long>(n);
}

bool FfsGadget::WriteIn(const uint8_t* buffer, size_t size) {
  return ::write(epIn_, buffer, size) == static_cast<ssize_t>(size);
}

void FfsGadget::HaltIn() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    resetMark_ = resets_;
  }
  uint8_t byte = 0;
  (void)::read(epIn_, &byte, 1);  // I/O against the endpoint's direction halts it
}

void FfsGadget::HaltOut() {
  uint8_t byte = 0;
  (void)::write(epOut_, &byte, 1);
}

bool FfsGadget::WaitForReset() {
  std::unique_lock<std::mutex> lock(mutex_);
  changed_.wait(lock, [this] { return resets_ != resetMark_ || stopping_.load() || lost_.load(); });
  return resets_ != resetMark_;
}

void FfsGadget::Disconnect() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    lost_ = true;
    changed_.notify_all();
  }
  if (bound_.exchange(false)) WriteUdc("");
}

}  // namespace rendax
