// SPDX-License-Identifier: GPL-3.0-or-later
// What a hot-plug watcher tells its front end: a volume came, or a device went. The windows and
// the command line react to these two alone (search again, or check the current pedal is still
// there), and read them from the one feed the platform offers (DevicePlatform::WatchNotices).
#pragma once

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace rendax {

enum class HotplugNotice {
  VolumeArrival,  // a disk or volume was added: look for a pedal again
  DeviceRemoval   // a disk or volume is gone: is the current pedal still attached?
};

// A platform's source of notices. How a front end learns that some may be waiting depends on the
// platform: a descriptor that becomes readable (Linux), a scan at a fixed interval (the
// simulator's folder), or the window messages the system sends every top-level window, which
// the window hands to Offer (Windows). Read is then called; it never blocks.
class NoticeFeed {
 public:
  virtual ~NoticeFeed() = default;
  // The descriptor to wait on, or -1.
  virtual int Fd() const { return -1; }
  // How often to Read when there is no descriptor; zero when the notices come only through
  // Offer.
  virtual std::chrono::milliseconds ScanInterval() const { return std::chrono::milliseconds(0); }
  // A message the system sent a top-level window of the program (message number and its two
  // parameters, as the window procedure got them); one that is a notice waits for Read.
  virtual void Offer(uint32_t /*message*/, uintptr_t /*wParam*/, intptr_t /*lParam*/) {}
  // Appends the notices that came since the last call, oldest first; false when the feed broke
  // down and will give no more.
  virtual bool Read(std::vector<HotplugNotice>& notices) = 0;
  // What is watched, for messages: "udev", "kernel uevents", "the simulator folder ...".
  virtual std::string Name() const = 0;
};

}  // namespace rendax
