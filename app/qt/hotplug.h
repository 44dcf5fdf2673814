// Sources of device notices for the window: the operating system's hot-plug events or, when
// RENDAX_SIMULATOR names a folder, pedal folders appearing in and leaving it. Each delivers on
// the window thread through the Qt event loop.
//
// One implementation file per source: hotplug_linux.cpp (the device layer's watcher: udevd's
// monitor, or the kernel's uevents where no udevd runs), hotplug_simulator.cpp; a Windows build
// adds hotplug_windows.cpp (WM_DEVICECHANGE through a native event filter).
#pragma once

#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>

#include "app/window_layer.h"
#include "device/hotplug_notice.h"
#include "device/pedal_tracker.h"

namespace rendax {

using NoticeSink = std::function<void(DeviceNotice)>;

class HotplugSource : public QObject {
 public:
  explicit HotplugSource(NoticeSink sink);
  ~HotplugSource() override = default;

 protected:
  // Queues a notice. One pedal plugged in shows up as several events (the disk, then each
  // partition); they are settled as every front end settles them (NoticeSettler), so the pedal
  // is looked for (and its firmware questioned) once.
  void Raise(HotplugNotice notice);

 private:
  void Arm();
  void Flush();
  NoticeSink sink_;
  NoticeSettler settler_;
  QTimer settle_;  // single shot, due when the settler's notices are
};

// Watches `root` (the simulator's folder): a pedal folder that becomes attached is a volume
// arrival, one that goes (removed, or given its `unplugged` marker) a device removal.
std::unique_ptr<HotplugSource> WatchSimulator(const std::string& root, NoticeSink sink);
// The operating system's notices; nullptr (after saying why on stderr) when they are not
// available.
std::unique_ptr<HotplugSource> WatchNative(NoticeSink sink);
// The simulator's watcher when RENDAX_SIMULATOR is set, else the native one.
std::unique_ptr<HotplugSource> WatchDevices(NoticeSink sink);

}  // namespace rendax
