// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/main_dialog.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <mutex>

#include "app/about.h"
#include "audio/sample_pages.h"
#include "device/commands.h"
#include "device/discovery.h"
#include "transfer/backup.h"
#include "transfer/pedal_policy.h"
#include "transfer/progress.h"
#include "transfer/texts.h"

namespace rendax {

namespace {

// How often the window looks again whether the worker has finished, while device notices wait.
constexpr int kDeferredPollMs = 100;

// How often the window looks whether a job has ended, to take its Cancel button away.
constexpr int kJobPollMs = 100;

// A selector entry: the model and the name the system gives the pedal ("Rendax Twin · sg3").
std::string PedalLabel(const TrackedPedal& pedal) {
  return std::string(ModelInfo(pedal.model).name) + " \u00b7 " + ShortName(pedal.path);
}

// The audio files a drop takes, by their name: those an import reads.
bool HasAudioExtension(const std::string& path) {
  const auto dot = path.find_last_of("./\\");
  if (dot == std::string::npos || path[dot] != '.') return false;
  std::string extension = path.substr(dot + 1);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  for (const char* known :
       {"wav", "flac", "ogg", "oga", "opus", "mp3", "aif", "aiff", "aifc", "rf64", "w64"}) {
    if (extension == known) return true;
  }
  return false;
}

// What an import question adds for a checked file, paragraph by paragraph: how it will be
// converted ("FLAC, 96,000 Hz, 24-bit, stereo will be converted to 48,000 Hz, 24-bit,
// stereo."), and where the channels differ, where the file's channels go. `option` is the
// choice the question offers for that (none: its text stays empty).
std::string ImportNotes(const ImportCheck& check, uint8_t model, QuestionOption& option) {
  std::string notes;
  const uint32_t pedalChannels = ModelInfo(model).channels;
  // The file's own channels (an accepted check always says them), not what the decoder makes.
  const bool stereoIntoOne = check.info.channels == 2 && pedalChannels == 1;
  const bool oneIntoTwo = check.info.channels == 1 && pedalChannels == 2;
  option = {};
  // A file that goes in as it is but for its channels: the paragraph below says so.
  if (check.converted && (check.decoded || !(stereoIntoOne || oneIntoTwo))) {
    const auto arrow = check.conversion.find(kConvertsTo);
    notes = arrow == std::string::npos
                ? check.conversion + "."
                : check.conversion.substr(0, arrow) + kWillBeConvertedTo +
                      check.conversion.substr(arrow + std::char_traits<char>::length(kConvertsTo)) +
                      ".";
  }
  if (stereoIntoOne) {
    if (!notes.empty()) notes += "\n\n";
    notes += FormatText(kStereoIntoOneFormat, ModelInfo(model).name);
    option.text = kSumChannelsOption;
  } else if (oneIntoTwo) {
    if (!notes.empty()) notes += "\n\n";
    notes += FormatText(kOneChannelIntoTwoFormat, ModelInfo(model).name);
    option.text = kBothChannelsOption;
  }
  return notes;
}

// An import question, with the option when it has a text. Every one of them comes before the
// pedal's loop is replaced: No is the safe answer.
bool Ask(WindowLayer& window, const std::string& text, QuestionOption& option) {
  return window.AskBeforeReplacing(text, option.text.empty() ? nullptr : &option);
}

// What the answered option asks of the job: sum a stereo file, or copy a one-channel one.
bool Sums(const QuestionOption& option) {
  return option.checked && option.text == kSumChannelsOption;
}
bool Doubles(const QuestionOption& option) {
  return option.checked && option.text == kBothChannelsOption;
}

}  // namespace

// ---- The front end the worker and the firmware check talk to ----

void CSdkManager_MFCDlg::FrontEnd::ReportProgress(int percent) {
  dialog_.window_.SendToWindow([this, percent] { dialog_.OnSetPos(percent); });
}

void CSdkManager_MFCDlg::FrontEnd::EnableTransferButtons(bool enable) {
  dialog_.window_.SendToWindow([this, enable] { dialog_.EnableButtons(enable); });
}

void CSdkManager_MFCDlg::FrontEnd::ShowMessage(const std::string& text) {
  ShowMessageWithReason(text, {});
}

void CSdkManager_MFCDlg::FrontEnd::ShowMessageWithReason(const std::string& text,
                                                         const std::string& reason) {
  // Said by the firmware check and a job that could not start: each is something that failed.
  dialog_.window_.SendToWindow(
      [this, &text, &reason] { dialog_.window_.ShowMessage(text, reason, MessageKind::Error); });
}

void CSdkManager_MFCDlg::FrontEnd::ShowOutcome(const Outcome& outcome) {
  if (outcome.title.empty()) return;
  // A stop the user asked for that left everything as it was is news, not a failure.
  const MessageKind kind =
      outcome.result == JobResult::Success ? MessageKind::Information
      : outcome.result == JobResult::Interrupted
          ? (outcome.reason.empty() ? MessageKind::Information : MessageKind::Warning)
          : MessageKind::Error;
  dialog_.window_.SendToWindow([this, &outcome, kind] {
    dialog_.window_.NotifyJobEnded(outcome.title);
    dialog_.window_.ShowMessage(outcome.title, outcome.reason, kind);
  });
}

bool CSdkManager_MFCDlg::FrontEnd::AskYesNo(const std::string& text, const std::string& caption) {
  bool yes = false;
  dialog_.window_.SendToWindow(
      [this, &text, &caption, &yes] { yes = dialog_.window_.AskYesNo(text, caption); });
  return yes;
}

void CSdkManager_MFCDlg::FrontEnd::ReportStage(const Progress& report) {
  dialog_.window_.SendToWindow([this, &report] { dialog_.OnStage(report); });
}

void CSdkManager_MFCDlg::FrontEnd::ReportLoop(const LoopOutline& outline) {
  dialog_.window_.SendToWindow([this, &outline] {
    dialog_.window_.ShowLoopOutline(outline);
    dialog_.outlinePath_ = dialog_.PedalPath();
  });
}

// ---- The dialog ----

CSdkManager_MFCDlg::CSdkManager_MFCDlg(WindowLayer& window, DevicePlatform& platform,
                                       WorkerFactory makeWorker)
    : window_(window), platform_(platform), makeWorker_(std::move(makeWorker)) {}

CSdkManager_MFCDlg::~CSdkManager_MFCDlg() {
  if (worker_) worker_->Stop();
  worker_.reset();
  device_.reset();
}

int CSdkManager_MFCDlg::OnInitDialog() {
  {
    // The window checks every import by reading it back, unless the user turns that off, and
    // its Cancel button puts the earlier loop back.
    std::lock_guard lock(state_.mutex);
    state_.request.verify = true;
    state_.request.restoreOnCancel = true;
  }
  window_.AppendVerifyItem(kVerifyMenuText, true);
  window_.AppendRestoreItem(kRestoreMenuText);
  std::string about = ForLocale(kAboutMenuText, window_.LocaleName());
  if (!about.empty()) window_.AppendAboutItem(about);
  window_.SetIcons(kIconGroup);

  device_ = std::make_unique<CMassStorageDevice>(platform_);

  // The pedals are listed now; their firmware is checked once the window is on screen.
  std::string error;
  tracker_.Start(error);
  UpdateButtons();
  state_.jobCode.store(JobNone);
  window_.SetProgressRange(0, 100);

  worker_ = makeWorker_(state_, *device_, wav_, resample_, frontEnd_);
  if (worker_) worker_->Start();

  window_.LoadButtonFaces(kExportButton, kExportFaces);
  window_.LoadButtonFaces(kImportButton, kImportFaces);
  ShowPedals();
  UpdateStatus();
  return 1;
}

void CSdkManager_MFCDlg::OnShown() {
  if (closing_ || closed_ || shown_) return;
  shown_ = true;
  TakeChosenHeld(false);
  ShowAfterHandling();
}

void CSdkManager_MFCDlg::TakeChosenHeld(bool askAgain) {
  ++handling_;
  TakeChosen(askAgain);
  --handling_;
}

void CSdkManager_MFCDlg::ShowAfterHandling() {
  ShowPedals();
  UpdateStatus();
  // A close asked for inside a question is done once nothing is under way.
  if (closeRequested_ && handling_ == 0) OnClose();
}

void CSdkManager_MFCDlg::TakeChosen(bool askAgain) {
  const TrackedPedal* chosen = tracker_.Chosen();
  if (!chosen) return;
  switch (chosen->firmware) {
    case FirmwareState::Usable:
      break;
    case FirmwareState::Declined:
      // Asked once per plug-in; the status line's link asks again.
      if (askAgain) CheckChosen();
      break;
    case FirmwareState::Unchecked:
    case FirmwareState::Unusable:
      CheckChosen();
      break;
  }
  chosen = tracker_.Chosen();
  if (chosen && !chosen->loop && Allows(*chosen, PedalOperation::Backup)) ReadLoopRecord();
}

void CSdkManager_MFCDlg::CheckChosen() {
  const TrackedPedal* chosen = tracker_.Chosen();
  if (!chosen || !device_) return;
  const std::string path = chosen->path;
  const uint8_t model = chosen->model;
  // The window's question names both versions, so an older image may go on too; the loop is
  // saved before the image replaces whatever the pedal keeps.
  const FirmwareOutcome outcome = EnsureFirmware(*device_, path, model, frontEnd_);
  tracker_.SetFirmware(path, outcome.state, outcome.version);
}

bool CSdkManager_MFCDlg::ChosenAllows(PedalOperation operation) const {
  const TrackedPedal* chosen = tracker_.Chosen();
  return chosen && Allows(*chosen, operation);
}

// The loop record of the chosen pedal, for the status line: one short command.
void CSdkManager_MFCDlg::ReadLoopRecord() {
  const TrackedPedal* chosen = tracker_.Chosen();
  if (!chosen || !device_ || !Idle() || device_->IsOpen()) return;
  const std::string path = chosen->path;
  if (!device_->Open(path, kGenericRead | kGenericWrite, kFileShareRead | kFileShareWrite)) return;
  uint8_t record[kLoopInfoBytes] = {};
  if (SendCommandIn(CdbLoopInfoRead(), *device_, kLoopInfoBytes, record)) {
    tracker_.SetLoop(path, DecodeLoopInfo(record));
  }
  device_->Close();
}

void CSdkManager_MFCDlg::ShowPedals() {
  const TrackedPedal* chosen = tracker_.Chosen();
  std::vector<std::string> labels;
  std::vector<std::string> paths;
  int selected = -1;
  for (const TrackedPedal& p : tracker_.Pedals()) {
    if (chosen && p.path == chosen->path) selected = static_cast<int>(labels.size());
    labels.push_back(PedalLabel(p));
    paths.push_back(p.path);
  }
  if (paths != choices_ || selected != selectedChoice_ || labels != choiceLabels_) {
    choices_ = std::move(paths);
    choiceLabels_ = labels;
    selectedChoice_ = selected;
    window_.SetPedalChoices(labels, selected);
  }
  // A drawn loop belongs to the pedal it was read from or written to.
  if (!outlinePath_.empty() && (!chosen || chosen->path != outlinePath_)) {
    outlinePath_.clear();
    window_.ShowLoopOutline(LoopOutline{});
  }
}

const TrackedPedal* CSdkManager_MFCDlg::Offered() const {
  const TrackedPedal* offered = tracker_.Find(offered_);
  const TrackedPedal* chosen = tracker_.Chosen();
  return offered && offered != chosen ? offered : nullptr;
}

void CSdkManager_MFCDlg::UpdateStatus() {
  UpdateButtons();
  StatusLine line;
  const TrackedPedal* chosen = tracker_.Chosen();
  if (!Offered()) offered_.clear();
  if (jobShown_) {
    const bool stopping =
        cancelled_ && !(progress_ && progress_->stage == JobFrontEnd::Stage::Restore);
    if (progress_) {
      line.text = ProgressText(*progress_, stopping, window_.Now() - passStart_);
    } else {
      line.text = stopping ? kCancelling : jobCode_ == JobExport ? kStageExport : kStageImport;
    }
  } else if (const TrackedPedal* offered = Offered()) {
    // Plugged in beside the pedal in use: offered, never taken over to.
    line.text = FormatText(kAttachedFormat, ModelInfo(offered->model).name);
    line.link = kUseItLink;
  } else if (chosen) {
    const std::string name = ModelInfo(chosen->model).name;
    const std::string version = std::to_string(chosen->firmwareVersion);
    switch (chosen->firmware) {
      case FirmwareState::Usable:
        line.text = name + kStatusSeparator + kFirmwarePart + version;
        if (chosen->loop) {
          const LoopInfo& loop = *chosen->loop;
          line.text += kStatusSeparator;
          line.text += HoldsLoop(loop)
                           ? kLoopPart + FormatDuration(FramesInStream(
                                             loop.length, ModelInfo(chosen->model).channels))
                           : kNoLoopPart;
        }
        break;
      case FirmwareState::Declined:
        line.text = FormatText(kFirmwareNeedsUpdatingFormat, version.c_str());
        line.link = kUpdateLink;
        break;
      case FirmwareState::Unusable:
        line.text = FormatText(kCannotBeUsedFormat, name.c_str());
        line.link = kTryAgainLink;
        break;
      case FirmwareState::Unchecked:
        line.text = name;
        break;
    }
  } else if (tracker_.Pedals().size() == 1) {
    // The pedal that went was the one in use; this one is another model's.
    line.text = FormatText(kAttachedFormat, ModelInfo(tracker_.Pedals()[0].model).name);
    line.link = kUseItLink;
  } else if (!tracker_.Pedals().empty()) {
    line.text = kChoosePedal;
  } else {
    line.text = kPlugInPedal;
  }
  if (line != status_) {
    status_ = line;
    window_.SetStatus(status_);
  }
}

void CSdkManager_MFCDlg::EnableButtons(bool enable) {
  jobDisabled_ = !enable;
  UpdateButtons();
}

void CSdkManager_MFCDlg::UpdateButtons() {
  const bool import = !jobDisabled_ && ChosenAllows(PedalOperation::Import);
  const bool exportOn = !jobDisabled_ && ChosenAllows(PedalOperation::Export);
  // The restore item goes with Import; Import before Export, as the worker has it.
  SetControl(kRestoreItem, import, restoreShown_);
  SetControl(kImportButton, import, importShown_);
  SetControl(kExportButton, exportOn, exportShown_);
}

void CSdkManager_MFCDlg::SetControl(int control, bool enable, std::optional<bool>& shown) {
  if (shown == enable) return;
  shown = enable;
  window_.EnableControl(control, enable);
}

void CSdkManager_MFCDlg::StoreJob(int32_t code, const std::string& path, bool mix, bool both,
                                  std::optional<ImportCheck> check) {
  // The path first: the worker may pick the job up the moment the code is stored. The pedal is
  // the tracker's chosen one at this moment.
  {
    const TrackedPedal* chosen = tracker_.Chosen();
    std::lock_guard lock(state_.mutex);
    state_.request.pedalPath = chosen ? chosen->path : "";
    if (chosen) state_.request.model = chosen->model;
    (code == JobExport ? state_.request.exportPath : state_.request.importPath) = path;
    state_.request.mix = mix;
    state_.request.both = both;
    // The file was inspected for the question: the job takes what was found.
    state_.request.importCheck = std::move(check);
  }
  // A stop asked of an earlier job must not end this one.
  state_.cancel.store(false);
  state_.jobCode.store(code);
  jobShown_ = true;
  jobCode_ = code;
  cancelled_ = false;
  progress_.reset();
  window_.EnableControl(kPedalSelector, false);
  window_.ShowCancel(true);
  UpdateStatus();
  WatchJob();
}

void CSdkManager_MFCDlg::WatchJob() {
  if (jobWatched_) return;
  jobWatched_ = true;
  window_.PostDelayed(kJobPollMs, [this] {
    jobWatched_ = false;
    if (closing_) return;
    if (Idle()) {
      JobEnded();
    } else {
      WatchJob();
    }
  });
}

void CSdkManager_MFCDlg::JobEnded() {
  if (!jobShown_) return;
  jobShown_ = false;
  progress_.reset();
  window_.ShowCancel(false);
  window_.EnableControl(kPedalSelector, true);
  // Whatever the job said last, it is over: the buttons are the chosen pedal's again.
  jobDisabled_ = false;
  // The job changed (or read) the loop: its length is read again for the status line.
  if (ChosenAllows(PedalOperation::Backup)) ReadLoopRecord();
  UpdateStatus();
}

void CSdkManager_MFCDlg::OnStage(const ProgressReport& report) {
  // The time left is reckoned from the pass's own start: a restore after a cancel is a new one.
  if (!progress_ || report.passDone < progress_->passDone ||
      (report.stage == JobFrontEnd::Stage::Restore &&
       progress_->stage != JobFrontEnd::Stage::Restore)) {
    passStart_ = window_.Now();
  }
  progress_ = report;
  // Once the loop is written there is nothing left to stop: reading it back only checks it.
  if (report.stage == JobFrontEnd::Stage::Verify) window_.ShowCancel(false);
  if (jobShown_) UpdateStatus();
}

void CSdkManager_MFCDlg::OnCancel() {
  if (!jobShown_ || cancelled_ || Idle() ||
      (progress_ && progress_->stage == JobFrontEnd::Stage::Verify)) {
    return;
  }
  state_.cancel.store(true);
  cancelled_ = true;
  window_.ShowCancel(false);
  UpdateStatus();
}

void CSdkManager_MFCDlg::OnChoosePedal(int index) {
  if (closing_ || handling_ > 0 || !Idle() || index < 0 ||
      index >= static_cast<int>(choices_.size())) {
    return;
  }
  if (tracker_.Choose(choices_[static_cast<std::size_t>(index)])) {
    offered_.clear();  // the user has chosen: nothing is left to offer
    // The user's own choice: the buttons follow what that pedal can do, once checked.
    TakeChosenHeld(false);
  }
  ShowAfterHandling();
}

void CSdkManager_MFCDlg::OnStatusLink() {
  if (closing_ || handling_ > 0 || !Idle()) return;
  // "Use it": the pedal offered, or the one left when the pedal in use went.
  std::string use;
  if (const TrackedPedal* offered = Offered()) {
    use = offered->path;
  } else if (!tracker_.Chosen()) {
    if (tracker_.Pedals().empty()) return;
    use = tracker_.Pedals()[0].path;
  }
  offered_.clear();
  if (!use.empty()) tracker_.Choose(use);
  TakeChosenHeld(use.empty());
  ShowAfterHandling();
}

void CSdkManager_MFCDlg::OnActivate() {
  if (closing_ || handling_ > 0 || !Idle() || !ChosenAllows(PedalOperation::Backup)) return;
  ReadLoopRecord();
  UpdateStatus();
}

void CSdkManager_MFCDlg::OnToggleVerify() {
  bool verify = false;
  {
    std::lock_guard lock(state_.mutex);
    verify = state_.request.verify = !state_.request.verify;
  }
  window_.CheckVerifyItem(verify);
}

void CSdkManager_MFCDlg::OnExport() {
  if (closing_) return;
  FileChooser chooser;
  chooser.save = true;
  chooser.defaultExtension = "wav";
  chooser.initialName = "Rendax";
  chooser.filter = kWaveFilter;
  chooser.confirmOverwrite = true;
  if (auto path = window_.ChooseFile(chooser)) StoreJob(JobExport, *path);
}

bool CSdkManager_MFCDlg::CheckFile(const std::string& path, ImportCheck& check) {
  if (CheckImportFile(path, Model(), check)) return true;
  window_.ShowMessage(check.text, check.reason, MessageKind::Error);
  return false;
}

void CSdkManager_MFCDlg::OnImport() {
  if (closing_ || !ChosenAllows(PedalOperation::Import)) return;
  const std::string pedal = PedalPath();
  const uint8_t model = Model();
  if (!window_.AskBeforeReplacing(ReplaceWarning(PedalName(model, pedal)), nullptr)) return;
  FileChooser chooser;
  chooser.save = false;
  chooser.filter = kImportFilter;
  const auto path = window_.ChooseFile(chooser);
  // The warning named a pedal: a file chosen for it goes to no other.
  if (!path || PedalPath() != pedal) return;
  ImportCheck check;
  // A file that cannot go in is the job's to refuse, with its message, as it always was.
  if (!CheckImportFile(*path, model, check)) {
    StoreJob(JobImport, *path, false, false, std::move(check));
    return;
  }
  QuestionOption option;
  const std::string notes = ImportNotes(check, model, option);
  if (!notes.empty()) {
    // The warning came before the file was known: what it will become is asked now.
    if (!Ask(window_, notes + kContinueQuestion, option)) return;
    if (closing_ || !ChosenAllows(PedalOperation::Import) || !Idle() || PedalPath() != pedal) {
      return;
    }
  }
  StoreJob(JobImport, *path, Sums(option), Doubles(option), std::move(check));
}

bool CSdkManager_MFCDlg::AcceptsDrop(const std::string& path) const {
  return ImportPossible() && HasAudioExtension(path);
}

bool CSdkManager_MFCDlg::ImportPossible() const {
  // The Import button's own conditions: a pedal that takes a loop and no transfer under way.
  return !closing_ && ChosenAllows(PedalOperation::Import) && Idle();
}

int CSdkManager_MFCDlg::OnDropFile(const std::string& path) {
  // Refused without a word when the Import button is greyed out; any file else is checked, so
  // one the import cannot read gets its refusal and reason, as on the command line.
  if (!ImportPossible()) return 0;
  const std::string pedal = PedalPath();
  const uint8_t model = Model();
  ImportCheck check;
  if (!CheckFile(path, check)) return 0;
  QuestionOption option;
  const std::string notes = ImportNotes(check, model, option);
  const std::string warning = ReplaceWarning(PedalName(model, pedal));
  const std::string question = notes.empty() ? warning : warning + "\n\n" + notes;
  if (!Ask(window_, question, option)) return 0;
  // The answer took a nested event loop: look again before storing.
  if (!ImportPossible() || PedalPath() != pedal) return 0;
  StoreJob(JobImport, path, Sums(option), Doubles(option), std::move(check));
  return 1;
}

void CSdkManager_MFCDlg::OnAbout() {
  window_.ShowAbout();
}

void CSdkManager_MFCDlg::OnRestoreLastBackup() {
  if (closing_ || !ChosenAllows(PedalOperation::Restore) || !Idle()) return;
  const std::string pedal = PedalPath();
  const uint8_t model = Model();
  const std::string folder = DefaultBackupFolder();
  const std::optional<BackupEntry> backup = NewestBackup(folder, model);
  if (!backup) {
    window_.ShowMessage(kNoBackupYet, folder, MessageKind::Information);
    return;
  }
  const std::string question =
      ReplaceWarning(PedalName(model, pedal)) + "\n\n" +
      FormatText(kBackupTakesPlaceFormat, LocalTime(backup->record.time).c_str(),
                 FormatDuration(backup->frames).c_str());
  if (!window_.AskBeforeReplacing(question, nullptr)) return;
  // The answer took a nested event loop: look again before storing.
  if (closing_ || !ChosenAllows(PedalOperation::Restore) || !Idle() || PedalPath() != pedal) {
    return;
  }
  StoreJob(JobImport, backup->path);
}

void CSdkManager_MFCDlg::OnSetPos(int percent) {
  window_.SetProgressPos(percent);
}

bool CSdkManager_MFCDlg::Idle() const {
  if (state_.jobCode.load() != JobNone) return false;
  return !worker_ || !worker_->Busy();
}

void CSdkManager_MFCDlg::OnDeviceChange(HotplugNotice notice) {
  if (closing_) return;
  // A running job uses the device object, the pedal path and the model index; a firmware check
  // in progress (its question runs a nested event loop) uses the device object too.
  if (!Idle() || handling_ > 0 || !deferred_.empty()) {
    deferred_.push_back(notice);
    ScheduleDeferred();
    return;
  }
  HandleNotice(notice);
}

void CSdkManager_MFCDlg::ScheduleDeferred() {
  if (deferredScheduled_) return;
  deferredScheduled_ = true;
  window_.PostDelayed(kDeferredPollMs, [this] {
    deferredScheduled_ = false;
    HandleDeferred();
  });
}

void CSdkManager_MFCDlg::HandleDeferred() {
  if (closing_) return;
  while (!deferred_.empty()) {
    if (!Idle() || handling_ > 0) {
      ScheduleDeferred();
      return;
    }
    HotplugNotice notice = deferred_.front();
    deferred_.pop_front();
    HandleNotice(notice);
  }
}

void CSdkManager_MFCDlg::HandleNotice(HotplugNotice notice) {
  if (notice == HotplugNotice::VolumeArrival || notice == HotplugNotice::DeviceRemoval) {
    // Looks over all drives, not only the new volume. The pedal in use stays; a pedal plugged
    // in beside it is offered. One that becomes the choice (the first found, or another of the
    // same model when the one in use went) is checked before the buttons follow it.
    const bool arrival = notice == HotplugNotice::VolumeArrival;
    ++handling_;
    TrackerUpdate update;
    std::string error;
    tracker_.Refresh(notice, update, error);
    const TrackedPedal* chosen = tracker_.Chosen();
    for (const TrackedPedal& p : update.arrived) {
      if (chosen && !update.chosenChanged && p.path != chosen->path) offered_ = p.path;
    }
    if (chosen && (arrival || update.chosenChanged)) TakeChosen(false);
    --handling_;
  }
  ShowAfterHandling();
}

void CSdkManager_MFCDlg::OnClose() {
  if (closing_ || closed_) return;
  if (handling_ > 0) {
    // Inside the firmware check's question: the device object is in use further up the stack.
    closeRequested_ = true;
    return;
  }
  closing_ = true;
  if (worker_ && worker_->Busy()) {
    window_.WaitUntil(kTransferStillRunning, [this] { return !worker_->Busy(); });
  }
  if (worker_) worker_->Stop();
  worker_.reset();
  device_.reset();
  closed_ = true;
  window_.EndDialog(2);
}

std::string CSdkManager_MFCDlg::PedalPath() const {
  const TrackedPedal* chosen = tracker_.Chosen();
  return chosen ? chosen->path : "";
}

uint8_t CSdkManager_MFCDlg::Model() const {
  // The model index keeps naming the last pedal chosen after it went.
  const TrackedPedal* chosen = tracker_.Chosen();
  return chosen ? chosen->model : tracker_.LastModel().value_or(kNoModel);
}

uint16_t CSdkManager_MFCDlg::FirmwareVersion() const {
  const TrackedPedal* chosen = tracker_.Chosen();
  return chosen ? chosen->firmwareVersion : 0;
}

std::string CSdkManager_MFCDlg::ExportPath() const {
  std::lock_guard lock(state_.mutex);
  return state_.request.exportPath;
}

bool CSdkManager_MFCDlg::Mix() const {
  std::lock_guard lock(state_.mutex);
  return state_.request.mix;
}

std::string CSdkManager_MFCDlg::ImportPath() const {
  std::lock_guard lock(state_.mutex);
  return state_.request.importPath;
}

bool CSdkManager_MFCDlg::Verify() const {
  std::lock_guard lock(state_.mutex);
  return state_.request.verify;
}

bool CSdkManager_MFCApp::InitInstance(WindowLayer& window, DevicePlatform& platform,
                                      WorkerFactory makeWorker) {
  CSdkManager_MFCDlg dialog(window, platform, std::move(makeWorker));
  window.RunModal(dialog);
  return false;
}

}  // namespace rendax
