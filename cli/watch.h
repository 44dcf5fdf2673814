// SPDX-License-Identifier: GPL-3.0-or-later
// `rendax-cli watch`: pedals being plugged in and pulled out, one line per pedal that came or
// went, as the window's pedal tracker sees them.
#pragma once

#include <chrono>
#include <cstdio>
#include <optional>

#include "device/platform.h"

namespace rendax {

struct WatchOptions {
  std::optional<unsigned long> count;           // stop after this many lines
  std::optional<unsigned long> timeoutSeconds;  // give up after this long
};

// Watches until `count` lines have been printed (returns 0) or the timeout has passed
// (returns 1); without either it runs until killed. Returns 1 as well when no watcher can be
// opened. Lines on `out`, for each settled notice:
//   removal  /dev/sg3  Rendax (model 0)        one line per pedal that went, then
//   arrival  /dev/sg4  Rendax Twin (model 1)   one line per pedal that came, in candidate order
//   arrival  no pedal                          the notice changed no pedal (a USB stick, or a
//   removal  no pedal                          pedal an earlier notice of the moment showed)
// A line on `err` says which feed is watched once watching has begun, and another when the
// list of devices cannot be read (every pedal then counts as gone).
//
// Notices come from the platform's feed (DevicePlatform::WatchNotices: udevd's monitor, or the
// kernel's uevents where no udevd runs; on the simulator, RENDAX_SIMULATOR, a scan of its folder
// every 100 ms). Notices are settled as the window settles them (NoticeSettler) and each is
// followed by a look at the attached pedals (PedalTracker).
int RunWatch(DevicePlatform& platform, const WatchOptions& options, std::FILE* out, std::FILE* err);

// The watch's sense of time: the steady clock and a sleep on the feed. Another clock decides
// which scan sees what, so a test knows which notices are settled together.
class WatchClock {
 public:
  using TimePoint = std::chrono::steady_clock::time_point;
  virtual ~WatchClock() = default;
  virtual TimePoint Now() = 0;
  // Returns once `fd` is readable (never when it is -1) or `until` has come.
  virtual void WaitFor(int fd, TimePoint until) = 0;
};
int RunWatch(DevicePlatform& platform, const WatchOptions& options, std::FILE* out, std::FILE* err,
             WatchClock& clock);

}  // namespace rendax
