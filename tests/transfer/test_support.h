// SPDX-License-Identifier: GPL-3.0-or-later
// Pedals and front ends for the transfer tests: simulated pedals whose commands are recorded,
// and a front end that records what a job shows.
#pragma once

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device/commands.h"
#include "device/device.h"
#include "device/platform/sim/sim_pedal.h"
#include "transfer/front_end.h"
#include "transfer/job.h"

namespace rendax::testing {

struct SentCommand {
  PedalCommand command;
  uint32_t length;
  std::vector<uint8_t> data;  // what was sent (LoopInfo writes only)
};

// The simulator, with every command that reaches a pedal written down.
class RecordingPlatform : public DevicePlatform {
 public:
  explicit RecordingPlatform(const std::string& root) : sim_(root) {}
  bool ListCandidates(std::vector<std::string>& p, std::string& e) override {
    return sim_.ListCandidates(p, e);
  }
  std::optional<StorageIdentity> Identify(const std::string& path) override {
    return sim_.Identify(path);
  }
  std::unique_ptr<DeviceChannel> Open(const std::string& path, uint32_t access, uint32_t share,
                                      int& osError) override {
    auto inner = sim_.Open(path, access, share, osError);
    if (!inner) return nullptr;
    return std::make_unique<Channel>(std::move(inner), *this);
  }

  std::vector<SentCommand> Sent() {
    std::lock_guard<std::mutex> lock(mutex_);
    return sent_;
  }
  // Changes a byte of every LoopData read at this stream offset (a pedal that stores badly).
  void CorruptReadsAt(int64_t offset) { corruptAt_ = offset; }

 private:
  class Channel : public DeviceChannel {
   public:
    Channel(std::unique_ptr<DeviceChannel> inner, RecordingPlatform& owner)
        : inner_(std::move(inner)), owner_(owner) {}
    PassThroughResult Execute(const PassThroughRequest& r) override {
      const PedalCommand c = ClassifyCdb(r.cdb.data());
      {
        std::lock_guard<std::mutex> lock(owner_.mutex_);
        SentCommand s{c, r.dataLength, {}};
        if (c == PedalCommand::LoopInfoWrite) {
          const auto* d = static_cast<const uint8_t*>(r.data);
          s.data.assign(d, d + r.dataLength);
        }
        owner_.sent_.push_back(std::move(s));
      }
      if (c == PedalCommand::LoopInfoRead) position_ = 0;
      PassThroughResult result = inner_->Execute(r);
      if (c == PedalCommand::LoopDataRead) {
        const int64_t at = owner_.corruptAt_ - position_;
        if (at >= 0 && at < r.dataLength) static_cast<uint8_t*>(r.data)[at] ^= 0x40;
        position_ += r.dataLength;
      }
      return result;
    }
    bool IsSimulated() const override { return true; }

   private:
    std::unique_ptr<DeviceChannel> inner_;
    RecordingPlatform& owner_;
    int64_t position_ = 0;
  };

  SimulatorPlatform sim_;
  std::mutex mutex_;
  std::vector<SentCommand> sent_;
  int64_t corruptAt_ = -1;
};

// What a job showed, in order.
class RecordingFrontEnd : public JobFrontEnd {
 public:
  void ReportProgress(int percent) override {
    std::lock_guard<std::mutex> lock(mutex);
    progress.push_back(percent);
    if (onProgress) onProgress(percent);
  }
  void EnableTransferButtons(bool enable) override {
    std::lock_guard<std::mutex> lock(mutex);
    events.push_back(enable ? "enable" : "disable");
  }
  void ShowMessage(const std::string& text) override {
    std::lock_guard<std::mutex> lock(mutex);
    events.push_back(text);
    messages.push_back(text);
  }
  void ShowMessageWithReason(const std::string& text, const std::string& reason) override {
    std::lock_guard<std::mutex> lock(mutex);
    events.push_back(text);
    messages.push_back(text);
    reasons.push_back(reason);
  }
  bool AskYesNo(const std::string&, const std::string&) override { return true; }
  void ReportStage(const Progress& report) override {
    std::lock_guard<std::mutex> lock(mutex);
    reports.push_back(report);
    if (onStage) onStage(report.stage, report.done, report.total);
  }
  void ReportLoop(const LoopOutline& outline) override {
    std::lock_guard<std::mutex> lock(mutex);
    loops.push_back(outline);
  }

  std::mutex mutex;
  std::vector<int> progress;
  std::vector<Progress> reports;
  std::vector<LoopOutline> loops;
  std::function<void(Stage, uint64_t, uint64_t)> onStage;  // on the worker, inside ReportStage
  std::vector<std::string> events;                         // buttons and messages in order
  std::vector<std::string> messages;
  std::vector<std::string> reasons;
  std::function<void(int)> onProgress;  // called on the worker, inside ReportProgress
};

// A fresh folder under the test temp dir, removed at the end.
class TempDir {
 public:
  explicit TempDir(const std::string& name) {
    static std::atomic<int> counter{0};
    path_ = std::filesystem::temp_directory_path() /
            ("rendax-" + name + "-" + std::to_string(::getpid()) + "-" + std::to_string(counter++));
    std::filesystem::remove_all(path_);
    std::filesystem::create_directories(path_);
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  std::string operator/(const std::string& leaf) const { return (path_ / leaf).string(); }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

inline std::vector<uint8_t> ReadFileBytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(f), {});
}
inline void WriteFileBytes(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream f(path, std::ios::binary);
  f.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// Files in `dir` besides the ones named: leftovers of a failed job.
inline std::vector<std::string> FilesIn(const std::filesystem::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(dir)) {
    if (e.is_regular_file()) names.push_back(e.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

// One simulated pedal whose commands are recorded, an output folder and a front end.
class Rig {
 public:
  Rig()
      : dir_("transfer"),
        pedal_(dir_ / "pedals/p0"),
        platform_(dir_ / "pedals"),
        device_(platform_) {
    std::filesystem::create_directories(dir_.path() / "out");
  }

  void MakePedal(uint8_t model) {
    std::string error;
    ASSERT_TRUE(CreateSimulatedPedal(pedal_, model, 8, error)) << error;
    model_ = model;
  }
  void StoreLoop(const std::vector<uint8_t>& stream, LoopInfo info) {
    std::string error;
    ASSERT_TRUE(WriteSimulatedLoop(pedal_, stream, info, error)) << error;
  }
  void Faults(const std::string& text) {
    std::string error;
    ASSERT_TRUE(WriteSimulatedFaults(pedal_, text, error)) << error;
  }
  JobResult Run(JobCode code, const std::string& file, bool verify = false, bool mix = false) {
    JobRequest job;
    job.code = code;
    job.pedalPath = pedal_;
    job.model = model_;
    (code == JobExport ? job.exportPath : job.importPath) = file;
    job.verify = verify;
    job.mix = mix;
    job.both = both_;
    // The plain paths, command for command, unless a test asks for a backup.
    job.backup = backup_;
    job.backupFolder = dir_ / "backups";
    job.native = native_;
    job.restoreOnCancel = restoreOnCancel_;
    job.cancel = &cancel_;
    const JobResult r = RunJob(job, device_, wav_, resample_, ui_);
    EXPECT_FALSE(device_.IsOpen());
    EXPECT_EQ(ui_.progress.back(), 0);  // every job ends with progress 0
    return r;
  }
  std::vector<PedalCommand> Kinds() {
    std::vector<PedalCommand> k;
    for (const auto& s : platform_.Sent()) k.push_back(s.command);
    return k;
  }
  std::vector<uint32_t> Lengths(PedalCommand c) {
    std::vector<uint32_t> l;
    for (const auto& s : platform_.Sent()) {
      if (s.command == c) l.push_back(s.length);
    }
    return l;
  }
  // The pedal's stored stream, cut to the loop's length.
  std::vector<uint8_t> Stored() {
    std::vector<uint8_t> stream;
    LoopInfo info;
    std::string error;
    EXPECT_TRUE(ReadSimulatedLoop(pedal_, stream, info, error)) << error;
    stream.resize(std::min<size_t>(stream.size(), info.length));
    return stream;
  }
  std::vector<int> ProgressBeforeEnd() {
    return std::vector<int>(ui_.progress.begin(), ui_.progress.end() - 1);
  }

  TempDir dir_;
  std::string pedal_;
  RecordingPlatform platform_;
  CMassStorageDevice device_;
  uint8_t model_ = 0;
  bool backup_ = false, native_ = false, restoreOnCancel_ = false, both_ = false;
  std::atomic<bool> cancel_{false};
  WavFormat wav_;
  ResampleState resample_;
  RecordingFrontEnd ui_;
};

}  // namespace rendax::testing
