// SPDX-License-Identifier: GPL-3.0-or-later
// rendax-cli watch on the simulator: pedal folders coming and going while it runs.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>

#include <gtest/gtest.h>

#include "cli/watch.h"
#include "device/platform/sim/sim_pedal.h"
#include "tests/support/process.h"
#include "tests/transfer/test_support.h"

namespace rendax::testing {
namespace {

using namespace std::chrono_literals;

std::string ReadText(const std::string& path) {
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream s(text);
  for (std::string line; std::getline(s, line);) lines.push_back(line);
  return lines;
}

// `rendax-cli watch ...` running in the background on the folder `sim`, its output in files.
class Watch {
 public:
  Watch(const TempDir& dir, const std::vector<std::string>& args)
      : out_(dir / "watch.out"),
        err_(dir / "watch.err"),
        child_(Command(args), {"RENDAX_SIMULATOR=" + dir / "sim"}, out_, err_) {}

  // Until standard output has `n` lines, or standard error names the feed when `n` is 0.
  ::testing::AssertionResult Reached(size_t n) const {
    return WaitUntil(
        [&] {
          return n == 0 ? Err().find("Watching for pedals") != std::string::npos
                        : Lines().size() >= n;
        },
        kWaitBound, n == 0 ? "the watch starting" : "line " + std::to_string(n) + " of the watch");
  }
  std::vector<std::string> Lines() const { return SplitLines(ReadText(out_)); }
  std::string Err() const { return ReadText(err_); }
  int Status() { return child_.Wait("rendax-cli watch"); }

 private:
  static std::vector<std::string> Command(const std::vector<std::string>& args) {
    std::vector<std::string> argv{RENDAX_CLI, "watch"};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
  }
  std::string out_, err_;
  Child child_;
};

// "arrival  <the pedal's folder>  <model>", appended: g++ 12 at -O3 takes a literal put before
// a string for an overlapping copy.
std::string Line(const char* kind, const TempDir& dir, const std::string& pedal,
                 const char* model) {
  std::string line = kind;
  line += "  ";
  line += dir / ("sim/" + pedal);
  line += "  ";
  line += model;
  return line;
}

void Plug(const TempDir& dir, const std::string& name, uint8_t model) {
  std::string error;
  ASSERT_TRUE(CreateSimulatedPedal(dir / ("sim/" + name), model, 8, error)) << error;
}

TEST(CliWatch, ReportsThePedalThatCameAndWent) {
  TempDir dir("watch");
  Watch watch(dir, {"--count", "2", "--timeout", "60"});
  ASSERT_TRUE(watch.Reached(0)) << watch.Err();
  EXPECT_NE(watch.Err().find("simulator folder " + dir / "sim"), std::string::npos);

  // The folder did not exist at start.
  Plug(dir, "b", 1);
  ASSERT_TRUE(watch.Reached(1)) << watch.Err();
  std::ofstream(dir / "sim/b/unplugged").put('\n');
  EXPECT_EQ(watch.Status(), 0) << watch.Err();
  EXPECT_EQ(watch.Lines(), (std::vector<std::string>{
                               Line("arrival", dir, "b", "Rendax Twin (model 1)"),
                               Line("removal", dir, "b", "Rendax Twin (model 1)"),
                           }));
}

// A clock that moves only when the watch waits: each wait jumps to the time asked for, after
// doing what the script says happens by then, so each scan sees what the test decided.
class ScriptedClock : public WatchClock {
 public:
  struct Step {
    std::chrono::milliseconds at;
    std::function<void()> act;
  };
  explicit ScriptedClock(std::vector<Step> steps) : steps_(std::move(steps)) {}
  TimePoint Now() override { return now_; }
  void WaitFor(int fd, TimePoint until) override {
    EXPECT_EQ(fd, -1) << "the simulator has no descriptor to wait on";
    now_ = until;
    while (next_ < steps_.size() && TimePoint{} + steps_[next_].at <= now_) steps_[next_++].act();
  }

 private:
  std::vector<Step> steps_;
  size_t next_ = 0;
  TimePoint now_{};
};

TEST(CliWatch, EachLineNamesOnePedal) {
  TempDir dir("watch");
  Plug(dir, "old", 2);
  const auto pull = [&](const std::string& name) {
    std::ofstream(dir / ("sim/" + name + "/unplugged")).put('\n');
  };
  // Two pedals within one settling time, the one there from the start pulled out, then one
  // pulled and another plugged between two scans: both show on the removal, and the arrival
  // that follows finds nothing new.
  ScriptedClock clock({{100ms, [&] { Plug(dir, "q", 0); }},
                       {200ms, [&] { Plug(dir, "p", 1); }},
                       {3000ms, [&] { pull("old"); }},
                       {5000ms, [&] {
                          pull("p");
                          Plug(dir, "r", 2);
                        }}});
  SimulatorPlatform platform(dir / "sim");
  char *out = nullptr, *err = nullptr;
  size_t outSize = 0, errSize = 0;
  std::FILE* outFile = open_memstream(&out, &outSize);
  std::FILE* errFile = open_memstream(&err, &errSize);
  const int status = RunWatch(platform, {6, 60}, outFile, errFile, clock);
  std::fclose(outFile);
  std::fclose(errFile);
  EXPECT_EQ(status, 0) << err;
  EXPECT_EQ(SplitLines(std::string(out, outSize)),
            (std::vector<std::string>{
                Line("arrival", dir, "p", "Rendax Twin (model 1)"),
                Line("arrival", dir, "q", "Rendax (model 0)"),
                Line("removal", dir, "old", "Rendax Mini (model 2)"),
                Line("removal", dir, "p", "Rendax Twin (model 1)"),
                Line("arrival", dir, "r", "Rendax Mini (model 2)"),
                "arrival  no pedal",
            }));
  std::free(out);
  std::free(err);
}

TEST(CliWatch, TimeoutEndsWithFailure) {
  TempDir dir("watch");
  Watch watch(dir, {"--count", "1", "--timeout", "1"});
  EXPECT_EQ(watch.Status(), 1);
  EXPECT_TRUE(watch.Lines().empty());
  EXPECT_NE(watch.Err().find("No more notices within 1 s"), std::string::npos) << watch.Err();
}

}  // namespace
}  // namespace rendax::testing
