// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/watch.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cli/info.h"
#include "device/discovery.h"
#include "device/pedal_tracker.h"
#include "transfer/texts.h"

#if defined(__linux__)
#include <poll.h>
#endif

namespace rendax {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The feed of the platform, or nullptr with `error` set when it cannot be read here.
std::unique_ptr<NoticeFeed> OpenFeed(DevicePlatform& platform, std::string& error) {
  std::unique_ptr<NoticeFeed> feed = platform.WatchNotices(error);
  // Windows sends its notices to windows only, and the command line has none.
  if (feed && feed->Fd() < 0 && feed->ScanInterval().count() == 0) {
    error = kNoDeviceNotices;
    return nullptr;
  }
  return feed;
}

class SteadyClock : public WatchClock {
 public:
  TimePoint Now() override { return Clock::now(); }
  void WaitFor(int fd, TimePoint until) override {
    const auto ms =
        std::chrono::ceil<milliseconds>(std::max(until - Clock::now(), Clock::duration::zero()));
#if defined(__linux__)
    if (fd >= 0) {
      pollfd p{fd, POLLIN, 0};
      poll(&p, 1, static_cast<int>(std::min<long long>(ms.count(), 1 << 30)));
      return;
    }
#else
    (void)fd;
#endif
    std::this_thread::sleep_for(ms);
  }
};

// The lines for one settled notice: the pedals that went, then those that came.
std::vector<std::string> Lines(HotplugNotice notice, const TrackerUpdate& update) {
  std::vector<std::string> lines;
  for (const TrackedPedal& p : update.left)
    lines.push_back("removal  " + PedalLine(p.path, p.model));
  for (const TrackedPedal& p : update.arrived)
    lines.push_back("arrival  " + PedalLine(p.path, p.model));
  if (lines.empty()) {
    lines.push_back(notice == HotplugNotice::VolumeArrival ? "arrival  no pedal"
                                                           : "removal  no pedal");
  }
  return lines;
}

}  // namespace

int RunWatch(DevicePlatform& platform, const WatchOptions& options, std::FILE* out,
             std::FILE* err) {
  SteadyClock clock;
  return RunWatch(platform, options, out, err, clock);
}

int RunWatch(DevicePlatform& platform, const WatchOptions& options, std::FILE* out, std::FILE* err,
             WatchClock& clock) {
  std::string error;
  std::unique_ptr<NoticeFeed> feed = OpenFeed(platform, error);
  if (!feed) {
    std::fprintf(err, "Cannot watch for pedals: %s\n", error.c_str());
    return 1;
  }
  PedalTracker tracker(platform);
  if (!tracker.Start(error)) std::fprintf(err, "%s: %s\n", kCannotListDevices, error.c_str());
  std::fprintf(err, "Watching for pedals through %s\n", feed->Name().c_str());
  std::fflush(err);

  const auto deadline = options.timeoutSeconds
                            ? clock.Now() + std::chrono::seconds(*options.timeoutSeconds)
                            : Clock::time_point::max();
  NoticeSettler settler;
  unsigned long printed = 0;
  for (;;) {
    auto wake = std::min(deadline, settler.Due());
    if (feed->Fd() < 0) wake = std::min(wake, clock.Now() + feed->ScanInterval());
    clock.WaitFor(feed->Fd(), wake);

    std::vector<HotplugNotice> came;
    if (!feed->Read(came)) {
      std::fprintf(err, "Stopped watching for pedals: the %s feed failed\n", feed->Name().c_str());
      return 1;
    }
    const auto now = clock.Now();
    for (HotplugNotice n : came) settler.Add(n, now);
    // At the deadline what came is shown without waiting for it to settle.
    for (HotplugNotice n : settler.Take(now >= deadline ? settler.Due() : now)) {
      TrackerUpdate update;
      if (!tracker.Refresh(n, update, error)) {
        std::fprintf(err, "%s: %s\n", kCannotListDevices, error.c_str());
        std::fflush(err);
      }
      for (const std::string& line : Lines(n, update)) {
        std::fprintf(out, "%s\n", line.c_str());
        std::fflush(out);
        if (options.count && ++printed >= *options.count) return 0;
      }
    }
    if (now >= deadline) {
      std::fprintf(err, "No more notices within %lu s\n", *options.timeoutSeconds);
      return 1;
    }
  }
}

}  // namespace rendax
