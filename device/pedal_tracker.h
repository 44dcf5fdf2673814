// SPDX-License-Identifier: GPL-3.0-or-later
// The attached pedals as every front end sees them: which are attached, which one is used, what
// is known of each (firmware, loop), and the settling of the operating system's notices. The
// window (Qt and Win32) and `rendax-cli watch` read this one place, so they cannot disagree.
// Toolkit-free; time comes from the caller, so tests drive it with a fake clock.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "device/commands.h"
#include "device/discovery.h"
#include "device/hotplug_notice.h"
#include "device/platform.h"

namespace rendax {

// One plug-in shows up as several notices (the disk, then each partition) and a pull as several
// more. Notices that come within kSettle of the first pending one are taken together, and a run
// of equal notices is one, so a pedal is looked for (and its firmware questioned) once.
class NoticeSettler {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kSettle{300};

  // A notice that came at `now`.
  void Add(HotplugNotice notice, Clock::time_point now);
  // When the pending notices are due: kSettle after the first of them; time_point::max() when
  // nothing is pending.
  Clock::time_point Due() const;
  // The pending notices, oldest first, once `now` has reached Due(); empty before that.
  std::vector<HotplugNotice> Take(Clock::time_point now);
  bool Pending() const { return !pending_.empty(); }

 private:
  std::vector<HotplugNotice> pending_;
  Clock::time_point due_ = Clock::time_point::max();
};

// What the program knows of a pedal's firmware.
enum class FirmwareState {
  Unchecked,  // not looked at yet
  Usable,     // matches this program (or was just updated to match)
  Declined,   // read but differs, and was not updated (the user answered No, or no update can
              // be made): asked again only on request
  Unusable    // could not be read or updated
};

struct TrackedPedal {
  std::string path;
  uint8_t model = 0;
  StorageIdentity identity;
  FirmwareState firmware = FirmwareState::Unchecked;
  uint16_t firmwareVersion = 0;  // valid when Usable or Declined
  std::optional<LoopInfo> loop;  // the loop record, when it has been read
};

// What one Refresh changed.
struct TrackerUpdate {
  std::vector<TrackedPedal> arrived;  // attached now, not before (in candidate order)
  std::vector<TrackedPedal> left;     // attached before, not now
  bool chosenChanged = false;         // Chosen() names another pedal (or none) than before
};

class PedalTracker {
 public:
  explicit PedalTracker(DevicePlatform& platform);

  // Lists the attached pedals again (ListPedals) after `notice` and applies the choice:
  //  - the pedal the user chose stays chosen while it is attached, and is chosen again when it
  //    comes back;
  //  - otherwise the chosen pedal (the program's own first pick too) stays chosen while it is
  //    attached: an arrival never takes over from it;
  //  - otherwise an arrival chooses the first pedal of model 0, then 1, then 2 (candidate order
  //    within a model), as the first search does;
  //  - otherwise a removal takes another pedal of the same model, else leaves none chosen (a
  //    pedal of another model never takes over on a removal; the model is remembered in
  //    LastModel()).
  // What is known of a pedal (firmware, loop) is kept while it stays attached and forgotten when
  // it leaves; a path that another device took over meanwhile counts as one leaving and one
  // arriving. Returns false with `error` set when the list cannot be read (no pedal then).
  bool Refresh(HotplugNotice notice, TrackerUpdate& update, std::string& error);
  // The first search, as at start-up: an arrival with nothing known before.
  bool Start(std::string& error);

  // Every attached pedal, in the platform's candidate order.
  const std::vector<TrackedPedal>& Pedals() const { return pedals_; }
  // The pedal to work with; nullptr when none is chosen.
  const TrackedPedal* Chosen() const;
  // The model of the chosen pedal, or of the last one chosen; nullopt before any was.
  std::optional<uint8_t> LastModel() const { return lastModel_; }
  // The user's choice; false (nothing changed) when no attached pedal has that path.
  bool Choose(const std::string& path);
  const TrackedPedal* Find(const std::string& path) const;

  // What a front end learned about an attached pedal; ignored for a path not attached.
  void SetFirmware(const std::string& path, FirmwareState state, uint16_t version);
  void SetLoop(const std::string& path, const LoopInfo& loop);

  // The attached pedal that `spelling` names: its path as listed, or any other way of writing
  // it: relative, with a trailing slash or `.` parts, through a symbolic link, or the platform's
  // own ways (DevicePlatform::Spells: a SCSI generic node's name, a drive letter). nullptr when
  // none, or when the spelling fits more than one pedal.
  const TrackedPedal* Resolve(const std::string& spelling) const;

 private:
  DevicePlatform& platform_;
  std::vector<TrackedPedal> pedals_;
  std::string chosen_;      // path of the chosen pedal, "" for none
  std::string userChoice_;  // path the user chose, "" when nobody chose
  std::optional<uint8_t> lastModel_;
};

// One line naming every attached pedal, for an error about a wrong --pedal:
// "attached: /dev/sg3 (Rendax Twin), /dev/sg4 (Rendax)" or "no pedal is attached".
std::string ListAttached(const std::vector<TrackedPedal>& pedals);

}  // namespace rendax
