#include <libudev.h>

#include <QSocketNotifier>
#include <cstdio>
#include <cstring>

#include "app/qt/hotplug.h"

namespace rendax {

namespace {

// Block devices as udev announces them: "add" is a volume arrival, "remove" a device removal.
class UdevHotplug : public HotplugSource {
 public:
  UdevHotplug(udev* context, udev_monitor* monitor, NoticeSink sink)
      : HotplugSource(std::move(sink)),
        udev_(context),
        monitor_(monitor),
        notifier_(udev_monitor_get_fd(monitor), QSocketNotifier::Read) {
    connect(&notifier_, &QSocketNotifier::activated, this, [this] { Receive(); });
  }
  ~UdevHotplug() override {
    notifier_.setEnabled(false);
    udev_monitor_unref(monitor_);
    udev_unref(udev_);
  }

 private:
  void Receive() {
    udev_device* device = udev_monitor_receive_device(monitor_);
    if (!device) return;
    const char* action = udev_device_get_action(device);
    if (action && std::strcmp(action, "add") == 0) {
      Raise(DeviceNotice::VolumeArrival);
    } else if (action && std::strcmp(action, "remove") == 0) {
      Raise(DeviceNotice::DeviceRemoval);
    }
    udev_device_unref(device);
  }

  udev* udev_;
  udev_monitor* monitor_;
  QSocketNotifier notifier_;
};

}  // namespace

std::unique_ptr<HotplugSource> WatchNative(NoticeSink sink) {
  udev* context = udev_new();
  udev_monitor* monitor = context ? udev_monitor_new_from_netlink(context, "udev") : nullptr;
  if (!monitor || udev_monitor_filter_add_match_subsystem_devtype(monitor, "block", nullptr) < 0 ||
      udev_monitor_enable_receiving(monitor) < 0) {
    std::fprintf(stderr,
                 "rendax: cannot watch for pedals being plugged in (udev monitor unavailable); "
                 "restart the program after connecting a pedal\n");
    if (monitor) udev_monitor_unref(monitor);
    if (context) udev_unref(context);
    return nullptr;
  }
  return std::make_unique<UdevHotplug>(context, monitor, std::move(sink));
}

}  // namespace rendax
