// SPDX-License-Identifier: GPL-3.0-or-later
// rendax-cli's commands and options, each in one table: the parser and --help follow them, and
// the tests hold the bash completion and the manual page to them.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace rendax {

// A command line as parsed. `words` holds the command and its operands, in order; "-" is an
// operand like any other (standard input or output, as the job takes it).
struct Args {
  std::vector<std::string> words;
  std::optional<std::string> pedal;
  std::optional<std::string> model;
  std::optional<std::string> firmware;
  std::optional<std::string> count, timeout;
  bool update = false, yes = false, demoLoop = false, help = false, version = false;
  bool verify = false, noVerify = false;  // an import is read back unless --no-verify
  bool force = false, noBackup = false, native = false, allowDowngrade = false, mix = false;
  bool both = false;
};

// The commands, one bit each, so that an option can name the commands that take it.
enum CommandBit : unsigned {
  kCmdList = 1u << 0,
  kCmdFirmware = 1u << 1,
  kCmdExport = 1u << 2,
  kCmdImport = 1u << 3,
  kCmdInfo = 1u << 4,
  kCmdBackups = 1u << 5,
  kCmdRestore = 1u << 6,
  kCmdSim = 1u << 7,
  kCmdWatch = 1u << 8,
  kEveryCommand = (1u << 9) - 1,  // the program's own options, taken with any command or none
};

struct CommandSpec {
  CommandBit bit;
  std::string_view name;
  std::string_view operands;  // as the help writes them: "FILE", "[FILE]", "create DIR"
  unsigned minOperands, maxOperands;
  std::string_view help;  // what it does; a line break continues it on the next line
};

struct OptionSpec {
  unsigned commands;  // CommandBits: the commands that take it
  std::string_view name;
  std::string_view alias;     // a one-letter spelling ("-y"), or ""
  std::string_view argument;  // the value's name ("N"); "" for a switch
  std::string_view help;      // one line; a line break continues it
  bool Args::*flag = nullptr;
  std::optional<std::string> Args::*value = nullptr;
  std::string_view with = {};  // an option it only goes with ("--update"), or ""
  bool required = false;       // the command needs it
};

inline constexpr CommandSpec kCommands[] = {
    {kCmdList, "list", "", 0, 0,
     "the pedals attached: path, model, firmware version (--pedal: that one)"},
    {kCmdFirmware, "firmware", "", 0, 0,
     "show the firmware version and the version this program expects"},
    {kCmdExport, "export", "[FILE]", 0, 1,
     "save the pedal's loop as a WAV file (default Rendax.wav; - writes it to\n"
     "standard output)"},
    {kCmdImport, "import", "FILE", 1, 1,
     "replace the pedal's loop with an audio file (WAV in any form, RF64, AIFF,\n"
     "FLAC, Ogg Vorbis, Opus, MP3; - reads standard input), converted to what\n"
     "the pedal takes"},
    {kCmdInfo, "info", "FILE", 1, 1,
     "what the program sees in an audio file, and how each pedal model would\n"
     "take it"},
    {kCmdBackups, "backups", "", 0, 0, "the saved loops, newest first: date, model, length, file"},
    {kCmdRestore, "restore", "[FILE]", 0, 1,
     "put a backup back into the pedal, exactly as it was saved (default: the\n"
     "newest backup of the pedal's model)"},
    {kCmdSim, "sim", "create DIR", 2, 2, "make a simulated pedal in DIR"},
    {kCmdWatch, "watch", "", 0, 0,
     "one line per pedal plugged in (\"arrival\") or pulled out (\"removal\"),\n"
     "naming it (\"no pedal\" for another device)"},
};

// The pedal goes before the command in the usage line, as the one option most commands share.
inline constexpr std::string_view kLeadingOption = "--pedal";

// How a pedal is named where the program runs: as `list` shows it, or the short way people type.
#if defined(_WIN32)
inline constexpr std::string_view kPedalHelp =
    "use the pedal at PATH as `list` shows it, or its drive\n"
    "letter (E: for \\\\.\\E:); otherwise the first pedal of\n"
    "model 0, 1, then 2";
#else
inline constexpr std::string_view kPedalHelp =
    "use the pedal at PATH, written any way (relative,\n"
    "through a link, sg3 for /dev/sg3); otherwise the\n"
    "first pedal of model 0, 1, then 2";
#endif

inline constexpr OptionSpec kOptions[] = {
    {kCmdFirmware, "--update", "", "",
     "check the version and, after asking, save the pedal's\n"
     "loop as a backup and write this program's firmware\n"
     "into the pedal",
     &Args::update},
    {kCmdFirmware, "--allow-downgrade", "", "", "replace newer firmware in the pedal too",
     &Args::allowDowngrade, nullptr, "--update"},
    {kCmdFirmware, "--no-backup", "", "", "write the firmware without saving the loop first",
     &Args::noBackup, nullptr, "--update"},
    {kCmdFirmware | kCmdImport | kCmdRestore, "--yes", "-y", "",
     "answer yes to the question before the pedal's loop or\n"
     "firmware is replaced",
     &Args::yes},
    {kCmdExport, "--force", "", "", "replace an existing file", &Args::force},
    {kCmdExport, "--native", "", "", "the pedal's own samples (46,875 Hz), nothing resampled",
     &Args::native},
    {kCmdImport | kCmdRestore, "--verify", "", "",
     "read the loop back and compare it (the default)", &Args::verify},
    {kCmdImport | kCmdRestore, "--no-verify", "", "", "skip reading the loop back",
     &Args::noVerify},
    {kCmdImport | kCmdRestore, "--no-backup", "", "",
     "replace the loop without saving it as a backup first", &Args::noBackup},
    {kCmdImport, "--mix", "", "",
     "a stereo file into a one-channel pedal: sum its\n"
     "channels (otherwise its first channel goes in)",
     &Args::mix},
    {kCmdImport, "--both", "", "",
     "a mono file into the two-channel pedal: play it on\n"
     "both sides (otherwise on the left only)",
     &Args::both},
    {kCmdSim,
     "--model",
     "",
     "N",
     "0 Rendax, 1 Rendax Twin, 2 Rendax Mini",
     nullptr,
     &Args::model,
     {},
     true},
    {kCmdSim, "--firmware", "", "V", "the firmware version it reports (8 unless given)", nullptr,
     &Args::firmware},
    {kCmdSim, "--demo-loop", "", "", "store a short loop in it", &Args::demoLoop},
    {kCmdWatch, "--count", "", "N", "end with status 0 after N lines", nullptr, &Args::count},
    {kCmdWatch, "--timeout", "", "SECONDS", "end with status 1 after this long", nullptr,
     &Args::timeout},
    {kCmdList | kCmdFirmware | kCmdExport | kCmdImport | kCmdRestore, "--pedal", "", "PATH",
     kPedalHelp, nullptr, &Args::pedal},
    {kEveryCommand, "--help", "-h", "", "this text; COMMAND --help: that command's", &Args::help},
    {kEveryCommand, "--version", "", "", "the program's version", &Args::version},
};

// The command named `name`, or nullptr.
const CommandSpec* FindCommand(std::string_view name);

// Parses the arguments after the program's name. False with `error` set to what is wrong, in
// one line ("unknown option '--foo' for import"), when the command line is not one the program
// takes. With --help only the command's name is checked, so that help is always at hand.
bool ParseArgs(std::span<const std::string> arguments, Args& args, std::string& error);

// The help: every command with its options (`command` null), or one command's.
std::string HelpText(const CommandSpec* command = nullptr);

}  // namespace rendax
