// The main dialog's logic against a fake window and scripted pedals.
#include "app/main_dialog.h"

#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "app/about.h"
#include "device/commands.h"
#include "device/discovery.h"

namespace rendax {
namespace {

// ---- Scripted pedals: each path is a pedal of one model with one firmware version ----

struct FakePedal {
  uint8_t model = 0;
  uint16_t firmware = 8;
  bool attached = true;
  bool opens = true;
  int firmwareWrites = 0;
  uint8_t writtenImageModelTag = 0xFF;  // which model's image arrived (by its bytes)
};

class FakePlatform : public DevicePlatform {
 public:
  std::map<std::string, FakePedal> pedals;
  int opens = 0;
  int openChannels = 0;

  bool ListCandidates(std::vector<std::string>& paths, std::string&) override {
    for (auto& [path, pedal] : pedals) {
      if (pedal.attached) paths.push_back(path);
    }
    return true;
  }
  std::optional<StorageIdentity> Identify(const std::string& path) override {
    auto it = pedals.find(path);
    if (it == pedals.end() || !it->second.attached) return std::nullopt;
    const PedalModel& m = ModelInfo(it->second.model);
    return StorageIdentity{true, std::string(m.vendor), std::string(m.product)};
  }
  std::unique_ptr<DeviceChannel> Open(const std::string& path, uint32_t, uint32_t,
                                      int& osError) override;
};

class FakeChannel : public DeviceChannel {
 public:
  FakeChannel(FakePlatform& platform, FakePedal& pedal) : platform_(platform), pedal_(pedal) {
    ++platform_.openChannels;
  }
  ~FakeChannel() override { --platform_.openChannels; }
  // Development firmware images are only ever written to pedals that are not real.
  bool IsSimulated() const override { return true; }
  PassThroughResult Execute(const PassThroughRequest& r) override {
    auto* data = static_cast<uint8_t*>(r.data);
    if (r.cdb[1] == 0x01 && r.dataLength >= 2) {
      data[0] = pedal_.firmware & 0xFF;
      data[1] = pedal_.firmware >> 8;
    } else if (r.cdb[1] == 0x02) {
      ++pedal_.firmwareWrites;
      for (uint8_t m = 0; m < kModelCount; ++m) {
        auto image = FirmwareImage(m);
        if (image.size() == r.dataLength && std::equal(image.begin(), image.end(), data)) {
          pedal_.writtenImageModelTag = m;
        }
      }
      pedal_.firmware = 8;
    }
    PassThroughResult result;
    result.outcome = CommandOutcome::Good;
    return result;
  }

 private:
  FakePlatform& platform_;
  FakePedal& pedal_;
};

std::unique_ptr<DeviceChannel> FakePlatform::Open(const std::string& path, uint32_t, uint32_t,
                                                  int& osError) {
  ++opens;
  auto it = pedals.find(path);
  if (it == pedals.end() || !it->second.attached || !it->second.opens) {
    osError = 2;
    return nullptr;
  }
  return std::make_unique<FakeChannel>(*this, it->second);
}

// ---- A window that records what it was asked and answers from a script ----

class FakeWindow : public WindowLayer {
 public:
  std::vector<std::string> log;  // "enable 1001 1", "message Receive Complete", ...
  std::map<int, bool> enabled;
  int progress = -1, rangeLow = -1, rangeHigh = -1;
  std::vector<bool> answers;  // Yes/No answers, in order
  std::vector<std::pair<std::string, std::string>> questions;
  std::optional<std::string> chosenFile;
  std::vector<FileChooser> choosers;
  std::vector<std::function<void()>> posted;
  std::function<void()> onWait;  // what happens while the window waits (the job ends, ...)
  std::function<void()> onAsk;   // what happens while a question is open
  std::string waitNotice;
  int ended = -1;

  int RunModal(CSdkManager_MFCDlg& dialog) override { return dialog.OnInitDialog(); }
  void EndDialog(int result) override { ended = result; }
  void AppendAboutItem(const std::string& text) override { log.push_back("about-item " + text); }
  void ShowAbout() override { log.push_back("about"); }
  void SetIcons(int group) override { log.push_back("icons " + std::to_string(group)); }
  void EnableControl(int control, bool enable) override {
    enabled[control] = enable;
    log.push_back("enable " + std::to_string(control) + " " + std::to_string(enable));
  }
  void SetProgressRange(int low, int high) override { rangeLow = low, rangeHigh = high; }
  void SetProgressPos(int pos) override { progress = pos; }
  void LoadButtonFaces(int control, const ButtonFaces& f) override {
    log.push_back("faces " + std::to_string(control) + " " + std::to_string(f.normal));
  }
  void ShowMessage(const std::string& text, const std::string&) override {
    log.push_back("message " + text);
  }
  bool AskYesNo(const std::string& text, const std::string& caption) override {
    questions.emplace_back(text, caption);
    if (onAsk) onAsk();
    if (answers.empty()) return false;
    bool a = answers.front();
    answers.erase(answers.begin());
    return a;
  }
  std::optional<std::string> ChooseFile(const FileChooser& chooser) override {
    choosers.push_back(chooser);
    return chosenFile;
  }
  void SendToWindow(const std::function<void()>& call) override { call(); }
  void PostDelayed(int, std::function<void()> call) override { posted.push_back(call); }
  void WaitUntil(const std::string& notice, const std::function<bool()>& done) override {
    waitNotice = notice;
    while (!done()) onWait();
  }
  void RunPosted() {
    auto calls = std::move(posted);
    posted.clear();
    for (auto& c : calls) c();
  }
  int Count(const std::string& prefix) const {
    int n = 0;
    for (auto& l : log) n += l.rfind(prefix, 0) == 0;
    return n;
  }
};

class FakeWorker : public JobWorker {
 public:
  explicit FakeWorker(TransferState& state) : state_(state) {}
  void Start() override { ++starts; }
  void Stop() override { ++stops; }
  bool Busy() const override { return busy || state_.jobCode.load() != JobNone; }
  // The worker picks the job up and finishes it.
  void Finish() {
    busy = false;
    state_.jobCode.store(JobNone);
  }
  int starts = 0, stops = 0;
  bool busy = false;

 private:
  TransferState& state_;
};

class DialogTest : public ::testing::Test {
 protected:
  void AddPedal(const std::string& path, uint8_t model, uint16_t firmware = 8) {
    platform.pedals[path] = FakePedal{model, firmware};
  }
  void Start() {
    dialog = std::make_unique<CSdkManager_MFCDlg>(
        window, platform,
        [this](TransferState& s, CDevice&, WavFormat&, ResampleState&, JobFrontEnd& ui) {
          auto w = std::make_unique<FakeWorker>(s);
          worker = w.get();
          state = &s;
          frontEnd = &ui;
          return w;
        });
    window.RunModal(*dialog);
  }
  bool Enabled() { return window.enabled[kExportButton] && window.enabled[kImportButton]; }
  bool Disabled() { return !window.enabled[kExportButton] && !window.enabled[kImportButton]; }
  // A job as the worker runs it: code stored, job pending until Finish().
  void RunningJob() {
    state->jobCode.store(JobExport);
    worker->busy = true;
  }

  FakePlatform platform;
  FakeWindow window;
  std::unique_ptr<CSdkManager_MFCDlg> dialog;
  FakeWorker* worker = nullptr;
  TransferState* state = nullptr;
  JobFrontEnd* frontEnd = nullptr;
};

TEST_F(DialogTest, StartUpRunsTheSequenceInOrder) {
  AddPedal("/dev/sdb", 1);
  Start();
  EXPECT_EQ(window.log, (std::vector<std::string>{std::string("about-item ") + kAboutMenuText,
                                                  "icons 160", "enable 1001 1", "enable 1000 1",
                                                  "faces 1000 151", "faces 1001 159"}));
  EXPECT_EQ(dialog->Model(), 1);
  EXPECT_EQ(dialog->PedalPath(), "/dev/sdb");
  EXPECT_EQ(dialog->JobCode(), JobNone);
  EXPECT_EQ(window.rangeLow, 0);
  EXPECT_EQ(window.rangeHigh, 100);
  EXPECT_EQ(worker->starts, 1);
  EXPECT_TRUE(Enabled());
  EXPECT_TRUE(window.questions.empty());
  EXPECT_EQ(platform.openChannels, 0) << "the firmware check leaves the pedal closed";
}

TEST_F(DialogTest, StartUpOutcomes) {
  struct Case {
    const char* name;
    std::vector<std::pair<uint8_t, uint16_t>> pedals;  // model, firmware
    std::vector<bool> answers;
    bool enabled;
    uint8_t model;
    int questions;
    int firmwareWrites;
  };
  const Case cases[] = {
      {"no pedal", {}, {}, false, kNoModel, 0, 0},
      {"usable pedal", {{2, 8}}, {}, true, 2, 0, 0},
      {"two models: the lower index wins", {{2, 8}, {0, 8}}, {}, true, 0, 0, 0},
      {"old firmware, declined", {{1, 7}}, {false}, false, 1, 1, 0},
      {"old firmware, accepted", {{1, 7}}, {true}, true, 1, 1, 1},
      {"high byte differs", {{0, 0x0108}}, {false}, false, 0, 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    platform = FakePlatform();
    window = FakeWindow();
    window.answers = c.answers;
    char path[] = "/dev/sda";
    for (auto [model, fw] : c.pedals) {
      path[7] += 1;
      AddPedal(path, model, fw);
    }
    Start();
    EXPECT_EQ(Enabled(), c.enabled);
    EXPECT_EQ(Disabled(), !c.enabled);
    EXPECT_EQ(dialog->Model(), c.model);
    EXPECT_EQ(static_cast<int>(window.questions.size()), c.questions);
    int writes = 0;
    for (auto& [p, pedal] : platform.pedals) {
      writes += pedal.firmwareWrites;
      if (pedal.firmwareWrites) {
        EXPECT_EQ(pedal.writtenImageModelTag, pedal.model);
      }
    }
    EXPECT_EQ(writes, c.firmwareWrites);
    EXPECT_EQ(window.Count("message"), 0);
    EXPECT_EQ(dialog->JobCode(), JobNone);
  }
}

TEST_F(DialogTest, PedalThatCannotBeOpenedSaysSoAndStaysDisabled) {
  AddPedal("/dev/sdb", 0);
  platform.pedals["/dev/sdb"].opens = false;
  Start();
  EXPECT_TRUE(Disabled());
  EXPECT_EQ(window.log[2], "message Device Open Error");
  EXPECT_EQ(window.Count("message"), 1);
}

TEST_F(DialogTest, ExportStoresPathThenJobAndCancelChangesNothing) {
  AddPedal("/dev/sdb", 0);
  Start();
  dialog->OnExport();
  ASSERT_EQ(window.choosers.size(), 1u);
  const FileChooser& c = window.choosers[0];
  EXPECT_TRUE(c.save);
  EXPECT_EQ(c.defaultExtension, "wav");
  EXPECT_EQ(c.initialName, "Rendax");
  EXPECT_EQ(c.filter, "WAVE Files (*.wav))|*.wav||");
  EXPECT_FALSE(c.confirmOverwrite);
  EXPECT_EQ(dialog->JobCode(), JobNone);
  EXPECT_EQ(dialog->ExportPath(), "");

  window.chosenFile = "/home/u/Rendax.wav";
  dialog->OnExport();
  EXPECT_EQ(dialog->ExportPath(), "/home/u/Rendax.wav");
  EXPECT_EQ(dialog->JobCode(), JobExport);
  EXPECT_EQ(state->Snapshot().exportPath, "/home/u/Rendax.wav");
}

TEST_F(DialogTest, ImportAsksFirstAndNoOrCancelChangesNothing) {
  AddPedal("/dev/sdb", 0);
  Start();
  window.chosenFile = "/music/loop.wav";

  window.answers = {false};
  dialog->OnImport();
  EXPECT_TRUE(window.choosers.empty()) << "No at the warning opens no chooser";
  ASSERT_EQ(window.questions.size(), 1u);
  EXPECT_EQ(window.questions[0].first, kImportWarning);
  EXPECT_EQ(window.questions[0].second, " ");
  EXPECT_EQ(dialog->JobCode(), JobNone);

  window.answers = {true};
  window.chosenFile.reset();
  dialog->OnImport();
  ASSERT_EQ(window.choosers.size(), 1u);
  EXPECT_FALSE(window.choosers[0].save);
  EXPECT_EQ(dialog->JobCode(), JobNone);
  EXPECT_EQ(dialog->ImportPath(), "");

  window.answers = {true};
  window.chosenFile = "/music/loop.wav";
  dialog->OnImport();
  EXPECT_EQ(dialog->ImportPath(), "/music/loop.wav");
  EXPECT_EQ(dialog->JobCode(), JobImport);
}

TEST_F(DialogTest, DroppedWavImportsAfterTheWarningOnlyWhenTheButtonWouldWork) {
  Start();  // no pedal: buttons disabled
  window.answers = {true, true, true};
  EXPECT_EQ(dialog->OnDropFile("/a/loop.wav"), 0);
  EXPECT_TRUE(window.questions.empty());

  AddPedal("/dev/sdb", 0);
  dialog->OnDeviceChange(DeviceNotice::VolumeArrival);
  EXPECT_EQ(dialog->OnDropFile("/a/notes.txt"), 0);
  EXPECT_TRUE(window.questions.empty());
  EXPECT_EQ(dialog->OnDropFile("/a/LOOP.WAV"), 1);
  EXPECT_EQ(window.questions.size(), 1u);
  EXPECT_EQ(dialog->ImportPath(), "/a/LOOP.WAV");
  EXPECT_EQ(dialog->JobCode(), JobImport);
  EXPECT_EQ(dialog->OnDropFile("/a/other.wav"), 0) << "a job is pending";
  EXPECT_EQ(dialog->ImportPath(), "/a/LOOP.WAV");
}

TEST_F(DialogTest, SetPosMovesTheBarUnclampedAndWorkerCallsReachTheWindow) {
  AddPedal("/dev/sdb", 0);
  Start();
  frontEnd->ReportProgress(37);
  EXPECT_EQ(window.progress, 37);
  frontEnd->EnableTransferButtons(false);
  EXPECT_EQ(window.log.end()[-2], "enable 1001 0") << "Import first";
  EXPECT_EQ(window.log.end()[-1], "enable 1000 0");
  frontEnd->ShowMessage("Receive Complete");
  EXPECT_EQ(window.log.back(), "message Receive Complete");
  window.answers = {true};
  EXPECT_TRUE(frontEnd->AskYesNo("q", " "));
}

// Every row of the arrival and removal table, from both button states.
TEST_F(DialogTest, ArrivalAndRemovalFollowTheTable) {
  struct Case {
    const char* name;
    bool startWithPedal;  // model 1 pedal at /dev/sdb, usable
    std::function<void(FakePlatform&)> change;
    DeviceNotice notice;
    std::vector<bool> answers;
    bool enabled;
    uint8_t model;
    std::string path;
  };
  const Case cases[] = {
      {"non-volume arrival",
       false,
       [](FakePlatform& p) {
         p.pedals["/dev/sdc"] = {0, 8};
       },
       DeviceNotice::OtherArrival,
       {},
       false,
       kNoModel,
       ""},
      {"memory stick, no pedal",
       false,
       [](FakePlatform&) {},
       DeviceNotice::VolumeArrival,
       {},
       false,
       kNoModel,
       ""},
      {"pedal plugged in",
       false,
       [](FakePlatform& p) {
         p.pedals["/dev/sdc"] = {2, 8};
       },
       DeviceNotice::VolumeArrival,
       {},
       true,
       2,
       "/dev/sdc"},
      {"pedal plugged in, update declined",
       false,
       [](FakePlatform& p) {
         p.pedals["/dev/sdc"] = {2, 3};
       },
       DeviceNotice::VolumeArrival,
       {false},
       false,
       2,
       "/dev/sdc"},
      {"stick while a usable pedal stays",
       true,
       [](FakePlatform&) {},
       DeviceNotice::VolumeArrival,
       {},
       true,
       1,
       "/dev/sdb"},
      {"lower model arrives, declined: buttons keep their state",
       true,
       [](FakePlatform& p) {
         p.pedals["/dev/sda"] = {0, 7};
       },
       DeviceNotice::VolumeArrival,
       {false},
       true,
       0,
       "/dev/sda"},
      {"pedal pulled out",
       true,
       [](FakePlatform& p) { p.pedals["/dev/sdb"].attached = false; },
       DeviceNotice::DeviceRemoval,
       {},
       false,
       1,
       ""},
      {"other device pulled out",
       true,
       [](FakePlatform&) {},
       DeviceNotice::DeviceRemoval,
       {},
       true,
       1,
       "/dev/sdb"},
      {"current pedal moved to another node",
       true,
       [](FakePlatform& p) {
         p.pedals.erase("/dev/sdb");
         p.pedals["/dev/sdd"] = {1, 8};
       },
       DeviceNotice::DeviceRemoval,
       {},
       true,
       1,
       "/dev/sdd"},
      {"removal before any pedal",
       false,
       [](FakePlatform&) {},
       DeviceNotice::DeviceRemoval,
       {},
       false,
       kNoModel,
       ""},
      {"pedal of another model stays while ours goes",
       true,
       [](FakePlatform& p) {
         p.pedals["/dev/sdb"].attached = false;
         p.pedals["/dev/sda"] = {0, 8};
       },
       DeviceNotice::DeviceRemoval,
       {},
       false,
       1,
       ""},
      {"pedal of another model goes, ours stays",
       true,
       [](FakePlatform& p) {
         p.pedals["/dev/sdz"] = {2, 8, false};
       },
       DeviceNotice::DeviceRemoval,
       {},
       true,
       1,
       "/dev/sdb"},
      {"configuration change",
       true,
       [](FakePlatform& p) { p.pedals["/dev/sdb"].attached = false; },
       DeviceNotice::OtherDeviceChange,
       {},
       true,
       1,
       "/dev/sdb"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    platform = FakePlatform();
    window = FakeWindow();
    if (c.startWithPedal) AddPedal("/dev/sdb", 1);
    Start();
    c.change(platform);
    window.answers = c.answers;
    dialog->OnDeviceChange(c.notice);
    EXPECT_EQ(Enabled(), c.enabled);
    EXPECT_EQ(Disabled(), !c.enabled);
    EXPECT_EQ(dialog->Model(), c.model);
    EXPECT_EQ(dialog->PedalPath(), c.path);
    EXPECT_EQ(window.Count("message"), 0);
    EXPECT_EQ(platform.openChannels, 0);
  }
}

TEST_F(DialogTest, NoticesDuringAJobWaitUntilTheWorkerIsIdle) {
  AddPedal("/dev/sdb", 1);
  Start();
  RunningJob();
  int opensBefore = platform.opens;
  platform.pedals["/dev/sdb"].attached = false;
  dialog->OnDeviceChange(DeviceNotice::DeviceRemoval);
  platform.pedals["/dev/sdc"] = {2, 7};
  dialog->OnDeviceChange(DeviceNotice::VolumeArrival);
  dialog->OnDeviceChange(DeviceNotice::OtherDeviceChange);  // ignored, not kept
  EXPECT_EQ(dialog->DeferredNotices(), 2u);
  EXPECT_EQ(dialog->PedalPath(), "/dev/sdb");
  EXPECT_EQ(dialog->Model(), 1);
  EXPECT_TRUE(Enabled());

  window.RunPosted();  // the job still runs: nothing happens, the check is scheduled again
  EXPECT_EQ(dialog->DeferredNotices(), 2u);
  EXPECT_EQ(platform.opens, opensBefore) << "the device object was not touched during the job";
  EXPECT_TRUE(window.questions.empty());
  ASSERT_EQ(window.posted.size(), 1u);

  worker->Finish();
  window.answers = {false};
  window.RunPosted();
  EXPECT_EQ(dialog->DeferredNotices(), 0u);
  EXPECT_TRUE(window.posted.empty());
  // In order: the removal disabled the buttons and emptied the path, then the arrival found the
  // model 2 pedal and asked about its firmware; declined, the buttons stay disabled.
  EXPECT_EQ(window.questions.size(), 1u);
  EXPECT_TRUE(Disabled());
  EXPECT_EQ(dialog->Model(), 2);
  EXPECT_EQ(dialog->PedalPath(), "/dev/sdc");
}

TEST_F(DialogTest, CloseWhileIdleFreesTheDeviceAndEnds) {
  AddPedal("/dev/sdb", 0);
  Start();
  ASSERT_NE(dialog->Device(), nullptr);
  dialog->OnClose();
  EXPECT_EQ(dialog->Device(), nullptr);
  EXPECT_EQ(window.ended, 2);
  EXPECT_TRUE(window.waitNotice.empty());
}

TEST_F(DialogTest, CloseWhileAJobRunsWaitsWithTheDeviceAlive) {
  AddPedal("/dev/sdb", 0);
  Start();
  RunningJob();
  int rounds = 0;
  window.onWait = [&] {
    // The event loop keeps serving the worker while the window waits.
    EXPECT_NE(dialog->Device(), nullptr);
    EXPECT_EQ(window.ended, -1);
    frontEnd->ReportProgress(50 + rounds);
    window.chosenFile = "/x.wav";
    dialog->OnExport();  // refused while closing
    if (++rounds == 3) worker->Finish();
  };
  dialog->OnClose();
  EXPECT_EQ(rounds, 3);
  EXPECT_EQ(window.progress, 52);
  EXPECT_EQ(window.waitNotice, kTransferStillRunning);
  EXPECT_EQ(dialog->Device(), nullptr);
  EXPECT_EQ(window.ended, 2);
  EXPECT_EQ(dialog->JobCode(), JobNone) << "no new job was stored while closing";
  dialog->OnClose();  // Enter after close: nothing more
  EXPECT_EQ(window.ended, 2);
}

TEST_F(DialogTest, CloseDuringTheFirmwareQuestionWaitsForTheCheck) {
  Start();
  AddPedal("/dev/sdb", 0, 7);
  window.answers = {true};
  // The question's nested event loop lets a close request through while the check holds the
  // device object.
  window.onAsk = [&] {
    dialog->OnClose();
    EXPECT_NE(dialog->Device(), nullptr);
    EXPECT_EQ(window.ended, -1);
  };
  dialog->OnDeviceChange(DeviceNotice::VolumeArrival);
  EXPECT_EQ(platform.pedals["/dev/sdb"].firmwareWrites, 1);
  EXPECT_EQ(dialog->Device(), nullptr) << "closed once the check was done";
  EXPECT_EQ(window.ended, 2);
}

}  // namespace
}  // namespace rendax
