// rendax-cli: the pedal's export, import and firmware check from the command line, over the
// same transfer engine as the window.
#include <unistd.h>

#include <chrono>
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
#include "transfer/job.h"

namespace rendax {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitInterrupted = 130;  // as a shell reports a program ended by Ctrl-C

const char kUsage[] =
    "usage: rendax-cli [--pedal PATH] COMMAND [ARGS]\n"
    "\n"
    "commands:\n"
    "  list                         the pedals attached: path, model, firmware version\n"
    "  firmware [--update [--allow-downgrade] [--no-backup]] [--yes]\n"
    "                               show the firmware version; --update checks it and, after\n"
    "                               asking, saves the pedal's loop as a backup and writes this\n"
    "                               program's firmware into the pedal; newer firmware in the\n"
    "                               pedal is replaced only with --allow-downgrade\n"
    "  export [FILE] [--force] [--native]\n"
    "                               save the pedal's loop as a WAV file (default Rendax.wav);\n"
    "                               an existing file is replaced only with --force; --native\n"
    "                               keeps the pedal's own samples (46,875 Hz), nothing resampled\n"
    "  import FILE [--yes] [--verify] [--no-backup] [--mix]\n"
    "                               replace the pedal's loop with an audio file (WAV, FLAC,\n"
    "                               Ogg, Opus, MP3, AIFF, ...), converted to what the pedal\n"
    "                               takes; --verify reads the loop back and compares it;\n"
    "                               --mix sums a stereo file's channels for a mono pedal\n"
    "                               (otherwise its first channel goes in)\n"
    "  info FILE                    what the program sees in an audio file, and how each\n"
    "                               pedal model would take it\n"
    "  backups                      the saved loops, newest first: date, model, length, file\n"
    "  restore [FILE] [--yes] [--verify] [--no-backup]\n"
    "                               put a backup back into the pedal, exactly as it was saved\n"
    "                               (default: the newest backup of the pedal's model)\n"
    "  sim create DIR --model N [--firmware V] [--demo-loop]\n"
    "                               make a simulated pedal in DIR (model 0 Rendax, 1 Rendax\n"
    "                               Twin, 2 Rendax Mini); --demo-loop stores a short loop in it\n"
    "  watch [--count N] [--timeout SECONDS]\n"
    "                               one line per pedal plugged in (\"arrival\") or pulled out\n"
    "                               (\"removal\"), naming it (\"no pedal\" for another device);\n"
    "                               ends with status 0 after N lines, 1 on the timeout\n"
    "\n"
    "options:\n"
    "  --pedal PATH  use the pedal at PATH, written any way (relative, through a link, sg3\n"
    "                for /dev/sg3); otherwise the first pedal of model 0, 1, then 2\n"
    "  --help        this text\n"
    "  --version     the program's version\n"
    "\n"
    "Before import, restore and a firmware update replace the pedal's loop, it is saved as a\n"
    "backup (--no-backup skips this) in RENDAX_BACKUP_DIR, or else the user's data folder;\n"
    "the newest 20 of each model are kept (RENDAX_BACKUP_KEEP).\n"
    "Ctrl-C during a transfer stops it at the next block (exit status 130); a second Ctrl-C\n"
    "ends the program at once.\n"
    "Simulated pedals are used when RENDAX_SIMULATOR names the folder that holds them.\n";

struct Args {
  std::vector<std::string> words;
  std::optional<std::string> pedal;
  std::optional<std::string> model;
  std::optional<std::string> firmware;
  std::optional<std::string> count, timeout;
  bool update = false, yes = false, verify = false, demoLoop = false, help = false, version = false;
  bool force = false, noBackup = false, native = false, allowDowngrade = false, mix = false;
};

bool Parse(int argc, char** argv, Args& a, std::string& error) {
  for (int i = 1; i < argc; ++i) {
    const std::string s = argv[i];
    auto value = [&](std::optional<std::string>& into) {
      if (i + 1 >= argc) {
        error = s + " needs a value";
        return false;
      }
      into = argv[++i];
      return true;
    };
    if (s == "--help" || s == "-h") {
      a.help = true;
    } else if (s == "--version") {
      a.version = true;
    } else if (s == "--pedal") {
      if (!value(a.pedal)) return false;
    } else if (s == "--model") {
      if (!value(a.model)) return false;
    } else if (s == "--firmware") {
      if (!value(a.firmware)) return false;
    } else if (s == "--count") {
      if (!value(a.count)) return false;
    } else if (s == "--timeout") {
      if (!value(a.timeout)) return false;
    } else if (s == "--update") {
      a.update = true;
    } else if (s == "--yes" || s == "-y") {
      a.yes = true;
    } else if (s == "--force") {
      a.force = true;
    } else if (s == "--verify") {
      a.verify = true;
    } else if (s == "--demo-loop") {
      a.demoLoop = true;
    } else if (s == "--no-backup") {
      a.noBackup = true;
    } else if (s == "--native") {
      a.native = true;
    } else if (s == "--allow-downgrade") {
      a.allowDowngrade = true;
    } else if (s == "--mix") {
      a.mix = true;
    } else if (s.size() > 1 && s[0] == '-') {
      error = "unknown option " + s;
      return false;
    } else {
      a.words.push_back(s);
    }
  }
  return true;
}

// The options each command takes.
enum OptionBit : unsigned {
  kOptPedal = 1u << 0,
  kOptUpdate = 1u << 1,
  kOptYes = 1u << 2,
  kOptVerify = 1u << 3,
  kOptSim = 1u << 4,    // --model, --firmware, --demo-loop
  kOptWatch = 1u << 5,  // --count, --timeout
  kOptForce = 1u << 6,
  kOptNoBackup = 1u << 7,
  kOptNative = 1u << 8,
  kOptAllowDowngrade = 1u << 9,
  kOptMix = 1u << 10,
};

// Options that a command does not take are refused rather than ignored.
bool OnlyOptions(const Args& a, unsigned allowed, std::string& error) {
  const std::pair<bool, unsigned> given[] = {
      {a.pedal.has_value(), kOptPedal},
      {a.update, kOptUpdate},
      {a.yes, kOptYes},
      {a.verify, kOptVerify},
      {a.model || a.firmware || a.demoLoop, kOptSim},
      {a.count || a.timeout, kOptWatch},
      {a.force, kOptForce},
      {a.noBackup, kOptNoBackup},
      {a.native, kOptNative},
      {a.allowDowngrade, kOptAllowDowngrade},
      {a.mix, kOptMix},
  };
  for (const auto& [present, bit] : given) {
    if (present && !(allowed & bit)) {
      error = "an option does not belong to the command '" + a.words[0] + "'";
      return false;
    }
  }
  return true;
}

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
    error = "Cannot list the attached devices: " + error;
    return false;
  }
  const TrackedPedal* pedal = a.pedal ? tracker.Resolve(*a.pedal) : tracker.Chosen();
  if (!pedal) {
    error = a.pedal ? "No Rendax pedal at " + *a.pedal + "; " + ListAttached(tracker.Pedals())
                    : "No Rendax pedal found";
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

std::string PedalLine(const std::string& path, uint8_t model) {
  return path + "  " + ModelInfo(model).name + " (model " + std::to_string(model) + ")";
}

int CmdList(DevicePlatform& platform) {
  std::vector<AttachedPedal> pedals;
  std::string error;
  if (!ListPedals(platform, pedals, error))
    return Fail("Cannot list the attached devices: " + error);
  if (pedals.empty()) {
    std::printf("No Rendax pedal attached\n");
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
  FirmwareUpdateOptions options;
  options.allowDowngrade = a.allowDowngrade;
  if (!a.noBackup) options.beforeWrite = BackupBeforeFirmware(model);
  if (!CheckFirmware(device, path, model, version, ui, options)) {
    return Fail("The firmware was not updated");
  }
  uint16_t now = version;
  if (!ReadVersion(device, path, now, error)) return Fail(error);
  if (now != expected) {
    return Fail("The pedal reports firmware " + std::to_string(now) + " after the update, not " +
                std::to_string(expected));
  }
  std::printf("%s  firmware %u%s\n", PedalLine(path, model).c_str(), now,
              version == expected ? "" : " (updated)");
  return kExitOk;
}

// Checks the file an import or restore would write before anything is asked: a refused file
// is said at once, with what is wrong with it.
void ShowRefusal(const ImportCheck& check, CliFrontEnd& ui) {
  if (check.reason.empty()) {
    ui.ShowMessage(check.text);
  } else {
    ui.ShowMessageWithReason(check.text, check.reason);
  }
}

// Runs one job on the worker thread, as the window does, and waits for its end. `restore`: the
// import's file is a backup, `file` when given, else the newest of the pedal's model.
int RunTransfer(DevicePlatform& platform, const Args& a, CliFrontEnd& ui, JobCode code,
                std::string file, bool restore = false) {
  std::string path, error;
  uint8_t model = 0;
  // A file is replaced only when asked for, as the window's chooser asks; a folder is left to
  // the job, which refuses it.
  const std::filesystem::path target(
      std::u8string(reinterpret_cast<const char8_t*>(file.data()), file.size()));
  std::error_code ec;
  if (code == JobExport && !a.force && std::filesystem::exists(target, ec) &&
      !std::filesystem::is_directory(target, ec)) {
    return Fail(file + " exists; 'rendax-cli export --force' replaces it");
  }
  if (!SelectPedal(platform, a, path, model, error)) return Fail(error);
  CMassStorageDevice device(platform);
  uint16_t version = 0;
  // The window leaves its buttons disabled for a pedal whose firmware does not match.
  if (!ReadVersion(device, path, version, error)) return Fail(error);
  if (version != ModelInfo(model).expectedFirmware) {
    return Fail("The rendax pedal does not match the software (firmware " +
                std::to_string(version) + "); run 'rendax-cli firmware --update' first");
  }
  // A stream (a pipe, "-") is read once, by the check: the job reads that copy, which lives
  // until the job has ended.
  std::shared_ptr<ImportSource> stream;
  if (code == JobImport) {
    ImportCheck check;
    const bool newestBackup = restore && file.empty();
    bool accepted = !newestBackup && CheckImportFile(file, model, check, a.mix);
    if (restore) {
      // A file that cannot be opened says so; one that opens is first asked whose loop it holds,
      // since a backup of another model is refused by its format too, less clearly.
      if (!newestBackup && !accepted && check.text == kMsgCantOpenFile) {
        ShowRefusal(check, ui);
        return kExitFailed;
      }
      BackupEntry backup;
      if (!ChooseBackup(newestBackup ? std::nullopt : std::optional<std::string>(file), model,
                        backup, error)) {
        return Fail(error);
      }
      if (newestBackup) accepted = CheckImportFile(backup.path, model, check);
      file = backup.path;
      if (accepted) {
        std::fprintf(stderr, "Restoring %s, the loop of %s (%s)\n", file.c_str(),
                     LocalTime(backup.record.time).c_str(), FormatDuration(backup.frames).c_str());
      }
    }
    if (!accepted) {
      ShowRefusal(check, ui);
      return kExitFailed;
    }
    if (check.source && check.source->Copied()) {
      stream = check.source;
      file = stream->Path();
    }
    if (check.converted) std::fprintf(stderr, "converting %s\n", check.conversion.c_str());
    if (!ui.AskYesNo(kImportWarning, " ")) {
      return Fail(restore ? "Restore cancelled" : "Import cancelled");
    }
  }

  TransferState state;
  {
    std::lock_guard<std::mutex> lock(state.mutex);
    state.pedalPath = path;
    state.model = model;
    (code == JobExport ? state.exportPath : state.importPath) = file;
    state.verify = a.verify;
    state.native = a.native;
    state.mix = a.mix;
    state.backup = !a.noBackup;  // the folder stays empty: RENDAX_BACKUP_DIR or the default
  }
  WavFormat wav;
  ResampleState resample;
  Worker worker(state, device, wav, resample, ui);
  {
    // From here on Ctrl-C stops the job cleanly; during the question above it ended the
    // program, with nothing written.
    state.cancel.store(false);
    InterruptGuard interrupts(state.cancel);
    state.jobCode.store(code);
    worker.Start();
    while (worker.Busy()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    interrupts.JobEnded();
  }
  worker.Stop();
  switch (worker.LastResult()) {
    case JobResult::Success:
      return kExitOk;
    case JobResult::NotOpened:
      return Fail(DescribeOpenError(path, device.LastOpenError()));
    case JobResult::Failed:
      break;
    case JobResult::Interrupted:
      return kExitInterrupted;  // the job has said what is left
  }
  return kExitFailed;  // the job has shown its message
}

int CmdSim(const Args& a) {
  if (a.words.size() != 3 || a.words[1] != "create") {
    std::fprintf(stderr,
                 "usage: rendax-cli sim create DIR --model N [--firmware V] [--demo-loop]\n");
    return kExitUsage;
  }
  unsigned long model = 0, firmware = 8;
  if (!a.model || !ParseNumber(*a.model, 2, model)) {
    std::fprintf(stderr, "sim create needs --model 0, 1 or 2\n");
    return kExitUsage;
  }
  if (a.firmware && !ParseNumber(*a.firmware, 65535, firmware)) {
    std::fprintf(stderr, "--firmware takes a version from 0 to 65535\n");
    return kExitUsage;
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

int Main(int argc, char** argv) {
  Args a;
  std::string error;
  if (!Parse(argc, argv, a, error)) {
    std::fprintf(stderr, "%s\n\n%s", error.c_str(), kUsage);
    return kExitUsage;
  }
  if (a.help) {
    std::printf("%s", kUsage);
    return kExitOk;
  }
  if (a.version) {
    std::printf("rendax-cli %s\n", RENDAX_VERSION);
    return kExitOk;
  }
  if (a.words.empty()) {
    std::fprintf(stderr, "%s", kUsage);
    return kExitUsage;
  }
  const std::string& cmd = a.words[0];
  CliFrontEnd ui(stdout, stderr, stdin, isatty(fileno(stderr)) != 0, a.yes);
  auto usage = [&](const std::string& why) {
    std::fprintf(stderr, "%s\n\n%s", why.c_str(), kUsage);
    return kExitUsage;
  };
  if (cmd == "sim") {
    if (!OnlyOptions(a, kOptSim, error)) return usage(error);
    return CmdSim(a);
  }
  DevicePlatform& platform = DefaultPlatform();
  if (cmd == "list") {
    if (a.words.size() != 1) return usage("list takes no arguments");
    if (!OnlyOptions(a, 0, error)) return usage(error);
    return CmdList(platform);
  }
  if (cmd == "firmware") {
    if (a.words.size() != 1) return usage("firmware takes no arguments");
    if (!OnlyOptions(a, kOptPedal | kOptUpdate | kOptYes | kOptAllowDowngrade | kOptNoBackup,
                     error)) {
      return usage(error);
    }
    if (!a.update && (a.allowDowngrade || a.noBackup)) {
      return usage("--allow-downgrade and --no-backup go with firmware --update");
    }
    return CmdFirmware(platform, a, ui);
  }
  if (cmd == "export") {
    if (a.words.size() > 2) return usage("export takes at most one file");
    if (!OnlyOptions(a, kOptPedal | kOptForce | kOptNative, error)) return usage(error);
    return RunTransfer(platform, a, ui, JobExport, a.words.size() == 2 ? a.words[1] : "Rendax.wav");
  }
  if (cmd == "import") {
    if (a.words.size() != 2) return usage("import takes one file");
    if (!OnlyOptions(a, kOptPedal | kOptYes | kOptVerify | kOptNoBackup | kOptMix, error)) {
      return usage(error);
    }
    return RunTransfer(platform, a, ui, JobImport, a.words[1]);
  }
  if (cmd == "restore") {
    if (a.words.size() > 2) return usage("restore takes at most one file");
    if (!OnlyOptions(a, kOptPedal | kOptYes | kOptVerify | kOptNoBackup, error)) {
      return usage(error);
    }
    return RunTransfer(platform, a, ui, JobImport, a.words.size() == 2 ? a.words[1] : "", true);
  }
  if (cmd == "info") {
    if (a.words.size() != 2) return usage("info takes one file");
    if (!OnlyOptions(a, 0, error)) return usage(error);
    return PrintFileInfo(a.words[1], stdout, stderr) ? kExitOk : kExitFailed;
  }
  if (cmd == "backups") {
    if (a.words.size() != 1) return usage("backups takes no arguments");
    if (!OnlyOptions(a, 0, error)) return usage(error);
    return PrintBackups(stdout, stderr) ? kExitOk : kExitFailed;
  }
  if (cmd == "watch") {
    if (a.words.size() != 1) return usage("watch takes no arguments");
    if (!OnlyOptions(a, kOptWatch, error)) return usage(error);
    WatchOptions watch;
    unsigned long n = 0;
    if (a.count) {
      if (!ParseNumber(*a.count, 999999, n) || n == 0)
        return usage("--count takes a number from 1");
      watch.count = n;
    }
    if (a.timeout) {
      if (!ParseNumber(*a.timeout, 999999, n)) return usage("--timeout takes whole seconds");
      watch.timeoutSeconds = n;
    }
    return RunWatch(platform, watch, stdout, stderr);
  }
  return usage("unknown command '" + cmd + "'");
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
