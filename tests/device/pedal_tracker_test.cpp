#include "device/pedal_tracker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
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

std::vector<std::string> Paths(const std::vector<TrackedPedal>& pedals) {
  std::vector<std::string> paths;
  for (const TrackedPedal& p : pedals) paths.push_back(p.path);
  return paths;
}

std::vector<std::string> Words(const std::string& text) {
  std::istringstream s(text);
  std::vector<std::string> words;
  for (std::string w; s >> w;) words.push_back(w);
  return words;
}

TEST(PedalTracker, ChoosesAsTheGuitaristExpects) {
  // One step per word, pedals named by one letter: "+a0,b1" plugs in a (model 0) and b (model 1)
  // and refreshes on an arrival; "-a" pulls a out and refreshes on a removal; "~" is an arrival
  // that brings no pedal (a USB stick); "!" a removal while the list cannot be read; "=a" the
  // user picks a. `chosen` is the chosen pedal after each step, "-" for none.
  struct Row {
    const char* what;
    const char* script;
    const char* chosen;
  };
  const Row rows[] = {
      {"model 0, then 1, then 2; candidate order within a model", "+c2 +d1,b1 +a0", "c b a"},
      {"the user's choice stays, and is chosen again when it comes back",
       "+a0,b1 =b +c0 -b +b1 -a =z", "a b b - b b b"},
      {"a removal keeps the pedal, else one of its model, never another model",
       "+a0,b0,c1,d1 -c -a -b ~", "a a b - d"},
      {"an unreadable list leaves no pedal until it reads again", "+a0,b1 ! ~", "a - a"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    FakePlatform platform;
    PedalTracker tracker(platform);
    std::string error;
    ASSERT_TRUE(tracker.Start(error)) << error;
    std::map<std::string, uint8_t> models;  // of every pedal ever plugged in
    std::optional<uint8_t> lastModel;
    std::string before = "-";
    const std::vector<std::string> steps = Words(row.script), chosen = Words(row.chosen);
    ASSERT_EQ(steps.size(), chosen.size());
    std::vector<std::string> attached;  // as the tracker should see it
    for (size_t i = 0; i < steps.size(); ++i) {
      const std::string& step = steps[i];
      SCOPED_TRACE(step);
      if (step[0] == '=') {
        const std::string path = step.substr(1);
        EXPECT_EQ(tracker.Choose(path), tracker.Find(path) != nullptr);
      } else {
        HotplugNotice notice = HotplugNotice::VolumeArrival;
        if (step[0] == '+') {
          for (size_t at = 1; at + 1 < step.size(); at += 3) {
            const std::string name = step.substr(at, 1);
            Attach(platform, name, models[name] = static_cast<uint8_t>(step[at + 1] - '0'));
          }
        } else if (step[0] == '-') {
          Detach(platform, step.substr(1));
          notice = HotplugNotice::DeviceRemoval;
        } else if (step[0] == '!') {
          platform.listError = "unreadable";
          notice = HotplugNotice::DeviceRemoval;
        } else {
          platform.listError.clear();
        }
        const bool listed = platform.listError.empty();
        const std::vector<std::string> now =
            listed ? platform.candidates : std::vector<std::string>{};
        std::vector<std::string> came, went;
        std::set_difference(now.begin(), now.end(), attached.begin(), attached.end(),
                            std::back_inserter(came));
        std::set_difference(attached.begin(), attached.end(), now.begin(), now.end(),
                            std::back_inserter(went));
        attached = now;
        TrackerUpdate update;
        EXPECT_EQ(tracker.Refresh(notice, update, error), listed) << error;
        EXPECT_EQ(Paths(update.arrived), came);
        EXPECT_EQ(Paths(update.left), went);
        EXPECT_EQ(update.chosenChanged, chosen[i] != before);
      }
      const TrackedPedal* c = tracker.Chosen();
      EXPECT_EQ(c ? c->path : "-", chosen[i]);
      if (c) lastModel = models[c->path];
      EXPECT_EQ(tracker.LastModel(), lastModel);
      before = chosen[i];
    }
  }
}

TEST(PedalTracker, FactsLastWhileThePedalStays) {
  FakePlatform platform;
  Attach(platform, "a", 0);
  Attach(platform, "b", 1);
  PedalTracker tracker(platform);
  std::string error;
  ASSERT_TRUE(tracker.Start(error));
  for (const char* path : {"a", "b"}) {
    tracker.SetFirmware(path, FirmwareState::Declined, 7);
    tracker.SetLoop(path, LoopInfo{});
  }
  tracker.SetFirmware("z", FirmwareState::Usable, 8);  // not attached: nothing to keep
  // b pulled out and plugged in again; a's node taken by a pedal of another model meanwhile.
  Detach(platform, "b");
  TrackerUpdate update;
  ASSERT_TRUE(tracker.Refresh(HotplugNotice::DeviceRemoval, update, error));
  EXPECT_EQ(tracker.Find("a")->firmware, FirmwareState::Declined);
  EXPECT_TRUE(tracker.Find("a")->loop);
  Attach(platform, "b", 1);
  Attach(platform, "a", 2);
  ASSERT_TRUE(tracker.Refresh(HotplugNotice::VolumeArrival, update, error));
  EXPECT_EQ(Paths(update.left), std::vector<std::string>{"a"});
  EXPECT_EQ(Paths(update.arrived), (std::vector<std::string>{"a", "b"}));
  for (const TrackedPedal& p : tracker.Pedals()) {
    EXPECT_EQ(p.firmware, FirmwareState::Unchecked) << p.path;
    EXPECT_FALSE(p.loop) << p.path;
  }
  EXPECT_EQ(tracker.Find("z"), nullptr);
}

TEST(NoticeSettler, NoticesWithinTheSettlingTimeAreTakenTogether) {
  constexpr auto A = HotplugNotice::VolumeArrival, R = HotplugNotice::DeviceRemoval;
  struct Row {
    const char* what;
    std::vector<std::pair<std::chrono::milliseconds, HotplugNotice>> added;
    std::vector<HotplugNotice> taken;
  };
  const Row rows[] = {
      {"one notice", {{1000ms, A}}, {A}},
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
       {p0, dir / "two/p0", dir / "one/sg5", dir / "two/sg5", std::string("/dev/sg3"),
        std::string("/dev/sg12"), std::string("\\\\.\\E:")}) {
    Attach(platform, path, 1);
  }
  PedalTracker tracker(platform);
  std::string error;
  ASSERT_TRUE(tracker.Start(error)) << error;

  std::vector<std::pair<std::string, std::string>> rows = {
      {p0, p0},
      {p0 + "/", p0},
      {dir / "two/../one/./p0", p0},
      {"/dev/sg3/", "/dev/sg3"},
      {"sg3", "/dev/sg3"},
      {"/sys/class/scsi_generic/sg3/", "/dev/sg3"},
      {"e:", "\\\\.\\E:"},
      {"E:\\", "\\\\.\\E:"},
      // Nothing attached by that name, or two pedals by it.
      {"p0", ""},
      {"sg5", ""},
      {"sg1", ""},
      {dir / "three/p0", ""},
      {"", ""},
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
