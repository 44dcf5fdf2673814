// The main dialog: owner of all state of a run (the device object, the shared transfer state, the
// WAV parameters and converter state, the firmware version) and the logic of start-up, the two
// transfer buttons, progress, pedal arrival and removal, and closing. Toolkit-free: it talks to
// the screen only through a WindowLayer.
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/window_layer.h"
#include "audio/resample.h"
#include "audio/wav_header.h"
#include "device/device.h"
#include "device/pedal_tracker.h"
#include "device/platform.h"
#include "transfer/front_end.h"
#include "transfer/job.h"

namespace rendax {

// The worker as the dialog drives it; the real one is transfer's Worker (MakeThreadWorker),
// tests inject their own.
class JobWorker {
 public:
  virtual ~JobWorker() = default;
  virtual void Start() = 0;
  // Ends the thread once it is idle; never interrupts a job.
  virtual void Stop() = 0;
  // True from the moment a job code is stored until that job has fully ended.
  virtual bool Busy() const = 0;
};
using WorkerFactory = std::function<std::unique_ptr<JobWorker>(TransferState&, CDevice&, WavFormat&,
                                                               ResampleState&, JobFrontEnd&)>;
// The worker thread of the transfer engine.
std::unique_ptr<JobWorker> MakeThreadWorker(TransferState& state, CDevice& device, WavFormat& wav,
                                            ResampleState& resample, JobFrontEnd& ui);

class CSdkManager_MFCDlg {
 public:
  CSdkManager_MFCDlg(WindowLayer& window, DevicePlatform& platform, WorkerFactory makeWorker);
  // Stops an idle worker. The window layer ends the dialog only through OnClose, which has
  // already waited for a running job.
  ~CSdkManager_MFCDlg();
  CSdkManager_MFCDlg(const CSdkManager_MFCDlg&) = delete;
  CSdkManager_MFCDlg& operator=(const CSdkManager_MFCDlg&) = delete;

  // Start-up: menu items, icons, device object, pedal search and firmware check, buttons, job
  // code, progress range, worker, faces. Returns 1 (the layer gives the first control focus).
  int OnInitDialog();
  // Export button: save chooser, then the export path, then JobExport.
  void OnExport();
  // Import button: warning, open chooser, a second question when the file will be converted or
  // is stereo for a one-channel pedal, then the import path, then JobImport (whose job refuses
  // a file that cannot go in).
  void OnImport();
  // A file dropped onto the window: Import with that file. It is checked first (a refused file
  // gets its message and no question), then the warning, which says how it will be converted.
  // Returns 1 when the job was stored, 0 when the drop was refused (not an audio file, no usable
  // pedal, a transfer is running, the file cannot go in) or the warning was answered No.
  int OnDropFile(const std::string& path);
  // True when a drop of `path` would be taken (for the drag cursor).
  bool AcceptsDrop(const std::string& path) const;
  void OnAbout();
  // The restore item: the newest backup of the current model, after the import warning names
  // it, becomes an import (which saves the loop it replaces first). Refused, as the Import
  // button is, without a usable pedal or while a transfer is under way.
  void OnRestoreLastBackup();
  // A device notice from the platform, on the window thread. Handled at once when no job is
  // pending or running; otherwise kept and handled when the worker is idle again.
  void OnDeviceChange(DeviceNotice notice);
  // "SetPos": the worker's progress, forwarded to the progress bar unclamped.
  void OnSetPos(int percent);
  // The Cancel button: the running job stops at its next block. An import puts the backup it
  // took back first ("Import cancelled — the earlier loop is back on the pedal").
  void OnCancel();
  // The selector: the user chose the pedal at `index` of the choices last shown. Its firmware is
  // checked (asked once) if it has not been yet.
  void OnChoosePedal(int index);
  // The status line's link: asks the firmware question again for the chosen pedal.
  void OnStatusLink();
  // The "Verify after import" item.
  void OnToggleVerify();
  // Close box, Enter or Esc: waits (event loop alive) while a job runs, then frees the device
  // object and ends the dialog.
  void OnClose();

  // The state, for the window layer and tests.
  std::string PedalPath() const;
  uint8_t Model() const;
  uint16_t FirmwareVersion() const { return firmwareVersion_; }
  int32_t JobCode() const { return state_.jobCode.load(); }
  std::string ExportPath() const;
  std::string ImportPath() const;
  bool ButtonsEnabled() const { return buttonsEnabled_; }
  bool Mix() const;
  const CDevice* Device() const { return device_.get(); }
  std::size_t DeferredNotices() const { return deferred_.size(); }
  bool Closed() const { return closed_; }
  bool Verify() const;
  const StatusLine& Status() const { return status_; }
  const PedalTracker& Tracker() const { return tracker_; }

 private:
  // The worker's window operations and the firmware check's questions, all run on the window
  // thread through WindowLayer::SendToWindow (directly when already there).
  class FrontEnd : public JobFrontEnd {
   public:
    explicit FrontEnd(CSdkManager_MFCDlg& dialog) : dialog_(dialog) {}
    void ReportProgress(int percent) override;
    void EnableTransferButtons(bool enable) override;
    void ShowMessage(const std::string& text) override;
    void ShowMessageWithReason(const std::string& text, const std::string& reason) override;
    bool AskYesNo(const std::string& text, const std::string& caption) override;
    void ReportStage(Stage stage, uint64_t done, uint64_t total) override;
    void ReportLoop(const LoopOutline& outline) override;

   private:
    CSdkManager_MFCDlg& dialog_;
  };

  bool FindAndCheckPedal();
  // The chosen pedal becomes the dialog's pedal (path and model for the jobs); its firmware is
  // checked unless that was done (or declined) before. True when it is usable.
  bool TakeChosen(bool ask);
  bool CheckChosen();
  void ReadLoopRecord();
  void ShowPedals();
  void UpdateStatus();
  void OnStage(JobFrontEnd::Stage stage, uint64_t done, uint64_t total);
  void WatchJob();
  void JobEnded();
  void HandleNotice(DeviceNotice notice);
  void HandleDeferred();
  void ScheduleDeferred();
  void EnableButtons(bool enable);
  // `check`: the import's file as the question found it, handed to the job.
  void StoreJob(int32_t code, const std::string& path, bool mix = false,
                std::optional<ImportCheck> check = std::nullopt);
  // The file check of an import into the current model; a refused file is said here.
  bool CheckFile(const std::string& path, ImportCheck& check);
  bool Idle() const;

  WindowLayer& window_;
  DevicePlatform& platform_;
  PedalTracker tracker_{platform_};
  StatusLine status_;
  WorkerFactory makeWorker_;
  FrontEnd frontEnd_{*this};

  std::unique_ptr<CMassStorageDevice> device_;
  TransferState state_;  // job code, pedal path, model index, export and import paths
  uint16_t firmwareVersion_ = 0;
  WavFormat wav_;
  ResampleState resample_;
  std::unique_ptr<JobWorker> worker_;

  bool buttonsEnabled_ = false;
  // What the running job is doing, for the status line.
  bool jobShown_ = false;
  bool jobWatched_ = false;
  bool cancelled_ = false;
  int32_t jobCode_ = JobNone;
  std::optional<JobFrontEnd::Stage> stage_;
  uint64_t stageDone_ = 0, stageTotal_ = 0;
  std::chrono::steady_clock::time_point stageStart_;
  bool declined_ = false;             // the firmware question in progress was answered No
  std::vector<std::string> choices_;  // the pedal paths behind the selector's labels
  std::vector<std::string> choiceLabels_;
  int selectedChoice_ = -2;  // none shown yet
  std::string outlinePath_;  // the pedal whose loop the disc shows, "" for the picture
  std::deque<DeviceNotice> deferred_;
  bool deferredScheduled_ = false;
  int handling_ = 0;  // > 0 while the window thread is inside the pedal search or firmware check
  bool closeRequested_ = false;
  bool closing_ = false;
  bool closed_ = false;
};

// The application object: runs the main dialog modally and lets the process end after it.
class CSdkManager_MFCApp {
 public:
  // Returns false, as the framework expects of a dialog-based program.
  bool InitInstance(WindowLayer& window, DevicePlatform& platform, WorkerFactory makeWorker);
};

}  // namespace rendax
