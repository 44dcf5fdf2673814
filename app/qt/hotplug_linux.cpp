#include <QSocketNotifier>
#include <cstdio>

#include "app/qt/hotplug.h"
#include "device/platform/linux/hotplug_monitor.h"

namespace rendax {

namespace {

// The device layer's watcher (udevd's monitor, or the kernel's uevents where no udevd runs)
// read whenever the event loop sees its descriptor ready.
class LinuxHotplug : public HotplugSource {
 public:
  LinuxHotplug(std::unique_ptr<HotplugMonitor> monitor, NoticeSink sink)
      : HotplugSource(std::move(sink)),
        monitor_(std::move(monitor)),
        notifier_(monitor_->Fd(), QSocketNotifier::Read) {
    connect(&notifier_, &QSocketNotifier::activated, this, [this] { Receive(); });
  }
  ~LinuxHotplug() override { notifier_.setEnabled(false); }

 private:
  void Receive() {
    std::vector<HotplugNotice> notices;
    if (!monitor_->ReadNotices(notices)) {
      // A dead descriptor would wake the loop forever.
      notifier_.setEnabled(false);
      std::fprintf(stderr,
                   "rendax: stopped watching for pedals being plugged in; restart the program "
                   "after connecting a pedal\n");
    }
    for (HotplugNotice n : notices) Raise(n);
  }

  std::unique_ptr<HotplugMonitor> monitor_;
  QSocketNotifier notifier_;
};

}  // namespace

std::unique_ptr<HotplugSource> WatchNative(NoticeSink sink) {
  std::string error;
  auto monitor = HotplugMonitor::Open(HotplugMonitor::Feed::Automatic, error);
  if (!monitor) {
    std::fprintf(stderr,
                 "rendax: cannot watch for pedals being plugged in (%s); restart the program "
                 "after connecting a pedal\n",
                 error.c_str());
    return nullptr;
  }
  return std::make_unique<LinuxHotplug>(std::move(monitor), std::move(sink));
}

}  // namespace rendax
