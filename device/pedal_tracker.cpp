#include "device/pedal_tracker.h"

namespace rendax {

void NoticeSettler::Add(HotplugNotice notice, Clock::time_point now) {
  if (pending_.empty()) due_ = now + kSettle;
  if (pending_.empty() || pending_.back() != notice) pending_.push_back(notice);
}

NoticeSettler::Clock::time_point NoticeSettler::Due() const {
  return pending_.empty() ? Clock::time_point::max() : due_;
}

std::vector<HotplugNotice> NoticeSettler::Take(Clock::time_point now) {
  std::vector<HotplugNotice> notices;
  if (pending_.empty() || now < due_) return notices;
  notices.swap(pending_);
  due_ = Clock::time_point::max();
  return notices;
}

PedalTracker::PedalTracker(DevicePlatform& platform) : platform_(platform) {}

bool PedalTracker::Refresh(HotplugNotice, TrackerUpdate& update, std::string& error) {
  update = {};
  error.clear();
  return true;
}

bool PedalTracker::Start(std::string& error) {
  TrackerUpdate update;
  return Refresh(HotplugNotice::VolumeArrival, update, error);
}

const TrackedPedal* PedalTracker::Chosen() const {
  return Find(chosen_);
}

bool PedalTracker::Choose(const std::string& path) {
  if (!Find(path)) return false;
  userChoice_ = chosen_ = path;
  return true;
}

const TrackedPedal* PedalTracker::Find(const std::string& path) const {
  for (const TrackedPedal& p : pedals_) {
    if (!path.empty() && p.path == path) return &p;
  }
  return nullptr;
}

void PedalTracker::SetFirmware(const std::string&, FirmwareState, uint16_t) {}
void PedalTracker::SetLoop(const std::string&, const LoopInfo&) {}

const TrackedPedal* PedalTracker::Resolve(const std::string& spelling) const {
  return Find(spelling);
}

std::string ListAttached(const std::vector<TrackedPedal>&) {
  return "no pedal is attached";
}

}  // namespace rendax
