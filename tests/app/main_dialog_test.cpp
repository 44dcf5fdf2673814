// SPDX-License-Identifier: GPL-3.0-or-later
// The main dialog's logic against a fake window, scripted pedals and a fake worker.
#include "app/main_dialog.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <vector>

#include "app/about.h"
#include "audio/sample_pages.h"
#include "device/commands.h"
#include "device/discovery.h"
#include "device/firmware_check.h"
#include "tests/app/wav_file.h"
#include "tests/support/wait.h"

namespace rendax {
namespace {

struct FakePedal {
  uint8_t model = 0;
  uint16_t firmware = 8;
  bool attached = true;
  bool opens = true;
  bool readable = true;       // answers GetFirmwareVersion
  int imageWritten = -1;      // the model whose image the pedal received
  uint32_t loopBytes = 6144;  // the loop record's length (0: no loop)
};

// Each path is one pedal; commands answer the firmware version and take an image.
class FakePlatform : public DevicePlatform {
 public:
  std::map<std::string, FakePedal> pedals;
  int opens = 0, openChannels = 0;

  // "+sdc:2:7" attaches a model 2 pedal with firmware 7 at /dev/sdc ("+sdc:2:?" one whose
  // firmware cannot be read, "+sdc:2:8e" one without a loop), "-sdb" pulls /dev/sdb out.
  void Apply(const std::string& script) {
    std::istringstream in(script);
    for (std::string op; in >> op;) {
      std::string path = "/dev/" + op.substr(1, 3);
      if (op[0] == '-') pedals[path].attached = false;
      if (op[0] == '+') {
        const bool readable = op[7] != '?';
        pedals[path] = {uint8_t(op[5] - '0'), uint16_t(readable ? std::stoi(op.substr(7)) : 0)};
        pedals[path].readable = readable;
        if (op.back() == 'e') pedals[path].loopBytes = 0;
      }
    }
  }
  bool ListCandidates(std::vector<std::string>& paths, std::string&) override {
    for (auto& [path, p] : pedals) {
      if (p.attached) paths.push_back(path);
    }
    return true;
  }
  std::optional<StorageIdentity> Identify(const std::string& path) override {
    const PedalModel& m = ModelInfo(pedals.at(path).model);
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
  bool IsSimulated() const override { return true; }  // takes development images
  PassThroughResult Execute(const PassThroughRequest& r) override {
    auto* data = static_cast<uint8_t*>(r.data);
    PassThroughResult result;
    result.outcome = CommandOutcome::Good;
    if (r.cdb[1] == 0x01 && !pedal_.readable) {
      result.outcome = CommandOutcome::ScsiStatus;
      result.scsiStatus = kScsiStatusCheckCondition;
      result.senseLength = 14;
      result.sense[0] = 0x70, result.sense[2] = 0x04, result.sense[12] = 0x44;
      return result;
    }
    if (r.cdb[1] == 0x01) data[0] = pedal_.firmware & 0xFF, data[1] = pedal_.firmware >> 8;
    if (r.cdb[1] == 0xFE && r.cdb[4] == 1) {
      const auto record = EncodeLoopInfo(LoopInfo{0, pedal_.loopBytes});
      std::copy(record.begin(), record.end(), data);
    }
    for (uint8_t m = 0; r.cdb[1] == 0x02 && m < kModelCount; ++m) {
      auto image = FirmwareImage(m);
      if (std::equal(image.begin(), image.end(), data)) pedal_.imageWritten = m;
    }
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

// Records what the dialog asked of the window and answers from a script.
class FakeWindow : public WindowLayer {
 public:
  std::vector<std::string> log;
  std::map<int, bool> enabled;
  int progress = -1, rangeLow = -1, rangeHigh = -1, ended = -1;
  std::vector<bool> answers;  // Yes/No, in order; No when none is left
  std::vector<std::pair<std::string, std::string>> questions;
  std::vector<std::string> offered;  // the check box each question came with, "" for none
  bool tick = false;                 // what the user leaves a check box at
  std::optional<std::string> chosenFile;
  std::vector<FileChooser> choosers;
  std::vector<std::function<void()>> posted;
  std::function<void()> onWait, onAsk;  // what happens inside the nested event loops
  std::string waitNotice;
  std::vector<std::string> details;  // of each message
  std::vector<MessageKind> kinds;
  StatusLine status;
  std::vector<std::string> choices;
  int selected = -1;
  bool cancelShown = false, verifyChecked = false;
  int replacing = 0;        // questions asked before the loop is replaced
  std::size_t outline = 0;  // slices of the loop drawn, 0 for the picture
  std::chrono::steady_clock::time_point now{};

  int RunModal(CSdkManager_MFCDlg& dialog) override {
    const int focus = dialog.OnInitDialog();
    log.push_back("shown");
    dialog.OnShown();
    return focus;
  }
  void EndDialog(int result) override { ended = result; }
  void AppendAboutItem(const std::string& text) override { log.push_back("about-item " + text); }
  void AppendRestoreItem(const std::string& text) override {
    log.push_back("restore-item " + text);
  }
  void ShowAbout() override { log.push_back("about"); }
  void AppendVerifyItem(const std::string& text, bool checked) override {
    log.push_back("verify-item " + text);
    verifyChecked = checked;
  }
  void CheckVerifyItem(bool checked) override { verifyChecked = checked; }
  void SetStatus(const StatusLine& line) override { status = line; }
  void SetPedalChoices(const std::vector<std::string>& labels, int index) override {
    choices = labels, selected = index;
  }
  void ShowCancel(bool show) override { cancelShown = show; }
  void ShowLoopOutline(const LoopOutline& o) override { outline = o.low.size(); }
  std::chrono::steady_clock::time_point Now() const override { return now; }
  bool AskBeforeReplacing(const std::string& text, QuestionOption* option) override {
    ++replacing;
    return option ? AskYesNoWithOption(text, kAppName, *option) : AskYesNo(text, kAppName);
  }
  void SetIcons(int group) override { log.push_back("icons " + std::to_string(group)); }
  void EnableControl(int control, bool on) override {
    enabled[control] = on;
    log.push_back("enable " + std::to_string(control) + " " + std::to_string(on));
  }
  void SetProgressRange(int low, int high) override { rangeLow = low, rangeHigh = high; }
  void SetProgressPos(int pos) override { progress = pos; }
  void LoadButtonFaces(int control, const ButtonFaces& f) override {
    log.push_back("faces " + std::to_string(control) + " " + std::to_string(f.normal));
  }
  void ShowMessage(const std::string& text, const std::string& detail, MessageKind kind) override {
    log.push_back("message " + text);
    details.push_back(detail);
    kinds.push_back(kind);
  }
  bool AskYesNoWithOption(const std::string& text, const std::string& caption,
                          QuestionOption& option) override {
    const bool yes = AskYesNo(text, caption);
    offered.back() = option.text;
    option.checked = tick;
    return yes;
  }
  bool AskYesNo(const std::string& text, const std::string& caption) override {
    questions.emplace_back(text, caption);
    offered.push_back("");
    if (onAsk) onAsk();
    bool yes = !answers.empty() && answers.front();
    if (!answers.empty()) answers.erase(answers.begin());
    return yes;
  }
  std::optional<std::string> ChooseFile(const FileChooser& chooser) override {
    choosers.push_back(chooser);
    return chosenFile;
  }
  void SendToWindow(const std::function<void()>& call) override { call(); }
  void PostDelayed(int, std::function<void()> call) override { posted.push_back(call); }
  void WaitUntil(const std::string& notice, const std::function<bool()>& done) override {
    waitNotice = notice;
    EXPECT_TRUE(testing::WaitUntil(done, testing::kWaitBound, "the end of the close's wait",
                                   [this] { onWait(); }));
  }
  void RunPosted() {
    auto calls = std::move(posted);
    posted.clear();
    for (auto& c : calls) c();
  }
  int Messages() const {
    return int(std::count_if(log.begin(), log.end(), [](auto& l) { return l[0] == 'm'; }));
  }
};

class FakeWorker : public JobWorker {
 public:
  explicit FakeWorker(TransferState& state) : state_(state) {}
  void Start() override { ++starts; }
  void Stop() override {}
  bool Busy() const override { return busy || state_.jobCode.load() != JobNone; }
  void Finish() { busy = false, state_.jobCode.store(JobNone); }
  int starts = 0;
  bool busy = false;

 private:
  TransferState& state_;
};

// A plain PCM WAV in the test's folder; returns its path.
std::string MakeWav(const std::string& name, uint32_t rate, uint16_t bits, uint16_t channels) {
  const std::filesystem::path dir = ::testing::TempDir() + "rendax-dialog-files";
  return testing::WriteRampWav(dir / name, rate, bits, channels).string();
}

class DialogTest : public ::testing::Test {
 protected:
  // No test here reads or writes the real backups: they would live in a folder that is not there.
  static void SetUpTestSuite() {
#ifdef _WIN32
    _putenv_s("RENDAX_BACKUP_DIR", kNoBackups.c_str());
#else
    setenv("RENDAX_BACKUP_DIR", kNoBackups.c_str(), 1);
#endif
  }
  static inline const std::string kNoBackups = ::testing::TempDir() + "rendax-dialog-no-backups";

  void Start(const std::string& pedals = "", std::vector<bool> answers = {}) {
    platform = FakePlatform();
    window = FakeWindow();
    platform.Apply(pedals);
    for (auto& [path, pedal] : platform.pedals) {
      if (pedal.model == 1 && twinLoop && pedal.loopBytes) pedal.loopBytes = twinLoop;
    }
    window.answers = std::move(answers);
    dialog = std::make_unique<CSdkManager_MFCDlg>(
        window, platform,
        [this](TransferState& s, CDevice&, WavFormat&, ResampleState&, JobFrontEnd& ui) {
          auto w = std::make_unique<FakeWorker>(s);
          worker = w.get(), state = &s, frontEnd = &ui;
          return w;
        });
    window.RunModal(*dialog);
  }
  // Both buttons enabled (1), both disabled (0), Export only (2) or Import only (3).
  int Buttons() {
    bool e = window.enabled[kExportButton], i = window.enabled[kImportButton];
    return e == i ? int(e) : e ? 2 : 3;
  }
  void RunningJob() {
    state->jobCode.store(JobExport), worker->busy = true;
  }

  FakePlatform platform;
  FakeWindow window;
  std::unique_ptr<CSdkManager_MFCDlg> dialog;
  FakeWorker* worker = nullptr;
  TransferState* state = nullptr;
  JobFrontEnd* frontEnd = nullptr;
  uint32_t twinLoop = 0;  // the loop a model 1 pedal holds, in stream bytes (0: the default)
};

TEST_F(DialogTest, StartUp) {
  Start("+sdb:1:8");
  EXPECT_EQ(window.log,
            (std::vector<std::string>{std::string("verify-item ") + kVerifyMenuText,
                                      std::string("restore-item ") + kRestoreMenuText,
                                      std::string("about-item ") + kAboutMenuText.english,
                                      "icons 160", "enable 1003 0", "enable 1001 0",
                                      "enable 1000 0", "faces 1000 151", "faces 1001 159",
                                      // The firmware is checked over the window on screen.
                                      "shown", "enable 1003 1", "enable 1001 1", "enable 1000 1"}));
  EXPECT_EQ(dialog->PedalPath(), "/dev/sdb");
  EXPECT_EQ(window.rangeLow, 0);
  EXPECT_EQ(window.rangeHigh, 100);
  EXPECT_EQ(worker->starts, 1);

  struct Case {
    const char* pedals;
    std::vector<bool> answers;
    int buttons;
    uint8_t model;
    int questions, messages, image;
  };
  const Case cases[] = {
      {"", {}, 0, kNoModel, 0, 0, -1},            // no pedal
      {"+sdb:2:8", {}, 1, 2, 0, 0, -1},           // usable pedal
      {"+sdb:2:8 +sdc:0:8", {}, 1, 0, 0, 0, -1},  // two models: the lower index wins
      {"+sdb:1:7", {false}, 2, 1, 1, 0, -1},      // old firmware, declined: the loop can be saved
      {"+sdb:1:7e", {true}, 3, 1, 1, 0, 1},       // accepted: model 1's image written
      {"+sdb:0:264", {false}, 2, 0, 1, 0, -1},    // 08 01: the high byte counts
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.pedals + std::string(" answers ") + std::to_string(c.answers.size()));
    Start(c.pedals, c.answers);
    EXPECT_EQ(Buttons(), c.buttons);
    EXPECT_EQ(dialog->Model(), c.model);
    EXPECT_EQ(int(window.questions.size()), c.questions);
    EXPECT_EQ(window.Messages(), c.messages);
    int image = -1;
    for (auto& [path, p] : platform.pedals) image = std::max(image, p.imageWritten);
    EXPECT_EQ(image, c.image);
    EXPECT_EQ(dialog->JobCode(), JobNone);
    EXPECT_EQ(platform.openChannels, 0) << "the check leaves the pedal closed";
  }

  Start("");  // a pedal that cannot be opened says so and stays disabled
  platform.Apply("+sdb:0:8");
  platform.pedals["/dev/sdb"].opens = false;
  dialog->OnDeviceChange(HotplugNotice::VolumeArrival);
  EXPECT_EQ(window.log.back(), "message Device Open Error");
  EXPECT_EQ(Buttons(), 0);
}

TEST_F(DialogTest, ExportAndImportStoreThePathThenTheJob) {
  Start("+sdb:0:8");
  dialog->OnExport();  // cancelled
  ASSERT_EQ(window.choosers.size(), 1u);
  const FileChooser& save = window.choosers[0];
  EXPECT_TRUE(save.save);
  EXPECT_EQ(save.defaultExtension, "wav");
  EXPECT_EQ(save.initialName, "Rendax");
  EXPECT_EQ(save.filter, kWaveFilter);
  EXPECT_TRUE(save.confirmOverwrite) << "an existing file is replaced only when the user says so";
  EXPECT_EQ(dialog->JobCode(), JobNone);

  window.chosenFile = "/home/u/Rendax.wav";
  state->cancel = true;  // asked of a job that has ended
  dialog->OnExport();
  EXPECT_EQ(state->Snapshot().exportPath, "/home/u/Rendax.wav");
  EXPECT_EQ(dialog->JobCode(), JobExport);
  EXPECT_FALSE(state->cancel) << "an earlier stop would end the new job at once";

  Start("+sdb:0:8");
  const std::string loop = MakeWav("loop.wav", 48000, 16, 1);
  window.chosenFile = loop;
  dialog->OnImport();  // No at the warning: no chooser
  EXPECT_TRUE(window.choosers.empty());
  ASSERT_EQ(window.questions.size(), 1u);
  EXPECT_EQ(window.questions[0],
            std::make_pair(
                std::string("Warning: It will delete the existing content of Rendax (sdb). Do you "
                            "want to continue?"),
                std::string(kAppName)));
  EXPECT_EQ(window.replacing, 1) << "the warning is the question whose safe answer is No";
  window.answers = {true};
  window.chosenFile.reset();
  dialog->OnImport();  // Yes, then the chooser is cancelled
  ASSERT_EQ(window.choosers.size(), 1u);
  EXPECT_FALSE(window.choosers[0].save);
  EXPECT_EQ(dialog->JobCode(), JobNone);
  EXPECT_EQ(dialog->ImportPath(), "");
  window.answers = {true};
  window.chosenFile = loop;
  dialog->OnImport();
  EXPECT_EQ(window.questions.size(), 3u) << "a mono file as it is: no second question";
  EXPECT_EQ(dialog->ImportPath(), loop);
  EXPECT_EQ(dialog->JobCode(), JobImport);
}

TEST_F(DialogTest, DroppedFileImportsOnlyWhenTheImportButtonWould) {
  Start();  // no pedal
  window.answers = {true, true, true};
  const std::string loop = MakeWav("LOOP.WAV", 44100, 24, 1);
  EXPECT_EQ(dialog->OnDropFile(loop), 0);
  platform.Apply("+sdb:0:8");
  dialog->OnDeviceChange(HotplugNotice::VolumeArrival);
  EXPECT_TRUE(dialog->AcceptsDrop("/a/take.FLAC"));
  EXPECT_FALSE(dialog->AcceptsDrop("/a.flac/take")) << "the name's own extension counts";
  EXPECT_EQ(dialog->OnDropFile("/a/notes.txt"), 0);
  EXPECT_TRUE(window.questions.empty()) << "refused drops ask nothing";
  EXPECT_EQ(dialog->OnDropFile(loop), 1);
  EXPECT_EQ(window.questions.size(), 1u) << "the warning comes first";
  EXPECT_EQ(dialog->JobCode(), JobImport);
  EXPECT_EQ(dialog->OnDropFile(MakeWav("other.wav", 44100, 24, 1)), 0) << "a job is pending";
  EXPECT_EQ(dialog->ImportPath(), loop);
}

TEST_F(DialogTest, AnImportFileIsCheckedFirstAndItsQuestionSaysHowItGoesIn) {
  const std::string high = MakeWav("high.wav", 96000, 24, 2);  // converted
  const std::string stereo = MakeWav("stereo.wav", 48000, 16, 2);
  const std::string junk = ::testing::TempDir() + "rendax-dialog-files/junk.wav";
  std::ofstream(junk) << "not audio at all, only words";
  const std::string converted =
      "WAV, 96,000 Hz, 24-bit, stereo will be converted to 48,000 Hz, 24-bit, stereo.";
  const std::string firstChannel =
      "The file is stereo and the Rendax has one channel: the first channel goes in unless both "
      "are summed.";
  const std::string mono = MakeWav("mono.wav", 48000, 16, 1);
  const std::string leftOnly =
      "The file has one channel and the Rendax Twin has two: it plays on the left side only "
      "unless it goes on both sides.";
  // Each question before a write names the pedal it replaces the loop of.
  const std::string twin =
      "Warning: It will delete the existing content of Rendax Twin (sdb). Do you want to continue?";
  const std::string one =
      "Warning: It will delete the existing content of Rendax (sdb). Do you want to continue?";
  struct Case {
    const char* what;
    bool button;  // the Import button (warning, chooser, then what the file needs) or a drop
    const char* pedal;
    std::string file;
    std::string asked;   // the questions, split by " | "
    std::string option;  // the check box the last question offers; the user ticks it
    bool job;            // else the file's message instead of a question about it
  };
  const Case cases[] = {
      {"dropped, converted", false, "+sdb:1:8", high, twin + "\n\n" + converted, "", true},
      {"dropped, refused", false, "+sdb:0:8", junk, "", "", false},
      {"dropped stereo into mono", false, "+sdb:0:8", stereo, one + "\n\n" + firstChannel,
       kSumChannelsOption, true},
      {"chosen, converted", true, "+sdb:1:8", high, twin + " | " + converted + " Continue?", "",
       true},
      {"chosen stereo into mono", true, "+sdb:0:8", stereo,
       one + " | " + firstChannel + " Continue?", kSumChannelsOption, true},
      {"chosen mono into the twin", true, "+sdb:1:8", mono, twin + " | " + leftOnly + " Continue?",
       kBothChannelsOption, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Start(c.pedal, {true, true});
    window.tick = true;
    if (c.button) {
      window.chosenFile = c.file;
      dialog->OnImport();
    } else {
      EXPECT_EQ(dialog->OnDropFile(c.file), int(c.job));
    }
    std::string asked;
    for (const auto& [text, caption] : window.questions) {
      asked += (asked.empty() ? "" : " | ") + text;
    }
    EXPECT_EQ(asked, c.asked);
    EXPECT_EQ(window.offered.empty() ? "" : window.offered.back(), c.option);
    EXPECT_EQ(window.Messages(), int(!c.job));
    EXPECT_TRUE(c.job || !window.details.back().empty()) << "the message says what is wrong";
    EXPECT_EQ(dialog->JobCode(), c.job ? JobImport : JobNone);
    EXPECT_EQ(dialog->ImportPath(), c.job ? c.file : "");
    EXPECT_EQ(dialog->Mix(), c.option == kSumChannelsOption);
    EXPECT_EQ(state->Snapshot().both, c.option == kBothChannelsOption);
  }
}

TEST_F(DialogTest, RestoreItemIsRefusedWhenImportIsAndSaysWhenThereIsNothingToRestore) {
  struct Case {
    const char* what;
    const char* pedals;
    bool running;
    const char* message;  // "" for none
  };
  const Case cases[] = {
      {"no pedal", "", false, ""},
      {"a transfer is under way", "+sdb:0:8", true, ""},
      {"no backup of the model", "+sdb:0:8", false, kNoBackupYet},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Start(c.pedals, {true});
    if (c.running) RunningJob();
    const int32_t before = dialog->JobCode();
    dialog->OnRestoreLastBackup();
    EXPECT_TRUE(window.questions.empty()) << "nothing to confirm";
    EXPECT_EQ(dialog->JobCode(), before);
    EXPECT_EQ(dialog->ImportPath(), "");
    if (*c.message) {
      EXPECT_EQ(window.log.back(), std::string("message ") + c.message);
      EXPECT_EQ(window.details.back(), kNoBackups) << "the folder looked in";
    } else {
      EXPECT_EQ(window.Messages(), 0);
    }
  }
}

TEST_F(DialogTest, WorkerCallsReachTheWindow) {
  Start("+sdb:0:8");
  frontEnd->ReportProgress(37);
  EXPECT_EQ(window.progress, 37);
  frontEnd->EnableTransferButtons(false);
  EXPECT_EQ(window.log.end()[-2], "enable 1001 0") << "Import first";
  EXPECT_EQ(window.log.end()[-1], "enable 1000 0");
  frontEnd->ShowMessage(kMsgReceiveComplete);
  EXPECT_EQ(window.log.back(), std::string("message ") + kMsgReceiveComplete);
}

TEST_F(DialogTest, ArrivalAndRemoval) {
  using N = HotplugNotice;
  struct Case {
    const char* start;  // a usable model 1 pedal at /dev/sdb, or none
    const char* change;
    N notice;
    std::vector<bool> answers;
    int buttons;
    uint8_t model;
    const char* path;
  };
  const Case cases[] = {
      {"", "", N::VolumeArrival, {}, 0, kNoModel, ""},           // a memory stick
      {"", "+sdc:2:8", N::VolumeArrival, {}, 1, 2, "/dev/sdc"},  // pedal plugged in
      {"", "+sdc:2:3", N::VolumeArrival, {false}, 2, 2, "/dev/sdc"},
      {"+sdb:1:8", "", N::VolumeArrival, {}, 1, 1, "/dev/sdb"},  // stick beside the pedal
      // A lower model arrives beside the pedal in use: offered, not taken over to.
      {"+sdb:1:8", "+sda:0:7", N::VolumeArrival, {}, 1, 1, "/dev/sdb"},
      {"+sdb:1:8", "-sdb", N::DeviceRemoval, {}, 0, 1, ""},                   // pedal pulled out
      {"+sdb:1:8", "", N::DeviceRemoval, {}, 1, 1, "/dev/sdb"},               // something else went
      {"+sdb:1:8", "-sdb +sdd:1:8", N::DeviceRemoval, {}, 1, 1, "/dev/sdd"},  // new node
      {"", "", N::DeviceRemoval, {}, 0, kNoModel, ""},                        // before any pedal
      // Another model's pedal never takes over the path of the current model's.
      {"+sdb:1:8", "-sdb +sda:0:8", N::DeviceRemoval, {}, 0, 1, ""},
      {"+sdb:1:8 +sdz:2:8", "-sdz", N::DeviceRemoval, {}, 1, 1, "/dev/sdb"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.start) + " | " + c.change + " | " + std::to_string(int(c.notice)));
    Start(c.start);
    platform.Apply(c.change);
    window.answers = c.answers;
    dialog->OnDeviceChange(c.notice);
    EXPECT_EQ(Buttons(), c.buttons);
    EXPECT_EQ(dialog->Model(), c.model);
    EXPECT_EQ(dialog->PedalPath(), c.path);
    EXPECT_EQ(window.Messages(), 0);
    EXPECT_EQ(platform.openChannels, 0);
  }
}

TEST_F(DialogTest, NoticesDuringAJobWaitUntilTheWorkerIsIdle) {
  Start("+sdb:1:8");
  RunningJob();
  int opensBefore = platform.opens;
  platform.Apply("-sdb");
  dialog->OnDeviceChange(HotplugNotice::DeviceRemoval);
  platform.Apply("+sdc:2:7");
  dialog->OnDeviceChange(HotplugNotice::VolumeArrival);
  EXPECT_EQ(dialog->DeferredNotices(), 2u);
  window.RunPosted();  // the job still runs: looked at again later
  EXPECT_EQ(dialog->DeferredNotices(), 2u);
  EXPECT_EQ(platform.opens, opensBefore) << "the device object is the job's";
  EXPECT_EQ(dialog->PedalPath(), "/dev/sdb");
  EXPECT_EQ(Buttons(), 1);
  ASSERT_EQ(window.posted.size(), 1u);

  worker->Finish();
  window.answers = {false};
  window.RunPosted();
  EXPECT_EQ(dialog->DeferredNotices(), 0u);
  // In order: the removal disabled the buttons, then the arrival found the model 2 pedal and
  // asked about its firmware; declined, only its loop can be read.
  EXPECT_EQ(window.questions.size(), 1u);
  EXPECT_EQ(Buttons(), 2);
  EXPECT_EQ(dialog->Model(), 2);
  EXPECT_EQ(dialog->PedalPath(), "/dev/sdc");
}

TEST_F(DialogTest, CloseFreesTheDeviceOnlyWhenNothingUsesIt) {
  Start("+sdb:0:8");
  dialog->OnClose();  // idle: at once
  EXPECT_EQ(dialog->Device(), nullptr);
  EXPECT_EQ(window.ended, 2);
  EXPECT_TRUE(window.waitNotice.empty());

  Start("+sdb:0:8");
  RunningJob();
  int rounds = 0;
  window.onWait = [&] {
    // The event loop keeps serving the worker while the window waits.
    EXPECT_NE(dialog->Device(), nullptr);
    EXPECT_EQ(window.ended, -1);
    frontEnd->ReportProgress(50 + rounds);
    window.chosenFile = "/x.wav";
    dialog->OnExport();  // no new job while closing
    if (++rounds == 3) worker->Finish();
  };
  dialog->OnClose();
  EXPECT_EQ(window.progress, 52);
  EXPECT_EQ(window.waitNotice, kTransferStillRunning);
  EXPECT_EQ(dialog->Device(), nullptr);
  EXPECT_EQ(window.ended, 2);
  EXPECT_EQ(dialog->JobCode(), JobNone);

  // A close that comes while the firmware question is open waits for the check to finish.
  Start();
  platform.Apply("+sdb:0:7e");
  window.answers = {true};
  window.onAsk = [&] {
    dialog->OnClose();
    EXPECT_NE(dialog->Device(), nullptr);
  };
  dialog->OnDeviceChange(HotplugNotice::VolumeArrival);
  EXPECT_EQ(platform.pedals["/dev/sdb"].imageWritten, 0);
  EXPECT_EQ(dialog->Device(), nullptr);
  EXPECT_EQ(window.ended, 2);
}

TEST_F(DialogTest, StatusLineAndSelectorSayWhichPedalAndWhatIsOnIt) {
  twinLoop = uint32_t(StreamBytesForFrames(42 * kPedalFrameRate, 2));
  struct Case {
    const char* what;
    const char* pedals;
    std::vector<bool> answers;
    const char* change;  // then an arrival ("" for none)
    std::string text, link;
    std::vector<std::string> choices;
    int selected;
  };
  const std::string dot = " \u00b7 ";
  const Case cases[] = {
      {"none", "", {}, "", kPlugInPedal, "", {}, -1},
      {"one with a loop",
       "+sdb:1:8",
       {},
       "",
       "Rendax Twin" + dot + "firmware 8" + dot + "loop 0:42",
       "",
       {"Rendax Twin" + dot + "sdb"},
       0},
      {"update declined",
       "+sdb:1:7",
       {false},
       "",
       "Firmware 7 needs updating \u2014",
       kUpdateLink,
       {"Rendax Twin" + dot + "sdb"},
       0},
      {"declined: a stick does not ask again",
       "+sdb:1:7",
       {false, true},
       "",
       "Firmware 7 needs updating \u2014",
       kUpdateLink,
       {"Rendax Twin" + dot + "sdb"},
       0},
      {"two: model order",
       "+sdb:1:8 +sdc:0:8e",
       {},
       "",
       "Rendax" + dot + "firmware 8" + dot + "no loop",
       "",
       {"Rendax Twin" + dot + "sdb", "Rendax" + dot + "sdc"},
       1},
      {"the other model left over",
       "+sdb:1:8 +sdc:0:8",
       {},
       "-sdc",
       "Rendax Twin" + dot + "firmware 8" + dot + "loop 0:42",
       "",
       {"Rendax Twin" + dot + "sdb"},
       0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Start(c.pedals, c.answers);
    if (*c.change) {
      platform.Apply(c.change);
      dialog->OnDeviceChange(HotplugNotice::DeviceRemoval);
      dialog->OnDeviceChange(HotplugNotice::VolumeArrival);
    } else {
      dialog->OnDeviceChange(HotplugNotice::VolumeArrival);  // e.g. a memory stick
    }
    EXPECT_EQ(window.status.text, c.text);
    EXPECT_EQ(window.status.link, c.link);
    EXPECT_EQ(window.choices, c.choices);
    EXPECT_EQ(window.selected, c.selected);
    EXPECT_LE(window.questions.size(), 1u) << "the firmware question comes once per plug-in";
  }

  // The link asks again; Yes makes the pedal usable (it holds no loop to export).
  Start("+sdb:1:7e", {false});
  window.answers = {true};
  dialog->OnStatusLink();
  EXPECT_EQ(window.questions.size(), 2u);
  EXPECT_EQ(Buttons(), 3);
  EXPECT_EQ(window.status.link, "");

  // The user's choice holds over an arrival that would otherwise pick model 0.
  Start("+sdb:1:8 +sdc:2:8");
  dialog->OnChoosePedal(1);
  EXPECT_EQ(dialog->PedalPath(), "/dev/sdc");
  EXPECT_EQ(dialog->Model(), 2);
  platform.Apply("+sda:0:8");
  dialog->OnDeviceChange(HotplugNotice::VolumeArrival);
  EXPECT_EQ(dialog->PedalPath(), "/dev/sdc");
  EXPECT_EQ(window.choices.size(), 3u);
  EXPECT_EQ(window.selected, 2);
}

TEST_F(DialogTest, AJobShowsItsStageTimeLeftAndCancelThenTheLoop) {
  Start("+sdb:1:8");
  EXPECT_TRUE(window.verifyChecked);
  EXPECT_TRUE(state->Snapshot().verify) << "the window verifies every import by default";
  EXPECT_TRUE(state->Snapshot().restoreOnCancel);
  dialog->OnToggleVerify();
  EXPECT_FALSE(window.verifyChecked);
  EXPECT_FALSE(state->Snapshot().verify);
  dialog->OnToggleVerify();

  window.chosenFile = "/home/u/take.wav";
  dialog->OnExport();
  EXPECT_TRUE(window.cancelShown);
  EXPECT_FALSE(window.enabled[kPedalSelector]) << "no other pedal while the job runs";
  EXPECT_EQ(window.status.text, "Exporting");
  using S = JobFrontEnd::Stage;
  const auto report = [&](S stage, uint64_t done, uint64_t total) {
    ProgressReport r;
    r.stage = stage, r.done = r.passDone = done, r.total = r.passTotal = total;
    r.planned = true;
    frontEnd->ReportStage(r);
  };
  report(S::Export, 0, 40'000'000);
  window.now += std::chrono::seconds(3);
  report(S::Export, 12'000'000, 40'000'000);
  EXPECT_EQ(window.status.text, "Exporting \u00b7 12 MB of 40 MB \u00b7 0:07 left");
  dialog->OnCancel();
  EXPECT_TRUE(state->cancel);
  EXPECT_FALSE(window.cancelShown);
  EXPECT_EQ(window.status.text, "Cancelling \u00b7 12 MB of 40 MB") << "no time left to promise";
  window.now += std::chrono::seconds(5);
  report(S::Restore, 100'000, 4'000'000);
  EXPECT_EQ(window.status.text, "Putting the earlier loop back \u00b7 0.1 MB of 4.0 MB")
      << "a pass of its own, no time before its own second";
  LoopOutline outline;
  outline.low.assign(360, -0.5f), outline.high.assign(360, 0.5f);
  frontEnd->ReportLoop(outline);
  EXPECT_EQ(window.outline, 360u);

  window.RunPosted();  // still running
  EXPECT_FALSE(window.enabled[kPedalSelector]);
  worker->Finish();
  platform.pedals["/dev/sdb"].loopBytes = uint32_t(StreamBytesForFrames(kPedalFrameRate, 2));
  window.RunPosted();
  EXPECT_TRUE(window.enabled[kPedalSelector]);
  EXPECT_EQ(window.status.text, "Rendax Twin \u00b7 firmware 8 \u00b7 loop 0:01")
      << "the loop record is read again after the job";

  // Reading the loop back only checks what is already on the pedal: nothing to cancel.
  dialog->OnExport();
  EXPECT_TRUE(window.cancelShown);
  report(S::Verify, 0, 4'000'000);
  EXPECT_FALSE(window.cancelShown);
  dialog->OnCancel();
  EXPECT_FALSE(state->cancel);
  worker->Finish();
  window.RunPosted();

  platform.Apply("-sdb");
  dialog->OnDeviceChange(HotplugNotice::DeviceRemoval);
  EXPECT_EQ(window.outline, 0u) << "the drawn loop leaves with its pedal";
  EXPECT_EQ(window.status.text, kPlugInPedal);
}

TEST_F(DialogTest, TheButtonsFollowWhatTheChosenPedalAllowsHoweverItWasChosen) {
  struct Row {
    const char* what;
    // The pedals at start-up, "|", then pedals plugged in ("+") or pulled out ("-") and the
    // steps: "arrival", "removal", "use" (the status line's link), "pick:/dev/sdc".
    const char* script;
    const char* answers;  // to the firmware questions, one letter each: "y" or "n"
    const char* chosen;
    int buttons;  // as Buttons()
    const char* link;
  };
  const Row rows[] = {
      {"removal hands over: checked, declined", "+sdb:1:8 +sdc:1:7 | -sdb removal", "n", "/dev/sdc",
       2, kUpdateLink},
      {"removal hands over: checked, updated", "+sdb:1:8 +sdc:1:7e | -sdb removal", "y", "/dev/sdc",
       3, ""},
      {"removal hands over: unreadable", "+sdb:1:8 +sdc:1:? | -sdb removal", "", "/dev/sdc", 0,
       "Try again"},
      {"the first pick counts as a choice", "+sdc:2:8 | +sda:0:? arrival", "", "/dev/sdc", 1,
       "Use it"},
      {"Use it checks the pedal offered: unreadable", "+sdc:2:8 | +sda:0:? arrival use", "",
       "/dev/sda", 0, "Try again"},
      {"Use it: older, declined", "+sdc:2:8 | +sda:0:7 arrival use", "n", "/dev/sda", 2,
       kUpdateLink},
      {"the user's pick: firmware ok", "+sdb:1:8 +sdc:2:8 | pick:/dev/sdc", "", "/dev/sdc", 1, ""},
      {"the user's pick: older, declined", "+sdb:1:8 +sdc:2:7 | pick:/dev/sdc", "n", "/dev/sdc", 2,
       kUpdateLink},
      {"the first arrival: unreadable", "| +sdb:1:? arrival", "", "/dev/sdb", 0, "Try again"},
      {"a pedal without a loop has nothing to export", "| +sdb:2:8e arrival", "", "/dev/sdb", 3,
       ""},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    const std::string script = row.script;
    const auto bar = script.find('|');
    Start(script.substr(0, bar));
    window.questions.clear();
    for (const char* a = row.answers; *a; ++a) window.answers.push_back(*a == 'y');
    std::istringstream steps(script.substr(bar + 1));
    for (std::string step; steps >> step;) {
      if (step[0] == '+' || step[0] == '-') platform.Apply(step);
      if (step == "arrival") dialog->OnDeviceChange(HotplugNotice::VolumeArrival);
      if (step == "removal") dialog->OnDeviceChange(HotplugNotice::DeviceRemoval);
      if (step == "use") dialog->OnStatusLink();
      const auto& pedals = dialog->Tracker().Pedals();
      for (std::size_t i = 0; step.starts_with("pick:") && i < pedals.size(); ++i) {
        if (pedals[i].path == step.substr(5)) dialog->OnChoosePedal(int(i));
      }
    }
    const TrackedPedal* chosen = dialog->Tracker().Chosen();
    ASSERT_NE(chosen, nullptr);
    EXPECT_EQ(chosen->path, row.chosen);
    EXPECT_EQ(window.questions.size(), std::strlen(row.answers)) << "checked once it is chosen";
    EXPECT_EQ(Buttons(), row.buttons);
    EXPECT_EQ(window.status.link, row.link);
    // Whatever made it the choice, the buttons are what the pedal policy allows it.
    EXPECT_EQ(window.enabled[kExportButton], Allows(*chosen, PedalOperation::Export));
    EXPECT_EQ(window.enabled[kImportButton], Allows(*chosen, PedalOperation::Import));
    EXPECT_EQ(window.enabled[kRestoreItem], Allows(*chosen, PedalOperation::Restore));
  }
}

TEST_F(DialogTest, ActivatingTheWindowReadsTheLoopRecordAgain) {
  Start("+sdb:2:8e");
  EXPECT_EQ(Buttons(), 3);
  platform.pedals["/dev/sdb"].loopBytes = uint32_t(StreamBytesForFrames(4 * kPedalFrameRate, 1));
  RunningJob();
  const int opens = platform.opens;
  dialog->OnActivate();
  EXPECT_EQ(platform.opens, opens) << "the pedal is the job's while it runs";
  worker->Finish();
  dialog->OnActivate();
  EXPECT_EQ(window.status.text, "Rendax Mini \u00b7 firmware 8 \u00b7 loop 0:04");
  EXPECT_EQ(Buttons(), 1);
}

}  // namespace
}  // namespace rendax
