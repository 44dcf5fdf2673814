// `rendax-cli watch`: pedals being plugged in and pulled out, one line per notice, with the
// search the window runs for it.
#pragma once

#include <chrono>
#include <cstdio>
#include <optional>

#include "device/platform.h"

namespace rendax {

struct WatchOptions {
  std::optional<unsigned long> count;           // stop after this many notices
  std::optional<unsigned long> timeoutSeconds;  // give up after this long
};

// Watches until `count` notices have been printed (returns 0) or the timeout has passed
// (returns 1); without either it runs until killed. Returns 1 as well when no watcher can be
// opened. Lines on `out`:
//   arrival  /dev/sg3  Rendax (model 0)    the first pedal of model 0, 1, then 2
//   removal  /dev/sg3  Rendax (model 0)    the pedal of the current model is still attached
//   removal  no pedal                      it is gone (or there never was one)
// The current model is the one found at start or by the last arrival that found a pedal, as in
// the window. A line on `err` says which feed is watched once watching has begun.
//
// Notices come from the device layer's watcher (udevd's monitor, or the kernel's uevents where
// no udevd runs). On the simulator (RENDAX_SIMULATOR) the folder is scanned every 100 ms
// instead: a pedal folder becoming attached is an arrival, one leaving (removed, or given its
// `unplugged` marker) a removal. Notices that come within 300 ms of each other are grouped as
// the window groups them: a run of equal notices is one.
int RunWatch(DevicePlatform& platform, const WatchOptions& options, std::FILE* out, std::FILE* err);

// The watch's sense of time: the steady clock and a sleep on the feed. Another clock decides
// which scan sees what, so the grouping can be followed step by step.
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
