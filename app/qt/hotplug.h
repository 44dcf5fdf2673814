// SPDX-License-Identifier: GPL-3.0-or-later
// The window's device notices: the platform's notice feed (DevicePlatform::WatchNotices: udevd's
// monitor or the kernel's uevents on Linux, the folder scan of the simulator), read from the Qt
// event loop and delivered, settled, on the window thread.
#pragma once

#include <QObject>
#include <QSocketNotifier>
#include <QTimer>
#include <functional>
#include <memory>

#include "device/hotplug_notice.h"
#include "device/pedal_tracker.h"
#include "device/platform.h"

namespace rendax {

using NoticeSink = std::function<void(HotplugNotice)>;

class HotplugSource : public QObject {
 public:
  HotplugSource(std::unique_ptr<NoticeFeed> feed, NoticeSink sink);
  ~HotplugSource() override;

 private:
  void Receive();
  void Arm();
  void Flush();

  std::unique_ptr<NoticeFeed> feed_;
  NoticeSink sink_;
  std::unique_ptr<QSocketNotifier> notifier_;  // a feed with a descriptor
  QTimer scan_;                                // a feed that is scanned
  // One pedal plugged in shows up as several notices (the disk, then each partition); they are
  // settled as every front end settles them, so the pedal is looked for (and its firmware
  // questioned) once.
  NoticeSettler settler_;
  QTimer settle_;  // single shot, due when the settler's notices are
};

// The notices of `platform`'s devices; nullptr (after saying why on stderr) when they cannot be
// watched.
std::unique_ptr<HotplugSource> WatchDevices(DevicePlatform& platform, NoticeSink sink);

}  // namespace rendax
