#include "app/main_dialog.h"

#include <algorithm>
#include <cctype>
#include <mutex>

#include "app/about.h"
#include "device/discovery.h"
#include "device/firmware_check.h"
#include "transfer/backup.h"

namespace rendax {

namespace {

// How often the window looks again whether the worker has finished, while device notices wait.
constexpr int kDeferredPollMs = 100;

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
// stereo."), and for a stereo file going into a one-channel pedal, which channel goes in.
// `offerSum` tells whether the question offers to sum both channels.
std::string ImportNotes(const ImportCheck& check, uint8_t model, bool& offerSum) {
  std::string notes;
  if (check.converted) {
    const auto arrow = check.conversion.find(" -> ");
    notes = arrow == std::string::npos
                ? check.conversion + "."
                : check.conversion.substr(0, arrow) + " will be converted to " +
                      check.conversion.substr(arrow + 4) + ".";
  }
  offerSum = check.wav.channels == 2 && ModelInfo(model).channels == 1;
  if (offerSum) {
    if (!notes.empty()) notes += "\n\n";
    notes += "The file is stereo and the " + std::string(ModelInfo(model).name) +
             " has one channel: the first channel goes in unless both are summed.";
  }
  return notes;
}

// An import question, with the offer to sum both channels when `sum` is given.
bool Ask(WindowLayer& window, const std::string& text, QuestionOption* sum) {
  return sum ? window.AskYesNoWithOption(text, kQuestionCaption, *sum)
             : window.AskYesNo(text, kQuestionCaption);
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
  dialog_.window_.SendToWindow(
      [this, &text, &reason] { dialog_.window_.ShowMessage(text, reason); });
}

bool CSdkManager_MFCDlg::FrontEnd::AskYesNo(const std::string& text, const std::string& caption) {
  bool yes = false;
  dialog_.window_.SendToWindow(
      [this, &text, &caption, &yes] { yes = dialog_.window_.AskYesNo(text, caption); });
  return yes;
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
  window_.AppendRestoreItem(kRestoreMenuText);
  std::string about = kAboutMenuText;
  if (!about.empty()) window_.AppendAboutItem(about);
  window_.SetIcons(kIconGroup);

  device_ = std::make_unique<CMassStorageDevice>(platform_);

  EnableButtons(FindAndCheckPedal());
  state_.jobCode.store(JobNone);
  window_.SetProgressRange(0, 100);

  worker_ = makeWorker_(state_, *device_, wav_, resample_, frontEnd_);
  if (worker_) worker_->Start();

  window_.LoadButtonFaces(kExportButton, kExportFaces);
  window_.LoadButtonFaces(kImportButton, kImportFaces);
  return 1;
}

// Searches model 0, then 1, then 2; the first model found becomes the current one and has its
// firmware checked. True when a pedal was found and is usable.
bool CSdkManager_MFCDlg::FindAndCheckPedal() {
  ++handling_;
  bool usable = false;
  for (uint8_t model = 0; model < kModelCount; ++model) {
    std::string path;
    if (!FindPedal(platform_, model, path)) continue;
    {
      std::lock_guard lock(state_.mutex);
      state_.pedalPath = path;
      state_.model = model;
    }
    // The window's question names both versions, so an older image may go on too; the loop is
    // saved before the image replaces whatever the pedal keeps.
    FirmwareUpdateOptions options;
    options.beforeWrite = BackupBeforeFirmware(model);
    usable = CheckFirmware(*device_, path, model, firmwareVersion_, frontEnd_, options) != 0;
    break;
  }
  --handling_;
  return usable;
}

void CSdkManager_MFCDlg::EnableButtons(bool enable) {
  window_.EnableControl(kRestoreItem, enable);
  window_.EnableControl(kImportButton, enable);
  window_.EnableControl(kExportButton, enable);
  buttonsEnabled_ = enable;
}

void CSdkManager_MFCDlg::StoreJob(int32_t code, const std::string& path, bool mix) {
  // The path first: the worker may pick the job up the moment the code is stored.
  {
    std::lock_guard lock(state_.mutex);
    (code == JobExport ? state_.exportPath : state_.importPath) = path;
    state_.mix = mix;
  }
  // A stop asked of an earlier job must not end this one.
  state_.cancel.store(false);
  state_.jobCode.store(code);
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
  window_.ShowMessage(check.text, check.reason);
  return false;
}

void CSdkManager_MFCDlg::OnImport() {
  if (closing_) return;
  if (!window_.AskYesNo(kImportWarning, kQuestionCaption)) return;
  FileChooser chooser;
  chooser.save = false;
  chooser.filter = kImportFilter;
  const auto path = window_.ChooseFile(chooser);
  if (!path) return;
  const uint8_t model = Model();
  ImportCheck check;
  bool offerSum = false;
  // A file that cannot go in is the job's to refuse, with its message, as it always was.
  if (!CheckImportFile(*path, model, check)) {
    StoreJob(JobImport, *path);
    return;
  }
  const std::string notes = ImportNotes(check, model, offerSum);
  QuestionOption sum{kSumChannelsOption, false};
  if (!notes.empty()) {
    // The warning came before the file was known: what it will become is asked now.
    if (!Ask(window_, notes + " Continue?", offerSum ? &sum : nullptr)) return;
    if (closing_ || !buttonsEnabled_ || !Idle() || Model() != model) return;
  }
  StoreJob(JobImport, *path, sum.checked);
}

bool CSdkManager_MFCDlg::AcceptsDrop(const std::string& path) const {
  // The Import button's own conditions: a usable pedal and no transfer under way.
  return !closing_ && buttonsEnabled_ && Idle() && HasAudioExtension(path);
}

int CSdkManager_MFCDlg::OnDropFile(const std::string& path) {
  if (!AcceptsDrop(path)) return 0;
  const uint8_t model = Model();
  ImportCheck check;
  if (!CheckFile(path, check)) return 0;
  bool offerSum = false;
  const std::string notes = ImportNotes(check, model, offerSum);
  QuestionOption sum{kSumChannelsOption, false};
  const std::string question =
      notes.empty() ? std::string(kImportWarning) : kImportWarning + std::string("\n\n") + notes;
  if (!Ask(window_, question, offerSum ? &sum : nullptr)) return 0;
  // The answer took a nested event loop: look again before storing.
  if (!AcceptsDrop(path) || Model() != model) return 0;
  StoreJob(JobImport, path, sum.checked);
  return 1;
}

void CSdkManager_MFCDlg::OnAbout() {
  window_.ShowAbout();
}

void CSdkManager_MFCDlg::OnRestoreLastBackup() {
  if (closing_ || !buttonsEnabled_ || !Idle()) return;
  const uint8_t model = Model();
  const std::string folder = DefaultBackupFolder();
  const std::optional<BackupEntry> backup = NewestBackup(folder, model);
  if (!backup) {
    window_.ShowMessage(kNoBackupYet, folder);
    return;
  }
  const std::string question = std::string(kImportWarning) + "\n\nThe backup of " +
                               LocalTime(backup->record.time) + " (" +
                               FormatDuration(backup->frames) + ") will take its place.";
  if (!window_.AskYesNo(question, kQuestionCaption)) return;
  // The answer took a nested event loop: look again before storing.
  if (closing_ || !buttonsEnabled_ || !Idle() || Model() != model) return;
  StoreJob(JobImport, backup->path);
}

void CSdkManager_MFCDlg::OnSetPos(int percent) {
  window_.SetProgressPos(percent);
}

bool CSdkManager_MFCDlg::Idle() const {
  if (state_.jobCode.load() != JobNone) return false;
  return !worker_ || !worker_->Busy();
}

void CSdkManager_MFCDlg::OnDeviceChange(DeviceNotice notice) {
  if (notice == DeviceNotice::OtherDeviceChange || notice == DeviceNotice::OtherArrival) return;
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
    DeviceNotice notice = deferred_.front();
    deferred_.pop_front();
    HandleNotice(notice);
  }
}

void CSdkManager_MFCDlg::HandleNotice(DeviceNotice notice) {
  if (notice == DeviceNotice::VolumeArrival) {
    // Looks over all drives, not only the new volume; a pedal found but not usable leaves the
    // buttons as they were.
    if (FindAndCheckPedal()) EnableButtons(true);
  } else if (notice == DeviceNotice::DeviceRemoval) {
    // Only the current model's presence matters, and only its path is kept: a pedal of another
    // model never takes over the path while the model index names the first one.
    ++handling_;
    uint8_t model = Model();
    std::string path;
    if (model < kModelCount) {
      if (FindPedal(platform_, model, path)) {
        std::lock_guard lock(state_.mutex);
        state_.pedalPath = path;
      } else {
        EnableButtons(false);
        std::lock_guard lock(state_.mutex);
        state_.pedalPath.clear();
      }
    }
    --handling_;
  }
  if (closeRequested_ && handling_ == 0) OnClose();
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
  std::lock_guard lock(state_.mutex);
  return state_.pedalPath;
}

uint8_t CSdkManager_MFCDlg::Model() const {
  std::lock_guard lock(state_.mutex);
  return state_.model;
}

std::string CSdkManager_MFCDlg::ExportPath() const {
  std::lock_guard lock(state_.mutex);
  return state_.exportPath;
}

bool CSdkManager_MFCDlg::Mix() const {
  std::lock_guard lock(state_.mutex);
  return state_.mix;
}

std::string CSdkManager_MFCDlg::ImportPath() const {
  std::lock_guard lock(state_.mutex);
  return state_.importPath;
}

// ---- Stubs being filled in ----
void CSdkManager_MFCDlg::FrontEnd::ReportStage(Stage, uint64_t, uint64_t) {}
void CSdkManager_MFCDlg::FrontEnd::ReportLoop(const LoopOutline&) {}
void CSdkManager_MFCDlg::OnCancel() {
  state_.cancel.store(true);
}
void CSdkManager_MFCDlg::OnChoosePedal(int) {}
void CSdkManager_MFCDlg::OnStatusLink() {}
void CSdkManager_MFCDlg::OnToggleVerify() {}
bool CSdkManager_MFCDlg::Verify() const {
  std::lock_guard lock(state_.mutex);
  return state_.verify;
}

bool CSdkManager_MFCApp::InitInstance(WindowLayer& window, DevicePlatform& platform,
                                      WorkerFactory makeWorker) {
  CSdkManager_MFCDlg dialog(window, platform, std::move(makeWorker));
  window.RunModal(dialog);
  return false;
}

}  // namespace rendax
