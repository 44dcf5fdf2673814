#include "app/qt/hotplug.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <vector>

namespace rendax {

namespace {

DeviceNotice ToWindowNotice(HotplugNotice notice) {
  return notice == HotplugNotice::VolumeArrival ? DeviceNotice::VolumeArrival
                                                : DeviceNotice::DeviceRemoval;
}

}  // namespace

HotplugSource::HotplugSource(NoticeSink sink) : sink_(std::move(sink)) {
  settle_.setSingleShot(true);
  settle_.setTimerType(Qt::PreciseTimer);
  connect(&settle_, &QTimer::timeout, this, [this] { Flush(); });
}

void HotplugSource::Raise(HotplugNotice notice) {
  settler_.Add(notice, NoticeSettler::Clock::now());
  if (!settle_.isActive()) Arm();
}

void HotplugSource::Arm() {
  if (!settler_.Pending()) return;
  const auto wait =
      std::chrono::ceil<std::chrono::milliseconds>(settler_.Due() - NoticeSettler::Clock::now());
  settle_.start(std::max(wait, std::chrono::milliseconds::zero()));
}

void HotplugSource::Flush() {
  const std::vector<HotplugNotice> notices = settler_.Take(NoticeSettler::Clock::now());
  // A timer that fired a little early waits for the rest.
  if (notices.empty()) return Arm();
  for (HotplugNotice n : notices) sink_(ToWindowNotice(n));
}

std::unique_ptr<HotplugSource> WatchDevices(NoticeSink sink) {
  const char* folder = std::getenv("RENDAX_SIMULATOR");
  if (folder && *folder) return WatchSimulator(folder, std::move(sink));
  return WatchNative(std::move(sink));
}

}  // namespace rendax
