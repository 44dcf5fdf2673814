// SPDX-License-Identifier: GPL-3.0-or-later
// The fault matrix: a pedal, a file or the file system fails at one point of a job, and the
// user must see the right message with its reason and be left with no crash, no partial or
// corrupted file, an earlier target unchanged, the pedal closed, progress 0, no job pending and the
// buttons as they should be. Every row runs through the main dialog, its real worker thread and a
// simulated pedal; the test thread plays the window thread.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <tuple>

#include <gtest/gtest.h>

#include "app/main_dialog.h"
#include "audio/sample_pages.h"
#include "device/platform/sim/sim_pedal.h"
#include "tests/support/wait.h"
#include "tests/transfer/reference.h"
#include "tests/transfer/test_support.h"
#include "transfer/backup.h"

namespace rendax::testing {
namespace {

namespace fs = std::filesystem;

// A window whose thread is the test's: calls from the worker wait in a queue until the test
// pumps them, as a toolkit's event loop would run them.
class PumpedWindow : public WindowLayer {
 public:
  PumpedWindow() : windowThread_(std::this_thread::get_id()) {}

  int RunModal(CSdkManager_MFCDlg& dialog) override {
    const int focus = dialog.OnInitDialog();
    dialog.OnShown();
    return focus;
  }
  void EndDialog(int) override {}
  void AppendAboutItem(const std::string&) override {}
  void AppendRestoreItem(const std::string&) override {}
  void ShowAbout() override {}
  void SetIcons(int) override {}
  void EnableControl(int control, bool enable) override { enabled[control] = enable; }
  void SetProgressRange(int, int) override {}
  void SetProgressPos(int pos) override { progress = pos; }
  void LoadButtonFaces(int, const ButtonFaces&) override {}
  void ShowMessage(const std::string& text, const std::string& detail, MessageKind) override {
    messages.push_back(text);
    details.push_back(detail);
  }
  bool AskYesNo(const std::string& text, const std::string&) override {
    questions.push_back(text);
    return true;
  }
  std::optional<std::string> ChooseFile(const FileChooser&) override { return chosenFile; }
  void SendToWindow(const std::function<void()>& call) override {
    if (std::this_thread::get_id() == windowThread_) return call();
    std::unique_lock<std::mutex> lock(mutex_);
    bool done = false;
    auto task = std::make_shared<std::function<void()>>([&] {
      call();
      std::lock_guard<std::mutex> l(mutex_);
      done = true;
    });
    queue_.push_back(task);
    wake_.notify_all();
    if (wake_.wait_for(lock, testing::kWaitBound, [&] { return done; })) return;
    // The test stopped serving the window: take the call back, so the job can end and the
    // worker can be stopped. One the window thread has already taken runs to its end.
    if (auto it = std::find(queue_.begin(), queue_.end(), task); it != queue_.end()) {
      queue_.erase(it);
      ADD_FAILURE() << "a call from the worker waited " << testing::kWaitBound.count() / 1000
                    << " s for the window thread: dropped";
      return;
    }
    wake_.wait(lock, [&] { return done; });
  }
  void PostDelayed(int, std::function<void()> call) override { posted.push_back(std::move(call)); }
  void WaitUntil(const std::string&, const std::function<bool()>& done) override {
    EXPECT_TRUE(Pump(done, "the job ending while the window closes"));
  }

  // Runs the worker's calls on this thread until `done`.
  ::testing::AssertionResult Pump(const std::function<bool()>& done, const std::string& what) {
    return testing::WaitUntil(done, testing::kWaitBound, what, [&] {
      std::shared_ptr<std::function<void()>> call;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        wake_.wait_for(lock, std::chrono::milliseconds(20), [&] { return !queue_.empty(); });
        if (queue_.empty()) return;
        call = std::move(queue_.front());
        queue_.pop_front();
      }
      (*call)();
      wake_.notify_all();
    });
  }

  std::map<int, bool> enabled;
  int progress = -1;
  std::vector<std::string> messages, details, questions;
  std::optional<std::string> chosenFile;
  std::vector<std::function<void()>> posted;

 private:
  std::thread::id windowThread_;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<std::shared_ptr<std::function<void()>>> queue_;
};

// A simulated pedal of `model` holding a loop, a folder for files, the dialog and its worker.
class Rig {
 public:
  // `beforeStart` runs once the pedal is made, before the dialog looks at it.
  explicit Rig(uint8_t model, uint16_t firmware = 8, const std::string& startFaults = "",
               const std::function<void(Rig&)>& beforeStart = {})
      : dir_("faults"), pedal_(dir_ / "pedals/p0"), platform_(dir_ / "pedals") {
    fs::create_directories(dir_.path() / "out");
    // Backups go to the rig's folder, never into the home of whoever runs the tests. Set before
    // the worker starts, the only other thread that reads the environment.
    setenv("RENDAX_BACKUP_DIR", Backups().c_str(), 1);
    std::string error;
    EXPECT_TRUE(CreateSimulatedPedal(pedal_, model, firmware, error)) << error;
    EXPECT_TRUE(WriteSimulatedLoop(pedal_, Loop(), {0, kLoopBytes}, error)) << error;
    Faults(startFaults);
    if (beforeStart) beforeStart(*this);
    dialog_ = std::make_unique<CSdkManager_MFCDlg>(window_, platform_, MakeThreadWorker);
    window_.RunModal(*dialog_);
  }
  ~Rig() {
    dialog_->OnClose();
    dialog_.reset();
  }
  static constexpr uint32_t kLoopBytes = 300000;
  static std::vector<uint8_t> Loop() { return NoiseBytes(kLoopBytes, 77); }

  void Faults(const std::string& text) {
    std::string error;
    EXPECT_TRUE(WriteSimulatedFaults(pedal_, text, error)) << error;
  }
  // Presses a button with `file` chosen and waits, pumping the window, until the job is over.
  void Press(JobCode code, const std::string& file) {
    window_.chosenFile = file;
    code == JobExport ? dialog_->OnExport() : dialog_->OnImport();
    ASSERT_TRUE(window_.Pump([&] { return dialog_->JobCode() == JobNone; }, "the job ending"));
  }
  // The restore item, answered Yes, and the job it stores.
  void Restore() {
    dialog_->OnRestoreLastBackup();
    ASSERT_TRUE(window_.Pump([&] { return dialog_->JobCode() == JobNone; }, "the restore ending"));
  }
  std::string Backups() const { return dir_ / "backups"; }
  std::vector<std::string> BackupFiles() const {
    return fs::is_directory(Backups()) ? FilesIn(Backups()) : std::vector<std::string>{};
  }
  // What every row checks once the job is over.
  void ExpectJobEnded(bool buttons) {
    EXPECT_EQ(window_.progress, 0);
    ExpectIdle(buttons);
  }
  void ExpectIdle(bool buttons) {
    EXPECT_FALSE(dialog_->Device()->IsOpen());
    EXPECT_EQ(dialog_->JobCode(), JobNone);
    EXPECT_EQ(window_.enabled[kExportButton], buttons);
    EXPECT_EQ(window_.enabled[kImportButton], buttons);
  }
  std::vector<uint8_t> StoredLoop(LoopInfo& info) {
    std::vector<uint8_t> stream;
    std::string error;
    EXPECT_TRUE(ReadSimulatedLoop(pedal_, stream, info, error)) << error;
    return stream;
  }

  TempDir dir_;
  std::string pedal_;
  SimulatorPlatform platform_;
  PumpedWindow window_;
  std::unique_ptr<CSdkManager_MFCDlg> dialog_;
};

const std::vector<uint8_t> kEarlier{'e', 'a', 'r', 'l', 'i', 'e', 'r'};

// Limits the size of files this process writes: a full disk, for the length of one job.
class SmallDisk {
 public:
  explicit SmallDisk(rlim_t bytes) {
    signal(SIGXFSZ, SIG_IGN);
    getrlimit(RLIMIT_FSIZE, &saved_);
    rlimit small = saved_;
    small.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &small);
  }
  ~SmallDisk() { setrlimit(RLIMIT_FSIZE, &saved_); }

 private:
  rlimit saved_{};
};

// The reason shown with the only message contains `part` (nothing is looked at when empty).
void ExpectReason(const Rig& rig, const std::string& part) {
  if (part.empty()) return;
  ASSERT_EQ(rig.window_.details.size(), 1u);
  EXPECT_NE(rig.window_.details[0].find(part), std::string::npos)
      << "\"" << rig.window_.details[0] << "\" lacks \"" << part << "\"";
}

// ---- Export ----

TEST(FaultMatrix, ExportFaultsKeepTheEarlierFileAndNothingElse) {
  struct Row {
    const char* fault;
    const char* pedalFaults;  // the simulated pedal's fault script
    const char* message;      // "" for none
    bool buttonsTouched;      // disabled during the job (they end enabled either way)
    const char* reason;       // what the message's reason must say
  };
  const Row rows[] = {
      {"pedal gone at the LoopInfo read", "unplug-after 0", "Receive Error", false,
       "the pedal did not answer the loop info request: the pedal was disconnected"},
      {"LoopInfo read fails", "fail LoopInfoRead", "Receive Error", false,
       "the pedal did not answer the loop info request: the pedal refused the command (sense "},
      {"pedal gone at the 3rd LoopData", "unplug-after 3", "Receive Error", true,
       "a loop data read failed: the pedal was disconnected"},
      {"2nd LoopData fails", "fail LoopDataRead 2", "Receive Error", true,
       "a loop data read failed: the pedal refused the command (sense "},
      {"last LoopData fails", "fail LoopDataRead 5", "Receive Error", true,
       "a loop data read failed: the pedal refused the command (sense "},
      {"disk full", "", "Receive Error", true, "out/loop.wav: File too large"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.fault);
    Rig rig(1);
    rig.Faults(row.pedalFaults);
    const std::string target = rig.dir_ / "out/loop.wav";
    WriteFileBytes(target, kEarlier);
    {
      std::optional<SmallDisk> full;
      if (std::string(row.fault) == "disk full") full.emplace(100000);
      rig.Press(JobExport, target);
    }
    EXPECT_EQ(rig.window_.messages, std::vector<std::string>{row.message});
    ExpectReason(rig, row.reason);
    rig.ExpectJobEnded(true);
    EXPECT_EQ(ReadFileBytes(target), kEarlier);
    EXPECT_EQ(FilesIn(rig.dir_.path() / "out"), std::vector<std::string>{"loop.wav"});
    LoopInfo info;
    EXPECT_EQ(rig.StoredLoop(info), Rig::Loop()) << "an export never changes the pedal";
  }
}

TEST(FaultMatrix, ExportTargetsThatCannotTakeAFileAreRefusedBeforeAnyAudioMoves) {
  struct Row {
    const char* fault;
    std::function<std::string(Rig&)> target;  // prepares the target, returns its path
    const char* reason = "";
  };
  const Row rows[] = {
      {"target is a folder", [](Rig& r) { return r.dir_ / "out"; }, "out: it is a folder"},
      {"folder missing", [](Rig& r) { return r.dir_ / "gone/loop.wav"; },
       "gone/loop.wav: No such file or directory"},
      {"folder not writable",
       [](Rig& r) {
         // root writes anywhere it has permission bits for: a folder of /proc takes no files.
         if (geteuid() == 0) return std::string("/proc/rendax-loop.wav");
         fs::create_directories(r.dir_.path() / "locked");
         chmod((r.dir_ / "locked").c_str(), 0555);
         return r.dir_ / "locked/loop.wav";
       },
       // The file and the system's own words; root's stand-in fails for another reason.
       geteuid() == 0 ? "" : "locked/loop.wav: Permission denied"},
      {"target is a pipe",
       [](Rig& r) {
         mkfifo((r.dir_ / "out/pipe.wav").c_str(), 0644);
         return r.dir_ / "out/pipe.wav";
       },
       "pipe.wav: it is not a plain file"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.fault);
    Rig rig(0);
    const std::string target = row.target(rig);
    const bool wasSpecial = fs::exists(target) && !fs::is_regular_file(target);
    rig.Press(JobExport, target);
    EXPECT_EQ(rig.window_.messages, std::vector<std::string>{kMsgFileCreationError});
    ExpectReason(rig, row.reason);
    rig.ExpectJobEnded(true);
    if (wasSpecial) {
      EXPECT_FALSE(fs::is_regular_file(target)) << "a device or pipe was replaced by a file";
    }
    EXPECT_TRUE(FilesIn(rig.dir_.path() / "out").empty());
    if (fs::exists(rig.dir_.path() / "locked")) chmod((rig.dir_ / "locked").c_str(), 0755);
  }
}

TEST(FaultMatrix, LoopInfoRepliesDecideWhetherThereIsAnythingToExport) {
  struct Row {
    const char* fault;
    LoopInfo info;
    const char* message;
    const char* reason;
  };
  const Row rows[] = {
      {"status 1", {1, Rig::kLoopBytes}, kMsgExportNotFound, "the pedal holds no loop"},
      {"length 0", {0, 0}, kMsgExportNotFound, "the pedal holds no loop"},
      // The pedal reads zeros past its stream: the export holds the loop, then silence.
      {"length larger than the stream", {0, Rig::kLoopBytes + 100000}, kMsgReceiveComplete, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.fault);
    Rig rig(0);
    std::string error;
    ASSERT_TRUE(WriteSimulatedLoopInfo(rig.pedal_, row.info, error)) << error;
    const std::string target = rig.dir_ / "out/loop.wav";
    WriteFileBytes(target, kEarlier);
    rig.Press(JobExport, target);
    EXPECT_EQ(rig.window_.messages, std::vector<std::string>{row.message});
    ExpectReason(rig, row.reason);
    rig.ExpectJobEnded(true);
    EXPECT_EQ(FilesIn(rig.dir_.path() / "out"), std::vector<std::string>{"loop.wav"});
    const auto file = ReadFileBytes(target);
    if (std::string(row.message) != kMsgReceiveComplete) {
      EXPECT_EQ(file, kEarlier);
      continue;
    }
    // 400,000 bytes of one-channel pages: 195 whole pages and 650 frames, at 48 kHz.
    ASSERT_GT(file.size(), 44u);
    const uint64_t framesIn = FramesInStream(row.info.length, 1);
    EXPECT_NEAR(double(file.size() - 44) / 3, double(framesIn) * 128 / 125, 2.0);
  }
}

// ---- Import ----

TEST(FaultMatrix, ImportPedalFaultsSayWhatTheLoopNowHolds) {
  struct Row {
    const char* fault;
    const char* pedalFaults;
    bool audioTouched;  // the pedal's audio was (partly) overwritten before the fault
    bool lengthTouched;
    const char* reason;
    const char* message = "Send Error";
  };
  // Before its first write an import reads the loop info, saves the loop (the info and five
  // LoopData reads of 300,000 bytes) and reads the info again to rewind: eight commands.
  const Row rows[] = {
      {"pedal gone at the LoopInfo read", "unplug-after 0", false, false,
       "the pedal did not answer the loop info request: the pedal was disconnected"},
      {"LoopInfo read fails", "fail LoopInfoRead", false, false,
       "the pedal did not answer the loop info request: the pedal refused the command (sense "},
      {"pedal gone during the backup", "unplug-after 3", false, false,
       "a loop data read failed: the pedal was disconnected; the pedal's loop is untouched",
       "Backup Error"},
      {"pedal gone at the 3rd LoopData", "unplug-after 10", true, false,
       "a loop data write failed: the pedal was disconnected; the pedal's loop is incomplete"},
      {"2nd LoopData fails", "fail LoopDataWrite 2", true, false,
       "a loop data write failed: the pedal refused the command (sense "},
      {"final LoopInfo write fails", "fail LoopInfoWrite", true, false,
       "the loop info write failed: the pedal refused the command (sense "},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.fault);
    Rig rig(0);
    rig.Faults(row.pedalFaults);
    const std::string source = rig.dir_ / "out/in.wav";
    const auto wav = MakeWav(NoiseBytes(600000, 3), 24, 1, 48000);
    WriteFileBytes(source, wav);
    rig.Press(JobImport, source);
    EXPECT_EQ(rig.window_.messages, std::vector<std::string>{row.message});
    ExpectReason(rig, row.reason);
    rig.ExpectJobEnded(true);
    EXPECT_EQ(ReadFileBytes(source), wav) << "the imported file is only read";
    LoopInfo info;
    const auto stored = rig.StoredLoop(info);
    EXPECT_EQ(info.length, Rig::kLoopBytes) << "the pedal was never given a new length";
    EXPECT_EQ(stored != Rig::Loop(), row.audioTouched);
    // A backup is whole or absent; a loop that was written to has one.
    const auto backups = rig.BackupFiles();
    ASSERT_EQ(backups.size(), row.audioTouched ? 1u : 0u);
    if (row.audioTouched) {
      // Where the earlier loop went, said with the failure.
      ExpectReason(rig, "incomplete");
      ExpectReason(rig, rig.Backups() + "/" + backups[0]);
    }
  }
}

TEST(FaultMatrix, ImportFilesThatCannotBeUsedNeverReachThePedal) {
  struct Row {
    const char* fault;
    std::function<std::string(Rig&)> source;
    const char* message;
    const char* reason;
  };
  const auto wav = MakeWav(NoiseBytes(30000, 5), 16, 2, 44100);
  const Row rows[] = {
      {"missing", [](Rig& r) { return r.dir_ / "out/none.wav"; }, kMsgCantOpenFile,
       "out/none.wav: No such file or directory"},
      {"a folder",
       [](Rig& r) {
         fs::create_directories(r.dir_.path() / "out/folder.wav");
         return r.dir_ / "out/folder.wav";
       },
       kMsgCantOpenFile, "folder.wav: it is a folder"},
      {"unreadable",
       [&](Rig& r) {
         // root opens anything: a file whose every read fails stands in.
         if (geteuid() == 0) return std::string("/proc/self/mem");
         WriteFileBytes(r.dir_ / "out/locked.wav", wav);
         chmod((r.dir_ / "out/locked.wav").c_str(), 0);
         return r.dir_ / "out/locked.wav";
       },
       geteuid() == 0 ? kMsgFormatWrong : kMsgCantOpenFile,
       geteuid() == 0 ? "/proc/self/mem: " : "locked.wav: Permission denied"},
      {"cut inside the header",
       [&](Rig& r) {
         WriteFileBytes(r.dir_ / "out/cut.wav",
                        std::vector<uint8_t>(wav.begin(), wav.begin() + 40));
         return r.dir_ / "out/cut.wav";
       },
       kMsgFormatWrong, "cut.wav: The file is shorter than a WAV header"},
      {"header but no audio",
       [&](Rig& r) {
         WriteFileBytes(r.dir_ / "out/empty.wav",
                        std::vector<uint8_t>(wav.begin(), wav.begin() + 44));
         return r.dir_ / "out/empty.wav";
       },
       kMsgFormatWrong, "empty.wav: the file holds no audio"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.fault);
    Rig rig(2);
    const std::string source = row.source(rig);
    rig.Press(JobImport, source);
    EXPECT_EQ(rig.window_.messages, std::vector<std::string>{row.message});
    ExpectReason(rig, row.reason);
    rig.ExpectJobEnded(true);
    LoopInfo info;
    EXPECT_EQ(rig.StoredLoop(info), Rig::Loop());
    EXPECT_EQ(info.length, Rig::kLoopBytes);
  }
}

TEST(FaultMatrix, ImportOfAFileCutShortSendsOnlyTheAudioItHolds) {
  struct Row {
    const char* fault;
    size_t keep;       // bytes of audio left in the file
    int64_t dataSize;  // what the header claims
  };
  const auto audio = NoiseBytes(240000, 9);  // 24-bit stereo: 40,000 frames
  const Row rows[] = {
      {"cut inside the audio, mid-frame", 150001, 240000},
      {"dataSize larger than the file", 240000, 2400000},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.fault);
    Rig rig(1);
    const std::vector<uint8_t> kept(audio.begin(), audio.begin() + row.keep);
    const std::string source = rig.dir_ / "out/short.wav";
    WriteFileBytes(source, MakeWav(kept, 24, 2, 48000, 16, row.dataSize));
    rig.Press(JobImport, source);
    EXPECT_EQ(rig.window_.messages, std::vector<std::string>{kMsgSendComplete});
    ExpectReason(rig, "the file ends early: ");
    rig.ExpectJobEnded(true);
    const std::vector<uint8_t> whole(kept.begin(), kept.begin() + row.keep / 6 * 6);
    const auto want = ExpectedStream(whole, 24, 2, 48000, 2);
    LoopInfo info;
    const auto stored = rig.StoredLoop(info);
    EXPECT_EQ(info.length, want.size());
    ASSERT_GE(stored.size(), want.size());
    EXPECT_TRUE(std::equal(want.begin(), want.end(), stored.begin()));
  }
}

// ---- Backups: nothing the pedal held is lost ----

// A loop as the pedal itself stores one: whole pages of audio, zero filler.
std::vector<uint8_t> PagedLoop(uint32_t channels, uint32_t pages) {
  const PageLayout layout = PageLayoutFor(channels);
  const auto audio = NoiseBytes(size_t{layout.audioBytes} * pages, 21);
  std::vector<uint8_t> stream(size_t{layout.pageBytes} * pages, 0);
  InsertFiller(audio.data(), uint32_t(audio.size()), 0, channels, stream.data());
  return stream;
}

TEST(FaultMatrix, AnImportSavesTheLoopFirstAndRestoreGivesItBackByteForByte) {
  Rig rig(1);
  const auto earlier = PagedLoop(2, 73);
  std::string error;
  ASSERT_TRUE(WriteSimulatedLoop(rig.pedal_, earlier, {0, uint32_t(earlier.size())}, error));
  const std::string source = rig.dir_ / "out/new.wav";
  WriteFileBytes(source, MakeWav(NoiseBytes(120000, 4), 24, 2, 48000));
  rig.Press(JobImport, source);
  ASSERT_EQ(rig.window_.messages, std::vector<std::string>{kMsgSendComplete});
  const auto backups = rig.BackupFiles();
  ASSERT_EQ(backups.size(), 1u);
  const auto file = ReadFileBytes(rig.Backups() + "/" + backups[0]);
  WavFormat wav;
  ASSERT_EQ(ParseWavHeader(file.data(), file.size(), wav, nullptr, true), 1);
  EXPECT_EQ(std::tuple(wav.sampleRate, wav.bitsPerSample, wav.channels), std::tuple(46875u, 24, 2));
  LoopInfo info;
  ASSERT_NE(rig.StoredLoop(info), earlier);

  rig.window_.questions.clear();
  rig.Restore();
  ASSERT_EQ(rig.window_.questions.size(), 1u);
  EXPECT_EQ(rig.window_.questions[0].rfind(ReplaceWarning(PedalName(1, rig.pedal_)), 0), 0u)
      << "the import's warning first, naming the pedal";
  EXPECT_NE(rig.window_.questions[0].find("(0:01)"), std::string::npos) << "the backup's length";
  EXPECT_EQ(rig.window_.messages, (std::vector<std::string>{kMsgSendComplete, kMsgSendComplete}));
  rig.ExpectJobEnded(true);
  EXPECT_EQ(rig.StoredLoop(info), earlier);
  EXPECT_EQ(info.status, 0);
  EXPECT_EQ(info.length, earlier.size());
  EXPECT_EQ(rig.BackupFiles().size(), 2u) << "the restore saved the loop it replaced";
}

TEST(FaultMatrix, AnImportSavesTheLoopFirstOrLeavesItAlone) {
  struct Row {
    const char* fault;
    std::function<void(Rig&)> prepare;
    const char* message;
    bool loopKept;  // the pedal still holds the rig's loop
    const char* reason;
  };
  const Row rows[] = {
      {"backup folder is a file", [](Rig& r) { WriteFileBytes(r.Backups(), kEarlier); },
       "Backup Error", true, "backups: Not a directory; the pedal's loop is untouched"},
      {"backup folder not writable",
       [](Rig& r) {
         // root writes anywhere it has permission bits for: a folder of /proc takes no folders.
         if (geteuid() == 0) {
           setenv("RENDAX_BACKUP_DIR", "/proc/rendax-backups", 1);
           return;
         }
         fs::create_directories(r.Backups());
         chmod(r.Backups().c_str(), 0555);
       },
       "Backup Error", true, geteuid() == 0 ? "/proc/rendax-backups: " : "backups/Rendax_"},
      {"pedal holds no loop",
       [](Rig& r) {
         std::string error;
         EXPECT_TRUE(WriteSimulatedLoop(r.pedal_, {}, {1, 0}, error)) << error;
       },
       kMsgSendComplete, false, ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.fault);
    Rig rig(0);
    row.prepare(rig);
    const std::string source = rig.dir_ / "out/in.wav";
    WriteFileBytes(source, MakeWav(NoiseBytes(60000, 3), 24, 1, 48000));
    rig.Press(JobImport, source);
    EXPECT_EQ(rig.window_.messages, std::vector<std::string>{row.message});
    ExpectReason(rig, row.reason);
    rig.ExpectJobEnded(true);
    LoopInfo info;
    EXPECT_EQ(rig.StoredLoop(info) == Rig::Loop(), row.loopKept);
    if (fs::is_directory(rig.Backups())) {
      EXPECT_TRUE(rig.BackupFiles().empty()) << "no backup, and no part of one";
      chmod(rig.Backups().c_str(), 0755);
    }
  }
}

// ---- How many backups are kept: the same for every job that saves the loop ----

TEST(FaultMatrix, EveryJobThatSavesTheLoopKeepsTheBackupsTheSettingAsksFor) {
  struct Row {
    const char* job;
    uint16_t firmware;  // 7: the start asks for an update, which saves the loop first
    std::function<void(Rig&)> run;
    bool olderKept = false;  // the older backup is the one being restored: pruning spares it
  };
  const auto press = [](Rig& r) {
    WriteFileBytes(r.dir_ / "out/in.wav", MakeWav(NoiseBytes(600000, 3), 24, 2, 48000));
    r.Press(JobImport, r.dir_ / "out/in.wav");
  };
  const Row rows[] = {
      {"import", 8, press},
      {"restore", 8, [](Rig& r) { r.Restore(); }, true},
      {"firmware update", 7, [](Rig&) {}},
      {"import cancelled after its writes began", 8,
       [&](Rig& r) {
         press(r);  // the first job's backup is pruned in its turn
         r.Faults("stall LoopDataWrite 3");
         r.window_.chosenFile = r.dir_ / "out/in.wav";
         r.dialog_->OnImport();
         const std::string marker = r.pedal_ + "/stalled";
         ASSERT_TRUE(r.window_.Pump([&] { return fs::exists(marker); }, "the stalled write"));
         r.dialog_->OnCancel();
         fs::remove(marker);
         ASSERT_TRUE(r.window_.Pump([&] { return r.dialog_->JobCode() == JobNone; }, "the end"));
       }},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.job);
    // Read by the worker and the firmware check: set before either starts.
    setenv("RENDAX_BACKUP_KEEP", "1", 1);
    {
      std::string older;
      Rig rig(1, row.firmware, "", [&](Rig& r) {
        // A backup made before the job, as the program makes them.
        CMassStorageDevice device(r.platform_);
        ASSERT_TRUE(device.Open(r.pedal_, kGenericRead | kGenericWrite, 3));
        BackupRequest request;
        request.model = 1;
        request.folder = r.Backups();
        std::string reason;
        EXPECT_EQ(MakeBackup(device, request, older, reason), BackupOutcome::Made) << reason;
        device.Close();
      });
      row.run(rig);
      const auto kept = rig.BackupFiles();
      ASSERT_EQ(kept.size(), row.olderKept ? 2u : 1u);
      const bool olderThere =
          std::count(kept.begin(), kept.end(), fs::path(older).filename().string()) > 0;
      EXPECT_EQ(olderThere, row.olderKept) << "the newest is kept, and the one being restored";
    }
    unsetenv("RENDAX_BACKUP_KEEP");
  }
}

// ---- Cancel: the window's button while the worker is inside a transfer ----

TEST(FaultMatrix, CancelDuringATransferLeavesTheEarlierLoopAndTheEarlierFile) {
  struct Row {
    const char* fault;
    JobCode code;
    const char* stall;  // the command held while Cancel is pressed
    const char* message;
    const char* reason;
  };
  const Row rows[] = {
      {"Cancel during an import's writes", JobImport, "stall LoopDataWrite 3", kMsgImportCancelled,
       ""},
      {"Cancel during an export's reads", JobExport, "stall LoopDataRead 2", kMsgExportCancelled,
       "out/loop.wav is intact"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.fault);
    Rig rig(1);
    // Zero filler, as the pedal stores it: a loop put back has nothing else there.
    const auto earlier = PagedLoop(2, 73);
    std::string error;
    ASSERT_TRUE(WriteSimulatedLoop(rig.pedal_, earlier, {0, uint32_t(earlier.size())}, error));
    rig.Faults(row.stall);
    const std::string file = rig.dir_ / "out/loop.wav";
    WriteFileBytes(file,
                   row.code == JobImport ? MakeWav(NoiseBytes(600000, 3), 24, 2, 48000) : kEarlier);
    const auto before = ReadFileBytes(file);
    rig.window_.chosenFile = file;
    row.code == JobExport ? rig.dialog_->OnExport() : rig.dialog_->OnImport();
    const std::string marker = rig.pedal_ + "/stalled";
    ASSERT_TRUE(rig.window_.Pump([&] { return fs::exists(marker); }, "the stalled command"));
    rig.dialog_->OnCancel();
    fs::remove(marker);
    ASSERT_TRUE(rig.window_.Pump([&] { return rig.dialog_->JobCode() == JobNone; }, "the end"));
    EXPECT_EQ(rig.window_.messages, std::vector<std::string>{row.message});
    ExpectReason(rig, row.reason);
    rig.ExpectJobEnded(true);
    EXPECT_EQ(ReadFileBytes(file), before);
    EXPECT_EQ(FilesIn(rig.dir_.path() / "out"), std::vector<std::string>{"loop.wav"});
    LoopInfo info;
    EXPECT_EQ(rig.StoredLoop(info), earlier);
    EXPECT_EQ(info.length, earlier.size());
  }
}

// ---- Pedal gone before the job, and the firmware check ----

TEST(FaultMatrix, APedalGoneBeforeTheJobShowsNothingAndRunsNothing) {
  struct Row {
    const char* fault;
    bool notice;  // the removal notice arrived before the button's job was picked up
  };
  for (const Row row :
       {Row{"cable pulled, no notice yet", false}, Row{"removal noticed, path emptied", true}}) {
    SCOPED_TRACE(row.fault);
    Rig rig(0);
    std::ofstream(rig.pedal_ + "/unplugged") << "pulled\n";
    if (row.notice) rig.dialog_->OnDeviceChange(HotplugNotice::DeviceRemoval);
    EXPECT_EQ(rig.dialog_->PedalPath().empty(), row.notice);
    const std::string target = rig.dir_ / "out/loop.wav";
    rig.Press(JobExport, target);  // a click that was already on its way
    EXPECT_TRUE(rig.window_.messages.empty());
    rig.ExpectJobEnded(!row.notice);
    EXPECT_FALSE(fs::exists(target));
  }
}

TEST(FaultMatrix, APedalHeldByAnotherProgramIsRefusedBeforeAnythingMoves) {
  for (const JobCode code : {JobExport, JobImport}) {
    SCOPED_TRACE(code == JobExport ? "export" : "import");
    Rig rig(0);
    const std::string file = rig.dir_ / "out/loop.wav";
    const auto wav = MakeWav(NoiseBytes(30000, 5), 16, 2, 44100);
    if (code == JobImport) WriteFileBytes(file, wav);
    // Another program's open of the same pedal, held through the job.
    SimulatorPlatform other(rig.dir_ / "pedals");
    int osError = 0;
    const auto held = other.Open(rig.pedal_, kGenericRead | kGenericWrite, 3, osError);
    ASSERT_NE(held, nullptr);
    rig.Press(code, file);
    EXPECT_EQ(rig.window_.messages, std::vector<std::string>{kMsgPedalInUse});
    ExpectReason(rig, rig.pedal_);
    rig.ExpectJobEnded(true);
    EXPECT_EQ(FilesIn(rig.dir_.path() / "out"), code == JobImport
                                                    ? std::vector<std::string>{"loop.wav"}
                                                    : std::vector<std::string>{});
    LoopInfo info;
    EXPECT_EQ(rig.StoredLoop(info), Rig::Loop());
    EXPECT_EQ(info.length, Rig::kLoopBytes);
  }
}

TEST(FaultMatrix, FirmwareFaultsLeaveThePedalUnusableAndClosed) {
  struct Row {
    const char* fault;
    uint16_t firmware;
    const char* pedalFaults;
    const char* message;
  };
  const Row rows[] = {
      {"version read fails", 8, "fail GetFirmwareVersion", "Firmware Read Error"},
      {"pedal gone at the version read", 8, "unplug-after 0", "Firmware Read Error"},
      {"firmware write fails", 7, "fail WriteFirmware", "Firmware Update Error"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.fault);
    Rig rig(1, row.firmware, row.pedalFaults);
    EXPECT_EQ(rig.window_.messages, std::vector<std::string>{row.message});
    rig.ExpectIdle(false);
    uint16_t version = 0;
    std::string error;
    ASSERT_TRUE(ReadSimulatedFirmwareVersion(rig.pedal_, version, error));
    EXPECT_EQ(version, row.firmware) << "nothing was written to the pedal";
    // An update (firmware 7 is asked about) saves the loop before its image goes on.
    EXPECT_EQ(rig.BackupFiles().size(), row.firmware == 7 ? 1u : 0u);
  }
}

}  // namespace
}  // namespace rendax::testing
