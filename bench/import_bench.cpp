// SPDX-License-Identifier: GPL-3.0-or-later
// Speed and peak memory of importing a user's compressed file: a 96,000 Hz 24-bit stereo FLAC
// made by sox in the run goes through the real import job into a simulated two-channel pedal
// (no backup), beside sox converting the same file to 48,000 Hz 24-bit with its very high
// quality (`sox IN.flac -r 48000 -b 24 OUT.wav rate -v`). Each side runs as a child process, so
// its wall time and its own peak resident memory (from wait4) are measured alike; best time of
// each of the runs, the largest peak of them.
//
//   rendax_import_bench [--runs N] [MINUTES...]        (default: 3 runs, 1 and 10 minutes)
//   rendax_import_bench --import FILE PEDAL_DIR        one import alone (for perf record); the
//                                                      pedal is made when the folder is missing
//
// The files and the pedal live in a folder under $TMPDIR (else /tmp), removed at the end.
#include <fcntl.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "audio/sample_pages.h"
#include "device/commands.h"
#include "device/platform/sim/sim_pedal.h"
#include "transfer/job.h"

namespace rendax {
namespace {

namespace fs = std::filesystem;

constexpr uint8_t kStereoModel = 1;

// The command line's texts, on standard error, so a failed child says why.
class Plain : public JobFrontEnd {
 public:
  void ReportProgress(int) override {}
  void EnableTransferButtons(bool) override {}
  void ShowMessage(const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
  bool AskYesNo(const std::string&, const std::string&) override { return true; }
};

// The measured side of "ours": one import job, exactly as the command line runs it with
// --no-backup --yes.
int ImportOnce(const std::string& file, const std::string& pedal) {
  std::string error;
  if (!fs::exists(pedal) && !CreateSimulatedPedal(pedal, kStereoModel, 8, error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  SimulatorPlatform platform(fs::path(pedal).parent_path().string());
  CMassStorageDevice device(platform);
  WavFormat wav;
  ResampleState resample;
  Plain ui;
  JobRequest job;
  job.code = JobImport;
  job.pedalPath = pedal;
  job.model = kStereoModel;
  job.importPath = file;
  job.backup = false;
  return RunJob(job, device, wav, resample, ui) == JobResult::Success ? 0 : 1;
}

struct Measured {
  double seconds = 0;
  double peakMiB = 0;
};

// Runs argv to its end with standard output and error in `log`; false when it failed.
// fork, not posix_spawn: a child made with vfork starts its peak from the bench's own, and a
// forked one only from the bench's current size, which stays a few MiB.
bool RunChild(const std::vector<std::string>& args, const std::string& log, Measured& m) {
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::fflush(nullptr);
  const auto start = std::chrono::steady_clock::now();
  const pid_t pid = fork();
  if (pid < 0) {
    std::perror("fork");
    return false;
  }
  if (pid == 0) {
    const int fd = open(log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
      dup2(fd, 1);
      dup2(fd, 2);
      close(fd);
    }
    execvp(argv[0], argv.data());
    std::perror(argv[0]);
    _exit(127);
  }
  int status = 0;
  struct rusage usage {};
  while (wait4(pid, &status, 0, &usage) < 0) {
    if (errno != EINTR) return false;
  }
  m.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  m.peakMiB = static_cast<double>(usage.ru_maxrss) / 1024.0;  // KiB on Linux
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s failed:\n", argv[0]);
    std::ifstream in(log);
    std::fprintf(stderr, "%s", std::string(std::istreambuf_iterator<char>(in), {}).c_str());
    return false;
  }
  return true;
}

std::string LoadAverage() {
  std::ifstream in("/proc/loadavg");
  std::string one, five;
  in >> one >> five;
  return one + " " + five;
}

struct Row {
  int minutes = 0;
  Measured ours{1e9, 0}, sox{1e9, 0};
  double lowRatio = 1e9, highRatio = 0;  // ours / sox within one run, where both met one load
};

// The pedal holds the whole loop: the file's length at the pedal's rate, to within a frame.
// Only the loop record is read, so the bench stays small (see RunChild).
bool LoopIsWhole(const fs::path& pedal, int minutes) {
  uint8_t record[kLoopInfoBytes] = {};
  std::ifstream in(pedal / "loop.info", std::ios::binary);
  if (!in.read(reinterpret_cast<char*>(record), sizeof record)) {
    std::fprintf(stderr, "%s: no loop record\n", pedal.c_str());
    return false;
  }
  const LoopInfo info = DecodeLoopInfo(record);
  const uint64_t frames = FramesInStream(info.length, 2);
  const uint64_t want = uint64_t{kPedalFrameRate} * 60 * static_cast<uint64_t>(minutes);
  if (info.status != 0 || frames + 2 < want || frames > want + 2) {
    std::fprintf(stderr, "the pedal holds %llu frames, not %llu\n",
                 static_cast<unsigned long long>(frames), static_cast<unsigned long long>(want));
    return false;
  }
  return true;
}

void Keep(Measured& best, const Measured& run) {
  best.seconds = std::min(best.seconds, run.seconds);
  best.peakMiB = std::max(best.peakMiB, run.peakMiB);
}

int Bench(int runs, const std::vector<int>& lengths) {
  const char* tmp = std::getenv("TMPDIR");
  std::string templ = (fs::path(tmp && *tmp ? tmp : "/tmp") / "rendax-import-bench.XXXXXX");
  if (!mkdtemp(templ.data())) {
    std::perror("mkdtemp");
    return 1;
  }
  const fs::path work = templ;
  struct Cleanup {
    fs::path path;
    ~Cleanup() {
      std::error_code ec;
      fs::remove_all(path, ec);
    }
  } cleanup{work};
  const std::string self = fs::read_symlink("/proc/self/exe").string();
  const std::string log = (work / "child.log").string();

  std::printf("load average before: %s (1 and 5 min; 2 cores)\n", LoadAverage().c_str());
  std::printf("%-8s %-4s %-6s %9s %9s\n", "length", "run", "side", "wall_s", "peak_MiB");
  std::vector<Row> rows;
  for (const int minutes : lengths) {
    const std::string flac = (work / ("in-" + std::to_string(minutes) + ".flac")).string();
    Measured made;
    if (!RunChild({"sox", "-n", "-r", "96000", "-b", "24", "-c", "2", flac, "synth",
                   std::to_string(minutes * 60), "sine", "440", "sine", "660"},
                  log, made)) {
      return 1;
    }
    Row row;
    row.minutes = minutes;
    const fs::path pedal = work / "pedals" / "twin";
    const std::string out = (work / "sox.wav").string();
    for (int r = 1; r <= runs; ++r) {
      std::error_code ec;
      fs::remove_all(pedal, ec);
      std::string error;
      if (!CreateSimulatedPedal(pedal.string(), kStereoModel, 8, error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
      }
      // Alternate who goes first, so neither always meets a warmer or a busier machine.
      Measured ours, sox;
      auto runOurs = [&] { return RunChild({self, "--import", flac, pedal.string()}, log, ours); };
      auto runSox = [&] {
        return RunChild({"sox", flac, "-r", "48000", "-b", "24", out, "rate", "-v"}, log, sox);
      };
      const bool ok = r % 2 ? runOurs() && runSox() : runSox() && runOurs();
      if (!ok || !LoopIsWhole(pedal, minutes)) return 1;
      fs::remove(out, ec);
      Keep(row.ours, ours);
      Keep(row.sox, sox);
      row.lowRatio = std::min(row.lowRatio, ours.seconds / sox.seconds);
      row.highRatio = std::max(row.highRatio, ours.seconds / sox.seconds);
      std::printf("%-8s %-4d %-6s %9.2f %9.1f\n", (std::to_string(minutes) + "min").c_str(), r,
                  "import", ours.seconds, ours.peakMiB);
      std::printf("%-8s %-4d %-6s %9.2f %9.1f\n", (std::to_string(minutes) + "min").c_str(), r,
                  "sox", sox.seconds, sox.peakMiB);
      std::fflush(stdout);
    }
    fs::remove(flac);
    rows.push_back(row);
  }
  std::printf("load average after: %s\n\n", LoadAverage().c_str());

  std::printf(
      "Best time and largest peak of %d runs; ours / sox of the best times, then its\n"
      "range within single runs.\n",
      runs);
  std::printf("| Loop length | Import of the FLAC | sox `rate -v` | ours / sox |\n");
  std::printf("|---|---|---|---|\n");
  for (const Row& r : rows) {
    std::printf("| %d minute%s | %.2f s, %.1f MiB peak | %.2f s, %.1f MiB | %.2f (%.2f-%.2f) |\n",
                r.minutes, r.minutes == 1 ? "" : "s", r.ours.seconds, r.ours.peakMiB, r.sox.seconds,
                r.sox.peakMiB, r.ours.seconds / r.sox.seconds, r.lowRatio, r.highRatio);
  }
  return 0;
}

}  // namespace
}  // namespace rendax

int main(int argc, char** argv) {
  if (argc == 4 && std::strcmp(argv[1], "--import") == 0) {
    return rendax::ImportOnce(argv[2], argv[3]);
  }
  int runs = 3;
  std::vector<int> lengths;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--runs") == 0 && i + 1 < argc) {
      runs = std::atoi(argv[++i]);
    } else if (std::atoi(argv[i]) > 0) {
      lengths.push_back(std::atoi(argv[i]));
    } else {
      std::fprintf(stderr,
                   "usage: rendax_import_bench [--runs N] [MINUTES...]\n"
                   "       rendax_import_bench --import FILE PEDAL_DIR\n");
      return 2;
    }
  }
  if (lengths.empty()) lengths = {1, 10};
  return rendax::Bench(std::max(runs, 1), lengths);
}
