// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/pedal_tracker.h"

#include <algorithm>
#include <filesystem>
#include <functional>

#include "device/u8_path.h"

namespace rendax {

namespace fs = std::filesystem;

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

namespace {

// The same device at the same path: a node the system gave to another device between two
// looks (a pedal pulled and a stick plugged in) is a departure and an arrival.
bool SameDevice(const TrackedPedal& a, const AttachedPedal& b) {
  return a.path == b.path && a.model == b.model && a.identity.usb == b.identity.usb &&
         a.identity.vendor == b.identity.vendor && a.identity.product == b.identity.product;
}

// The first pedal of model 0, then 1, then 2: the search the window has always run.
const TrackedPedal* FirstByModel(const std::vector<TrackedPedal>& pedals) {
  for (uint8_t m = 0; m < kModelCount; ++m) {
    for (const TrackedPedal& p : pedals) {
      if (p.model == m) return &p;
    }
  }
  return nullptr;
}

}  // namespace

PedalTracker::PedalTracker(DevicePlatform& platform) : platform_(platform) {}

bool PedalTracker::Refresh(HotplugNotice notice, TrackerUpdate& update, std::string& error) {
  update = {};
  error.clear();
  std::vector<AttachedPedal> listed;
  const bool ok = ListPedals(platform_, listed, error);
  if (!ok) listed.clear();  // nothing can be worked with until the list reads again

  std::vector<TrackedPedal> now;
  now.reserve(listed.size());
  for (AttachedPedal& a : listed) {
    auto before = std::find_if(pedals_.begin(), pedals_.end(),
                               [&](const TrackedPedal& p) { return SameDevice(p, a); });
    if (before != pedals_.end()) {
      now.push_back(std::move(*before));  // what is known of it stays
      pedals_.erase(before);
    } else {
      TrackedPedal& pedal = now.emplace_back();
      pedal.path = std::move(a.path);
      pedal.model = a.model;
      pedal.identity = std::move(a.identity);
      update.arrived.push_back(pedal);
    }
  }
  update.left = std::move(pedals_);  // what remains was not listed again
  pedals_ = std::move(now);

  const std::string before = chosen_;
  const bool chosenReplaced = std::any_of(update.left.begin(), update.left.end(),
                                          [&](const TrackedPedal& p) { return p.path == chosen_; });
  const bool chosenStays = Find(chosen_) && !chosenReplaced;
  if (Find(userChoice_)) {
    chosen_ = userChoice_;
  } else if (chosenStays) {
    // The pedal in use never changes under the user: a newcomer is only offered.
  } else if (notice == HotplugNotice::VolumeArrival) {
    const TrackedPedal* first = FirstByModel(pedals_);
    chosen_ = first ? first->path : "";
  } else {
    // Another pedal of the same model carries on; one of another model would surprise the
    // guitarist with a different loop format, so it waits for an arrival or a choice.
    chosen_.clear();
    for (const TrackedPedal& p : pedals_) {
      if (lastModel_ && p.model == *lastModel_) {
        chosen_ = p.path;
        break;
      }
    }
  }
  if (const TrackedPedal* c = Chosen()) lastModel_ = c->model;
  update.chosenChanged = chosen_ != before || (!chosen_.empty() && chosenReplaced);
  return ok;
}

bool PedalTracker::Start(std::string& error) {
  pedals_.clear();
  chosen_.clear();
  TrackerUpdate update;
  return Refresh(HotplugNotice::VolumeArrival, update, error);
}

const TrackedPedal* PedalTracker::Chosen() const {
  return Find(chosen_);
}

bool PedalTracker::Choose(const std::string& path) {
  const TrackedPedal* pedal = Find(path);
  if (!pedal) return false;
  userChoice_ = chosen_ = path;
  lastModel_ = pedal->model;
  return true;
}

const TrackedPedal* PedalTracker::Find(const std::string& path) const {
  for (const TrackedPedal& p : pedals_) {
    if (!path.empty() && p.path == path) return &p;
  }
  return nullptr;
}

void PedalTracker::SetFirmware(const std::string& path, FirmwareState state, uint16_t version) {
  for (TrackedPedal& p : pedals_) {
    if (p.path != path) continue;
    p.firmware = state;
    p.firmwareVersion = version;
  }
}

void PedalTracker::SetLoop(const std::string& path, const LoopInfo& loop) {
  for (TrackedPedal& p : pedals_) {
    if (p.path == path) p.loop = loop;
  }
}

namespace {

// `path` written out in full: absolute, without `.` or `..` parts or a trailing separator.
fs::path Lexical(const fs::path& path) {
  std::error_code ec;
  fs::path p = fs::absolute(path, ec);
  if (ec) p = path;
  p = p.lexically_normal();
  if (!p.has_filename() && p.has_relative_path()) p = p.parent_path();
  return p;
}

// The same with symbolic links followed as far as the path exists.
fs::path Canonical(const fs::path& path) {
  std::error_code ec;
  fs::path p = fs::weakly_canonical(path, ec);
  return ec ? Lexical(path) : Lexical(p);
}

}  // namespace

const TrackedPedal* PedalTracker::Resolve(const std::string& spelling) const {
  if (spelling.empty()) return nullptr;
  if (const TrackedPedal* p = Find(spelling)) return p;

  // Each way of comparing is tried alone, from the strictest; the first that names any pedal
  // decides. One that names two decides for none, so no guess picks the wrong pedal.
  using Same = std::function<bool(const TrackedPedal&)>;
  const fs::path lexical = Lexical(U8Path(spelling)), canonical = Canonical(U8Path(spelling));
  const Same comparisons[] = {
      [&](const TrackedPedal& p) { return Lexical(U8Path(p.path)) == lexical; },
      [&](const TrackedPedal& p) { return Canonical(U8Path(p.path)) == canonical; },
      [&](const TrackedPedal& p) { return platform_.Spells(spelling, p.path); },
  };
  for (const Same& same : comparisons) {
    const TrackedPedal* found = nullptr;
    int count = 0;
    for (const TrackedPedal& p : pedals_) {
      if (same(p)) {
        found = &p;
        ++count;
      }
    }
    if (count > 0) return count == 1 ? found : nullptr;
  }
  return nullptr;
}

std::string ListAttached(const std::vector<TrackedPedal>& pedals) {
  if (pedals.empty()) return "no pedal is attached";
  std::string line = "attached: ";
  for (size_t i = 0; i < pedals.size(); ++i) {
    if (i > 0) line += ", ";
    line += pedals[i].path + " (" + ModelInfo(pedals[i].model).name + ")";
  }
  return line;
}

}  // namespace rendax
