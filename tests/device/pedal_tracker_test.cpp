// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/pedal_tracker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <sstream>

#include "fake_platform.h"

namespace rendax {
namespace {
using testing::FakePlatform;
using testing::TempDir;
using namespace std::chrono_literals;

void Attach(FakePlatform& p, const std::string& path, uint8_t model) {
  if (std::find(p.candidates.begin(), p.candidates.end(), path) == p.candidates.end()) {
    p.candidates.push_back(path);
    std::sort(p.candidates.begin(), p.candidates.end());
  }
  p.identities[path] = StorageIdentity{true, ModelInfo(model).vendor, ModelInfo(model).product};
}

void Detach(FakePlatform& p, const std::string& path) {
  std::erase(p.candidates, path);
  p.identities.erase(path);
}

TEST(PedalTracker, ChoosesAsTheGuitaristExpects) {
  // One step a word, "change:chosen", pedals named by a letter: "+a0,b1" plugs in a (model 0)
  // and b (model 1), then an arrival; "-a" pulls a out, then a removal; "~" an arrival that
  // brings no pedal (a USB stick); "!" a removal while the list cannot be read; "=a" the user
  // picks a. After the colon the pedal then chosen, "-" for none.
  const std::pair<const char*, const char*> rows[] = {
      {"model 0, then 1, then 2, candidate order within a model; an arrival never takes over",
       "+c2,d1,b1:b +a0:b"},
      {"the user's choice stays, and is chosen again when it comes back",
       "+a0,b1:a =b:b +c0:b -b:- +b1:b -a:b =z:b"},
      {"a removal keeps the pedal, else one of its model, never another model",
       "+a0,b0,c1,d1:a -c:a -a:b -b:- ~:d"},
      {"an unreadable list leaves no pedal until it reads again", "+a0,b1:a !:- ~:a"},
  };
  for (const auto& [what, script] : rows) {
    SCOPED_TRACE(what);
    FakePlatform platform;
    PedalTracker tracker(platform);
    std::string error, before = "-";
    ASSERT_TRUE(tracker.Start(error)) << error;
    std::istringstream words(script);
    for (std::string step, chosen; std::getline(words >> std::ws, step, ':') && words >> chosen;) {
      SCOPED_TRACE(step);
      platform.listError = step == "!" ? "unreadable" : "";
      if (step[0] == '=') {
        EXPECT_EQ(tracker.Choose(step.substr(1)), step != "=z");
      } else {
        for (size_t at = 1; step[0] == '+' && at < step.size(); at += 3) {
          Attach(platform, step.substr(at, 1), static_cast<uint8_t>(step[at + 1] - '0'));
        }
        if (step[0] == '-') Detach(platform, step.substr(1));
        const bool arrival = step[0] == '+' || step[0] == '~';
        TrackerUpdate update;
        EXPECT_EQ(
            tracker.Refresh(arrival ? HotplugNotice::VolumeArrival : HotplugNotice::DeviceRemoval,
                            update, error),
            step != "!");
        EXPECT_EQ(update.chosenChanged, chosen != before);
      }
      const TrackedPedal* c = tracker.Chosen();
      EXPECT_EQ(c ? c->path : "-", chosen);
      before = chosen;
    }
  }
}

TEST(PedalTracker, FactsAreKeptWhileThePedalStaysAndForgottenWhenItLeaves) {
  FakePlatform platform;
  Attach(platform, "a", 0);
  Attach(platform, "b", 1);
  PedalTracker tracker(platform);
  std::string error;
  TrackerUpdate update;
  ASSERT_TRUE(tracker.Start(error));
  for (const char* path : {"a", "b"}) tracker.SetFirmware(path, FirmwareState::Declined, 7);
  Detach(platform, "b");
  ASSERT_TRUE(tracker.Refresh(HotplugNotice::DeviceRemoval, update, error));
  EXPECT_EQ(tracker.Find("a")->firmware, FirmwareState::Declined);
  // b back, and a's node taken by a pedal of another model meanwhile: both new to the tracker.
  Attach(platform, "b", 1);
  Attach(platform, "a", 2);
  ASSERT_TRUE(tracker.Refresh(HotplugNotice::VolumeArrival, update, error));
  ASSERT_EQ(update.left.size(), 1u);
  for (const TrackedPedal& p : tracker.Pedals()) {
    EXPECT_EQ(p.firmware, FirmwareState::Unchecked) << p.path;
  }
}

TEST(NoticeSettler, NoticesWithinTheSettlingTimeAreTakenTogether) {
  constexpr auto A = HotplugNotice::VolumeArrival, R = HotplugNotice::DeviceRemoval;
  struct Row {
    const char* what;
    std::vector<std::pair<std::chrono::milliseconds, HotplugNotice>> added;
    std::vector<HotplugNotice> taken;
  };
  const Row rows[] = {
      {"a run of equal notices is one", {{1000ms, A}, {1010ms, A}, {1290ms, A}}, {A}},
      {"order kept, each run one",
       {{1000ms, R}, {1001ms, R}, {1100ms, A}, {1200ms, A}, {1250ms, R}},
       {R, A, R}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const NoticeSettler::Clock::time_point zero{};
    NoticeSettler settler;
    EXPECT_EQ(settler.Due(), NoticeSettler::Clock::time_point::max());
    for (const auto& [at, notice] : row.added) settler.Add(notice, zero + at);
    const auto due = zero + row.added.front().first + NoticeSettler::kSettle;
    EXPECT_EQ(settler.Due(), due);
    EXPECT_TRUE(settler.Take(due - 1ms).empty());
    EXPECT_TRUE(settler.Pending());
    EXPECT_EQ(settler.Take(due), row.taken);
    EXPECT_FALSE(settler.Pending());
    EXPECT_EQ(settler.Due(), NoticeSettler::Clock::time_point::max());
  }
}

TEST(PedalTracker, ResolvesEveryWayOfWritingAPedal) {
  namespace fs = std::filesystem;
  TempDir dir;
  for (const char* folder : {"one/p0", "two/p0", "one/sg5", "two/sg5"}) {
    fs::create_directories(dir.path() / folder);
  }
  FakePlatform platform;
  const std::string p0 = dir / "one/p0";
  for (const std::string& path :
       {p0, dir / "two/p0", dir / "one/sg5", dir / "two/sg5", std::string("/dev/sg3")}) {
    Attach(platform, path, 1);
  }
  // The platform's own names, tried last.
  platform.spellings = {{"sg3", "/dev/sg3"}, {"sg5", dir / "one/sg5"}, {"sg5", dir / "two/sg5"}};
  PedalTracker tracker(platform);
  std::string error;
  ASSERT_TRUE(tracker.Start(error)) << error;

  std::vector<std::pair<std::string, std::string>> rows = {
      {p0, p0},
      {p0 + "/", p0},
      {dir / "two/../one/./p0", p0},
      {"sg3", "/dev/sg3"},
      // Nothing attached by that name, or two pedals by it.
      {"p0", ""},
      {"sg5", ""},
      {"sg1", ""},
  };
  // Relative from here; none when the temp folder is on another drive.
  if (const fs::path relative = fs::relative(p0); !relative.empty()) {
    rows.emplace_back(relative.string(), p0);
  }
#ifndef _WIN32  // symbolic links need a privilege there
  fs::create_directory_symlink(dir.path() / "one", dir.path() / "link");
  rows.emplace_back(dir / "link/p0", p0);
#endif
  for (const auto& [spelling, path] : rows) {
    const TrackedPedal* p = tracker.Resolve(spelling);
    EXPECT_EQ(p ? p->path : "", path) << spelling;
  }
}

}  // namespace
}  // namespace rendax
