// SPDX-License-Identifier: GPL-3.0-or-later
// The main dialog: owner of all state of a run (the device object, the shared transfer state, the
// WAV parameters and converter state, the pedal tracker, which knows the pedal in use and its
// firmware) and the logic of start-up, the two transfer buttons, progress, pedal arrival and
// removal, and closing. Toolkit-free: it talks to the screen only through a WindowLayer.
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
#include "transfer/pedal_policy.h"

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

  // Start-up: menu items, icons, device object, pedal search, buttons (as the pedal policy
  // allows the chosen pedal), job code, progress range, worker, faces. Returns 1 (the layer
  // gives the first control focus).
  int OnInitDialog();
  // The window is on screen: the chosen pedal's firmware is checked, so that its question or
  // an error (another program holding the pedal) comes over the window. Once.
  void OnShown();
  // Export button: save chooser, then the export path, then JobExport.
  void OnExport();
  // Import button: the warning naming the pedal, open chooser, a second question when the file
  // will be converted or its channels differ from the pedal's (with the choice of where they
  // go), then the import path, then JobImport (whose job refuses a file that cannot go in).
  // Nothing without a chosen pedal whose firmware takes a loop.
  void OnImport();
  // A file dropped onto the window or opened with it: Import with that file. It is checked first
  // (a refused file, whatever its name, gets its message and no question), then the warning,
  // which says how it will be converted. Returns 1 when the job was stored, 0 when the drop was
  // refused (no pedal that takes a loop, a transfer is running, the file cannot go in) or the
  // warning was
  // answered No.
  int OnDropFile(const std::string& path);
  // True when a drop of `path` would be taken, judged by its name (for the drag cursor).
  bool AcceptsDrop(const std::string& path) const;
  // The Import button's conditions: a pedal that takes a loop, no transfer, not closing.
  bool ImportPossible() const;
  void OnAbout();
  // The restore item: the newest backup of the current model, after the import warning names
  // it, becomes an import (which saves the loop it replaces first). Refused, as the Import
  // button is, without a pedal that takes a loop or while a transfer is under way.
  void OnRestoreLastBackup();
  // A device notice from the platform, on the window thread. Handled at once when no job is
  // pending or running; otherwise kept and handled when the worker is idle again. The pedal in
  // use stays while attached; a pedal plugged in beside it is offered ("Use it"), and any
  // pedal that becomes the choice has its firmware checked before the buttons follow it.
  void OnDeviceChange(HotplugNotice notice);
  // "SetPos": the worker's progress, forwarded to the progress bar unclamped.
  void OnSetPos(int percent);
  // The Cancel button: the running job stops at its next block. An import puts the backup it
  // took back first ("Import cancelled — the earlier loop is back on the pedal").
  void OnCancel();
  // The selector: the user chose the pedal at `index` of the choices last shown. Its firmware is
  // checked (asked once) if it has not been yet.
  void OnChoosePedal(int index);
  // The status line's link: "Use it" makes the pedal it offers the chosen one (checked first);
  // on the chosen pedal it asks the firmware question again.
  void OnStatusLink();
  // The window became the active one: the chosen pedal's loop record is read again (another
  // program may have changed the loop meanwhile), unless a job runs.
  void OnActivate();
  // The "Verify after import" item.
  void OnToggleVerify();
  // Close box, Enter or Esc: waits (event loop alive) while a job runs, then frees the device
  // object and ends the dialog.
  void OnClose();

  // The state, for the window layer and tests, on the window thread. The pedal's are the
  // tracker's chosen pedal's (the model index keeps naming the last one chosen after it went).
  std::string PedalPath() const;
  uint8_t Model() const;
  uint16_t FirmwareVersion() const;
  int32_t JobCode() const { return state_.jobCode.load(); }
  std::string ExportPath() const;
  std::string ImportPath() const;
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
    void ShowOutcome(const Outcome& outcome) override;
    void ReportStage(const Progress& report) override;
    void ReportLoop(const LoopOutline& outline) override;

   private:
    CSdkManager_MFCDlg& dialog_;
  };

  // The chosen pedal's firmware is checked unless that was done (or declined, unless `askAgain`)
  // before; then its loop record is read if it may be.
  void TakeChosen(bool askAgain);
  // The same with the window's handlers held off (the check's question runs an event loop).
  void TakeChosenHeld(bool askAgain);
  // The pedals and the status line shown again after a handler; a close asked meanwhile is done.
  void ShowAfterHandling();
  void CheckChosen();
  // Whether the chosen pedal may be used for `operation` (the pedal policy), now.
  bool ChosenAllows(PedalOperation operation) const;
  // The Export and Import buttons (and the restore item) as the chosen pedal allows, unless the
  // worker has disabled them for a transfer.
  void UpdateButtons();
  void SetControl(int control, bool enable, std::optional<bool>& shown);
  // The pedal the status line offers ("Use it"), when it is still attached and not chosen.
  const TrackedPedal* Offered() const;
  void ReadLoopRecord();
  void ShowPedals();
  void UpdateStatus();
  void OnStage(const ProgressReport& report);
  void WatchJob();
  void JobEnded();
  void HandleNotice(HotplugNotice notice);
  void HandleDeferred();
  void ScheduleDeferred();
  void EnableButtons(bool enable);
  // `check`: the import's file as the question found it, handed to the job.
  void StoreJob(int32_t code, const std::string& path, bool mix = false, bool both = false,
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
  // Job code, export and import paths; the pedal path and model index are the tracker's chosen
  // pedal's, stored with each job.
  TransferState state_;
  WavFormat wav_;
  ResampleState resample_;
  std::unique_ptr<JobWorker> worker_;

  std::optional<bool> exportShown_, importShown_, restoreShown_;  // as last set on the window
  bool jobDisabled_ = false;  // the worker disabled the buttons for its transfer
  // What the running job is doing, for the status line.
  bool jobShown_ = false;
  bool jobWatched_ = false;
  bool cancelled_ = false;
  int32_t jobCode_ = JobNone;
  std::optional<ProgressReport> progress_;  // the job's last report
  std::chrono::steady_clock::time_point passStart_;
  std::vector<std::string> choices_;  // the pedal paths behind the selector's labels
  std::vector<std::string> choiceLabels_;
  int selectedChoice_ = -2;  // none shown yet
  std::string offered_;      // a pedal that arrived beside the chosen one, "" for none
  std::string outlinePath_;  // the pedal whose loop the disc shows, "" for the picture
  std::deque<HotplugNotice> deferred_;
  bool deferredScheduled_ = false;
  int handling_ = 0;  // > 0 while the window thread is inside the pedal search or firmware check
  bool closeRequested_ = false;
  bool shown_ = false;
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
