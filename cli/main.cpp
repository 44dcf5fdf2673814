// SPDX-License-Identifier: GPL-3.0-or-later
// rendax-cli: the pedal's export, import and firmware check from the command line, over the
// same transfer engine as the window.
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "cli/backups.h"
#include "cli/cli_front_end.h"
#include "cli/demo_loop.h"
#include "cli/info.h"
#include "cli/interrupt.h"
#include "cli/options.h"
#include "cli/watch.h"
#include "device/commands.h"
#include "device/device.h"
#include "device/discovery.h"
#include "device/firmware_check.h"
#include "device/pedal_tracker.h"
#include "device/platform.h"
#include "device/platform/sim/sim_pedal.h"
#include "rendax_version.h"
#if defined(_WIN32)
#include "device/platform/win32/win32_platform.h"
#endif
#include "transfer/backup.h"
#include "transfer/file_io.h"
#include "transfer/job.h"
#include "transfer/pedal_policy.h"
#include "transfer/texts.h"

namespace rendax {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;  // as a shell reports a program ended by Ctrl-C

bool ParseNumber(const std::string& s, unsigned long max, unsigned long& out) {
  if (s.empty() || s.size() > 6) return false;
  for (char c : s) {
    if (c < '0' || c > '9') return false;
  }
  out = std::stoul(s);
  return out <= max;
}

int Fail(const std::string& message) {
  std::fprintf(stderr, "%s\n", message.c_str());
  return kExitFailed;
}

// The pedal to work with: --pedal in any spelling, or the window's first search (model 0, then
// 1, then 2).
bool SelectPedal(DevicePlatform& platform, const Args& a, std::string& path, uint8_t& model,
                 std::string& error) {
  PedalTracker tracker(platform);
  if (!tracker.Start(error)) {
    error = std::string(kCannotListDevices) + ": " + error;
    return false;
  }
  const TrackedPedal* pedal = a.pedal ? tracker.Resolve(*a.pedal) : tracker.Chosen();
  if (!pedal) {
    error = a.pedal ? FormatText(kNoPedalAtFormat, a.pedal->c_str(),
                                 ListAttached(tracker.Pedals()).c_str())
                    : kNoPedalFound;
    return false;
  }
  path = pedal->path;
  model = pedal->model;
  return true;
}

// Opens the pedal, reads its firmware version and closes it.
bool ReadVersion(CDevice& device, const std::string& path, uint16_t& version, std::string& error) {
  if (!device.Open(path, kGenericRead | kGenericWrite, kFileShareRead | kFileShareWrite)) {
    error = DescribeOpenError(path, device.LastOpenError());
    return false;
  }
  const int ok = ReadFirmwareVersion(device, version);
  device.Close();
  if (!ok) error = "The pedal at " + path + " did not tell its firmware version";
  return ok != 0;
}

// The pedals attached, or with --pedal the one it names.
int CmdList(DevicePlatform& platform, const Args& a) {
  std::vector<AttachedPedal> pedals;
  std::string error;
  if (a.pedal) {
    AttachedPedal& chosen = pedals.emplace_back();
    if (!SelectPedal(platform, a, chosen.path, chosen.model, error)) return Fail(error);
  } else if (!ListPedals(platform, pedals, error)) {
    return Fail(std::string(kCannotListDevices) + ": " + error);
  }
  if (pedals.empty()) {
    std::printf("%s\n", kNoPedalAttached);
    return kExitOk;
  }
  for (const auto& p : pedals) {
    CMassStorageDevice device(platform);
    uint16_t version = 0;
    std::string line = PedalLine(p.path, p.model);
    if (ReadVersion(device, p.path, version, error)) {
      line += "  firmware " + std::to_string(version);
    } else {
      line += "  firmware unknown (" + error + ")";
    }
    std::printf("%s\n", line.c_str());
  }
  return kExitOk;
}

int CmdFirmware(DevicePlatform& platform, const Args& a, CliFrontEnd& ui) {
  std::string path, error;
  uint8_t model = 0;
  if (!SelectPedal(platform, a, path, model, error)) return Fail(error);
  CMassStorageDevice device(platform);
  uint16_t version = 0;
  const uint16_t expected = ModelInfo(model).expectedFirmware;
  if (!a.update) {
    if (!ReadVersion(device, path, version, error)) return Fail(error);
    std::printf("%s  firmware %u (this program expects %u)\n", PedalLine(path, model).c_str(),
                version, expected);
    return kExitOk;
  }
  FirmwareOptions options;
  options.allowDowngrade = a.allowDowngrade;
  options.backup = !a.noBackup;
  const FirmwareOutcome outcome = EnsureFirmware(device, path, model, ui, options);
  if (outcome.state != FirmwareState::Usable) return Fail("The firmware was not updated");
  uint16_t now = outcome.version;
  if (!ReadVersion(device, path, now, error)) return Fail(error);
  if (now != expected) {
    return Fail("The pedal reports firmware " + std::to_string(now) + " after the update, not " +
                std::to_string(expected));
  }
  std::printf("%s  firmware %u%s\n", PedalLine(path, model).c_str(), now,
              outcome.updated ? " (updated)" : "");
  return kExitOk;
}

// The pedal a transfer uses, opened for its firmware version: the window's rule decides, so the
// loop may be read off a pedal whose firmware differs (it can be saved before flashing) and only
// the carried firmware takes a new one.
bool PedalFor(DevicePlatform& platform, const Args& a, CDevice& device, PedalOperation operation,
              std::string& path, uint8_t& model, std::string& error) {
  if (!SelectPedal(platform, a, path, model, error)) return false;
  const FirmwareReading reading = CheckFirmware(device, path, model);
  if (reading.verdict == FirmwareVerdict::Unreadable) {
    error = reading.openFailed ? DescribeOpenError(path, reading.openError)
                               : std::string(kMsgFirmwareReadError) + ": " + reading.reason;
    return false;
  }
  if (Allows(StateOf(reading), operation)) return true;
  error = kPedalDoesNotMatch;
  error += FormatText(kCliUpdateFirstFormat, unsigned{reading.version});
  return false;
}

// The file an import (or restore: a backup, `file` or else the newest of the model) writes into
// the pedal at `pedal`, checked before anything is asked; a refused file is said at once. Then
// the question, which names the pedal.
std::optional<ImportCheck> CheckImport(const Args& a, const std::string& pedal, uint8_t model,
                                       const std::string& file, bool restore, CliFrontEnd& ui) {
  ImportCheck check;
  const bool newestBackup = restore && file.empty();
  if (!newestBackup) CheckImportFile(file, model, check, a.mix, a.both);
  // A file that cannot be opened says so; one that opens is first asked whose loop it holds,
  // since a backup of another model is refused by its format too, less clearly.
  if (restore && (newestBackup || check.text != kMsgCantOpenFile)) {
    BackupEntry backup;
    std::string error;
    if (!ChooseBackup(newestBackup ? std::nullopt : std::optional<std::string>(file), model, backup,
                      error)) {
      Fail(error);
      return std::nullopt;
    }
    if (newestBackup) CheckImportFile(backup.path, model, check);
    if (check.accepted) {
      std::fprintf(stderr, "Restoring %s, the loop of %s (%s)\n", check.path.c_str(),
                   LocalTime(backup.record.time).c_str(), FormatDuration(backup.frames).c_str());
    }
  }
  if (!check.accepted) {
    ui.ShowOutcome(Failure(check.text, check.reason));
    return std::nullopt;
  }
  if (check.converted) std::fprintf(stderr, "converting %s\n", check.conversion.c_str());
  if (!ui.AskYesNo(ReplaceWarning(PedalName(model, pedal)), kQuestionCaption)) {
    Fail(restore ? kRestoreDeclined : kImportDeclined);
    return std::nullopt;
  }
  return check;
}

// Runs one job on the worker thread, as the window does, and waits for its end. Ctrl-C stops
// the job cleanly; before it (during the question) it ended the program, with nothing written.
JobResult RunOnWorker(const JobRequest& request, CDevice& device, CliFrontEnd& ui) {
  TransferState state;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    state.request = request;
  }
  WavFormat wav;
  ResampleState resample;
  Worker worker(state, device, wav, resample, ui);
  {
    state.cancel.store(false);
    InterruptGuard interrupts(state.cancel);
    state.jobCode.store(request.code);
    worker.Start();
    while (worker.Busy()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    interrupts.JobEnded();
  }
  worker.Stop();
  return worker.LastResult();
}

// An export, import or restore (an import of a backup: `file`, else the newest of the model).
int RunTransfer(DevicePlatform& platform, const Args& a, CliFrontEnd& ui, JobCode code,
                const std::string& file, bool restore = false) {
  // A file is replaced only when asked for, as the window's chooser asks; a folder is left to
  // the job, which refuses it.
  std::error_code ec;
  const std::filesystem::path target = U8Path(file);
  if (code == JobExport && file != kStandardOutput && !a.force &&
      std::filesystem::exists(target, ec) && !std::filesystem::is_directory(target, ec)) {
    return Fail(file + " exists; 'rendax-cli export --force' replaces it");
  }
  CMassStorageDevice device(platform);
  JobRequest request;
  request.code = code;
  const PedalOperation operation = code == JobExport ? PedalOperation::Export
                                   : restore         ? PedalOperation::Restore
                                                     : PedalOperation::Import;
  std::string error;
  if (!PedalFor(platform, a, device, operation, request.pedalPath, request.model, error)) {
    return Fail(error);
  }
  if (code == JobImport) {
    request.importCheck = CheckImport(a, request.pedalPath, request.model, file, restore, ui);
    if (!request.importCheck) return kExitFailed;
    request.importPath = request.importCheck->path;
  } else {
    request.exportPath = file;
  }
  // As the window does: a loop that did not arrive as sent is found now, not on stage.
  request.verify = !a.noVerify;
  request.native = a.native;
  request.mix = a.mix;
  request.both = a.both;
  request.backup = !a.noBackup;  // the folder stays empty: RENDAX_BACKUP_DIR or the default
  switch (RunOnWorker(request, device, ui)) {
    case JobResult::Success:
      return kExitOk;
    case JobResult::NotOpened:
      return Fail(DescribeOpenError(request.pedalPath, device.LastOpenError()));
    case JobResult::Failed:
      break;
    case JobResult::Interrupted:
      return kExitInterrupted;  // the job has said what is left
  }
  return kExitFailed;  // the job has shown its message
}

// A usage error: what is wrong in one line, and where the help is.
int UsageError(const std::string& what) {
  std::fprintf(stderr, "rendax-cli: %s\n%s\n", what.c_str(), kUsageHint);
  return kExitUsage;
}

int CmdSim(const Args& a) {
  if (a.words[1] != "create") {
    return UsageError(std::string(kUsageUnknownCommand) + " 'sim " + a.words[1] + "'");
  }
  unsigned long model = 0, firmware = 8;
  if (!ParseNumber(*a.model, 2, model)) return UsageError("sim create needs --model 0, 1 or 2");
  if (a.firmware && !ParseNumber(*a.firmware, 65535, firmware)) {
    return UsageError("--firmware takes a version from 0 to 65535");
  }
  const std::string& dir = a.words[2];
  std::string error;
  if (!CreateSimulatedPedal(dir, static_cast<uint8_t>(model), static_cast<uint16_t>(firmware),
                            error)) {
    return Fail("Cannot create the simulated pedal: " + error);
  }
  std::string what =
      "simulated " + std::string(ModelInfo(static_cast<uint8_t>(model)).name) + " in " + dir;
  if (a.demoLoop) {
    const uint32_t channels = ModelInfo(static_cast<uint8_t>(model)).channels;
    const auto audio = SynthesizeDemoLoop(channels);
    const auto stream =
        PackDemoStream(audio, static_cast<uint16_t>(3 * channels), static_cast<uint8_t>(model));
    if (!WriteSimulatedLoop(dir, stream, LoopInfo{0, static_cast<uint32_t>(stream.size())},
                            error)) {
      return Fail("Cannot store the demo loop: " + error);
    }
    what += " with a demo loop of " + std::to_string(audio.size() / (3 * channels)) +
            " frames at 48,000 Hz";
  }
  std::printf("Created %s\n", what.c_str());
  return kExitOk;
}

int CmdWatch(DevicePlatform& platform, const Args& a) {
  WatchOptions watch;
  unsigned long n = 0;
  if (a.count) {
    if (!ParseNumber(*a.count, 999999, n) || n == 0) {
      return UsageError("--count takes a number from 1");
    }
    watch.count = n;
  }
  if (a.timeout) {
    if (!ParseNumber(*a.timeout, 999999, n)) return UsageError("--timeout takes whole seconds");
    watch.timeoutSeconds = n;
  }
  return RunWatch(platform, watch, stdout, stderr);
}

// Runs the command of a parsed command line; its options and operands are those it takes.
int Dispatch(const Args& a) {
  const std::string& cmd = a.words[0];
  if (cmd == "sim") return CmdSim(a);
  if (cmd == "info") return PrintFileInfo(a.words[1], stdout, stderr) ? kExitOk : kExitFailed;
  if (cmd == "backups") return PrintBackups(stdout, stderr) ? kExitOk : kExitFailed;
  DevicePlatform& platform = DefaultPlatform();
  if (cmd == "list") return CmdList(platform, a);
  if (cmd == "watch") return CmdWatch(platform, a);
  CliFrontEnd ui(stdout, stderr, stdin, isatty(fileno(stderr)) != 0, a.yes);
  if (cmd == "firmware") return CmdFirmware(platform, a, ui);
  if (cmd == "export") {
    const std::string file = a.words.size() == 2 ? a.words[1] : "Rendax.wav";
    if (file == kStandardOutput) {
      if (isatty(fileno(stdout))) return Fail(kStdoutIsTerminal);
      // The audio has standard output to itself; every word goes to standard error, and a
      // reader that goes away is a failed write, not the end of the program.
      ui.SendAllToErrors();
#if !defined(_WIN32)
      std::signal(SIGPIPE, SIG_IGN);
#endif
    }
    return RunTransfer(platform, a, ui, JobExport, file);
  }
  if (cmd == "import") return RunTransfer(platform, a, ui, JobImport, a.words[1]);
  // restore: the import of a backup
  return RunTransfer(platform, a, ui, JobImport, a.words.size() == 2 ? a.words[1] : "", true);
}

int Main(int argc, char** argv) {
  const std::vector<std::string> arguments(argv + std::min(argc, 1), argv + argc);
  Args a;
  std::string error;
  if (!ParseArgs(arguments, a, error)) return UsageError(error);
  if (a.help) {
    std::fputs(HelpText(a.words.empty() ? nullptr : FindCommand(a.words[0])).c_str(), stdout);
    return kExitOk;
  }
  if (a.version) {
    std::printf("rendax-cli %s\n", RENDAX_VERSION);
    return kExitOk;
  }
  return Dispatch(a);
}

}  // namespace
}  // namespace rendax

#if defined(_WIN32)
// Windows hands `main` its arguments in the ANSI code page, which cannot spell every file name;
// the wide arguments carry them all, and the program works in UTF-8 inside.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 0; i < argc; ++i) args.push_back(rendax::Narrow(argv[i]));
  std::vector<char*> pointers;
  for (std::string& a : args) pointers.push_back(a.data());
  pointers.push_back(nullptr);
  SetConsoleOutputCP(CP_UTF8);
  return rendax::Main(argc, pointers.data());
}
#else
int main(int argc, char** argv) {
  return rendax::Main(argc, argv);
}
#endif
