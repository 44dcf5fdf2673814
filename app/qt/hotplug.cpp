#include "app/qt/hotplug.h"

#include <cstdlib>

namespace rendax {

namespace {
// Long enough to take the disk and partition events of one plug-in together.
constexpr int kSettleMs = 300;
}  // namespace

HotplugSource::HotplugSource(NoticeSink sink) : sink_(std::move(sink)) {
  settle_.setSingleShot(true);
  settle_.setInterval(kSettleMs);
  connect(&settle_, &QTimer::timeout, this, [this] { Flush(); });
}

void HotplugSource::Raise(DeviceNotice notice) {
  if (pending_.empty() || pending_.back() != notice) pending_.push_back(notice);
  if (!settle_.isActive()) settle_.start();
}

void HotplugSource::Flush() {
  std::vector<DeviceNotice> notices;
  notices.swap(pending_);
  for (DeviceNotice n : notices) sink_(n);
}

std::unique_ptr<HotplugSource> WatchDevices(NoticeSink sink) {
  const char* folder = std::getenv("RENDAX_SIMULATOR");
  if (folder && *folder) return WatchSimulator(folder, std::move(sink));
  return WatchNative(std::move(sink));
}

}  // namespace rendax
