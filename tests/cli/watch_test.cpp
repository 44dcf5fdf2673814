// rendax-cli watch on the simulator: pedal folders coming and going while it runs.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

#include <gtest/gtest.h>

#include "device/platform/sim/sim_pedal.h"
#include "tests/transfer/test_support.h"

namespace rendax::testing {
namespace {

std::string ReadText(const std::string& path) {
  std::ifstream f(path);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

// `rendax-cli watch ...` running in the background on the folder `sim`, its output in files.
class Watch {
 public:
  Watch(const TempDir& dir, const std::vector<std::string>& args)
      : out_(dir / "watch.out"), err_(dir / "watch.err"), sim_(dir / "sim") {
    pid_ = fork();
    if (pid_ == 0) {
      setenv("RENDAX_SIMULATOR", sim_.c_str(), 1);
      const int out = open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      const int err = open(err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
      dup2(out, 1);
      dup2(err, 2);
      std::vector<char*> argv{const_cast<char*>(RENDAX_CLI), const_cast<char*>("watch")};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(RENDAX_CLI, argv.data());
      _exit(127);
    }
  }
  ~Watch() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }

  // Waits (within a generous bound, not a timing check) until standard output has `n` lines,
  // or standard error names the feed when `n` is 0.
  bool Reached(size_t n) const {
    for (int i = 0; i < 1500; ++i) {
      if (n == 0 ? ReadText(err_).find("Watching for pedals") != std::string::npos
                 : Lines().size() >= n) {
        return true;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::istringstream s(ReadText(out_));
    for (std::string line; std::getline(s, line);) lines.push_back(line);
    return lines;
  }
  std::string Err() const { return ReadText(err_); }
  int Status() {
    int raw = 0;
    waitpid(pid_, &raw, 0);
    pid_ = -1;
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  }

 private:
  std::string out_, err_, sim_;
  pid_t pid_ = -1;
};

void Plug(const TempDir& dir, const std::string& name, uint8_t model) {
  std::string error;
  ASSERT_TRUE(CreateSimulatedPedal(dir / ("sim/" + name), model, 8, error)) << error;
}

TEST(CliWatch, ReportsEachNoticeWithTheWindowsSearch) {
  TempDir dir("watch");
  Watch watch(dir, {"--count", "4", "--timeout", "60"});
  ASSERT_TRUE(watch.Reached(0)) << watch.Err();
  EXPECT_NE(watch.Err().find("simulator folder " + dir / "sim"), std::string::npos);

  // The folder did not exist at start: a twin arriving is found as model 1.
  Plug(dir, "b", 1);
  ASSERT_TRUE(watch.Reached(1)) << watch.Err();
  // A model 0 pedal arriving wins the search and becomes the current model.
  Plug(dir, "a", 0);
  ASSERT_TRUE(watch.Reached(2)) << watch.Err();
  // The twin's cable pulled: the current pedal is still there.
  std::ofstream(dir / "sim/b/unplugged").put('\n');
  ASSERT_TRUE(watch.Reached(3)) << watch.Err();
  // The current pedal gone: nothing left of its model, though the folder root remains.
  std::filesystem::remove_all(dir / "sim/a");
  EXPECT_EQ(watch.Status(), 0) << watch.Err();
  EXPECT_EQ(watch.Lines(), (std::vector<std::string>{
                               "arrival  " + dir / "sim/b" + "  Rendax Twin (model 1)",
                               "arrival  " + dir / "sim/a" + "  Rendax (model 0)",
                               "removal  " + dir / "sim/a" + "  Rendax (model 0)",
                               "removal  no pedal",
                           }));
}

TEST(CliWatch, PedalsPluggedTogetherAreOneArrival) {
  TempDir dir("watch");
  Plug(dir, "old", 2);  // attached before the start: no notice, but the current model
  Watch watch(dir, {"--count", "2", "--timeout", "60"});
  ASSERT_TRUE(watch.Reached(0)) << watch.Err();
  // Seen by different scans of the folder, yet within one settling time.
  Plug(dir, "p", 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(120));
  Plug(dir, "q", 1);
  ASSERT_TRUE(watch.Reached(1)) << watch.Err();
  std::filesystem::remove_all(dir / "sim/old");
  EXPECT_EQ(watch.Status(), 0) << watch.Err();
  // After the arrival the current model is 1, so the Mini leaving changes nothing.
  EXPECT_EQ(watch.Lines(), (std::vector<std::string>{
                               "arrival  " + dir / "sim/p" + "  Rendax Twin (model 1)",
                               "removal  " + dir / "sim/p" + "  Rendax Twin (model 1)",
                           }));
}

TEST(CliWatch, TimeoutEndsWithFailure) {
  TempDir dir("watch");
  Watch watch(dir, {"--count", "1", "--timeout", "1"});
  EXPECT_EQ(watch.Status(), 1);
  EXPECT_TRUE(watch.Lines().empty());
  EXPECT_NE(watch.Err().find("No more notices within 1 s"), std::string::npos) << watch.Err();
}

TEST(CliWatch, OptionsAreCheckedBeforeWatching) {
  TempDir dir("watch");
  struct Case {
    std::string args;
    int status;
  } cases[] = {
      {"watch --count 0", 2}, {"watch now", 2}, {"list --count 1", 2}, {"export --timeout 3", 2}};
  for (const Case& c : cases) {
    const std::string cmd = "RENDAX_SIMULATOR='" + dir / "sim" + "' '" + RENDAX_CLI + "' " +
                            c.args + " </dev/null >/dev/null 2>&1";
    const int raw = std::system(cmd.c_str());
    EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, c.status) << c.args;
  }
  const std::string help = dir / "help";
  ASSERT_EQ(std::system(("'" + std::string(RENDAX_CLI) + "' --help >'" + help + "'").c_str()), 0);
  EXPECT_NE(ReadText(help).find("watch [--count N] [--timeout SECONDS]"), std::string::npos);
}

}  // namespace
}  // namespace rendax::testing
