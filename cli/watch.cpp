#include "cli/watch.h"

#include <algorithm>
#include <chrono>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cli/info.h"
#include "device/discovery.h"
#include "device/hotplug_notice.h"
#include "device/pedal_tracker.h"
#include "device/platform/sim/sim_pedal.h"
#include "transfer/texts.h"

#if defined(__linux__)
#include <poll.h>

#include "device/platform/linux/hotplug_monitor.h"
#endif

namespace rendax {
namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kSimulatorScan{100};

class NoticeFeed {
 public:
  virtual ~NoticeFeed() = default;
  // A descriptor to wait on, or -1: then Read is called every kSimulatorScan.
  virtual int Fd() const = 0;
  // Appends the notices that came since the last call; false when the feed broke down.
  virtual bool Read(std::vector<HotplugNotice>& notices) = 0;
  virtual std::string Name() const = 0;
};

// The simulator's pedals as its platform lists them (and the window's folder watcher sees
// them), compared scan by scan.
class SimulatorFeed : public NoticeFeed {
 public:
  explicit SimulatorFeed(SimulatorPlatform& platform) : platform_(platform), attached_(Scan()) {}
  int Fd() const override { return -1; }
  bool Read(std::vector<HotplugNotice>& notices) override {
    std::set<std::string> now = Scan();
    const bool gone = !std::includes(now.begin(), now.end(), attached_.begin(), attached_.end());
    const bool came = !std::includes(attached_.begin(), attached_.end(), now.begin(), now.end());
    attached_ = std::move(now);
    if (gone) notices.push_back(HotplugNotice::DeviceRemoval);
    if (came) notices.push_back(HotplugNotice::VolumeArrival);
    return true;
  }
  std::string Name() const override {
    return "the simulator folder " + platform_.Root() + " (scanned every 0.1 s)";
  }

 private:
  std::set<std::string> Scan() {
    std::vector<std::string> paths;
    std::string error;
    // A folder that is missing or unreadable holds no attached pedal.
    if (!platform_.ListCandidates(paths, error)) return {};
    return {paths.begin(), paths.end()};
  }
  SimulatorPlatform& platform_;
  std::set<std::string> attached_;
};

#if defined(__linux__)
class MonitorFeed : public NoticeFeed {
 public:
  explicit MonitorFeed(std::unique_ptr<HotplugMonitor> monitor) : monitor_(std::move(monitor)) {}
  int Fd() const override { return monitor_->Fd(); }
  bool Read(std::vector<HotplugNotice>& notices) override { return monitor_->ReadNotices(notices); }
  std::string Name() const override { return monitor_->FeedName(); }

 private:
  std::unique_ptr<HotplugMonitor> monitor_;
};
#endif

std::unique_ptr<NoticeFeed> OpenFeed(DevicePlatform& platform, std::string& error) {
  if (auto* sim = dynamic_cast<SimulatorPlatform*>(&platform)) {
    return std::make_unique<SimulatorFeed>(*sim);
  }
#if defined(__linux__)
  if (auto monitor = HotplugMonitor::Open(HotplugMonitor::Feed::Automatic, error)) {
    return std::make_unique<MonitorFeed>(std::move(monitor));
  }
  return nullptr;
#else
  error = "no device notices on this platform";
  return nullptr;
#endif
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
    if (feed->Fd() < 0) wake = std::min(wake, clock.Now() + kSimulatorScan);
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
