// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/options.h"

#include <algorithm>

#include "transfer/texts.h"

namespace rendax {
namespace {

// Where an option's help starts, whatever its indent: the longest name with its value fits.
constexpr size_t kHelpColumn = 25;

const char kNotes[] =
    "Before import, restore and a firmware update replace the pedal's loop, it is\n"
#if defined(_WIN32)
    "saved as a backup (--no-backup skips this) in RENDAX_BACKUP_DIR, or else\n"
    "%LOCALAPPDATA%\\Rendax\\Backups; the newest 20 of each model are kept\n"
    "(RENDAX_BACKUP_KEEP).\n"
#else
    "saved as a backup (--no-backup skips this) in RENDAX_BACKUP_DIR, or else the\n"
    "user's data folder; the newest 20 of each model are kept (RENDAX_BACKUP_KEEP).\n"
#endif
    "Ctrl-C during a transfer stops it at the next block (exit status 130); a second\n"
    "Ctrl-C ends the program at once.\n"
    "Simulated pedals are used when RENDAX_SIMULATOR names their folder.\n";

bool IsOption(const std::string& word) {
  return word.size() > 1 && word[0] == '-';
}

// The row of `name` (either spelling) among the options of `commands`, or nullptr.
const OptionSpec* FindOption(std::string_view name, unsigned commands) {
  for (const OptionSpec& o : kOptions) {
    if ((o.commands & commands) && (o.name == name || (!o.alias.empty() && o.alias == name))) {
      return &o;
    }
  }
  return nullptr;
}

std::string Quoted(std::string_view s) {
  std::string quoted = "'";
  return quoted.append(s).append("'");
}

// `text` with each line after the first indented to `column`.
std::string Continued(std::string_view text, size_t column) {
  std::string out;
  for (char c : text) {
    out += c;
    if (c == '\n') out.append(column, ' ');
  }
  return out;
}

void AppendOption(std::string& out, const OptionSpec& o, size_t indent) {
  std::string label = std::string(o.name);
  if (!o.alias.empty()) label.append(", ").append(o.alias);
  if (!o.argument.empty()) label.append(" ").append(o.argument);
  out.append(indent, ' ');
  out += label;
  out.append(std::max(kHelpColumn, indent + label.size() + 2) - indent - label.size(), ' ');
  out += Continued(o.help, kHelpColumn) + "\n";
}

// "[--update [--allow-downgrade]]": an option, with those that go with it inside its brackets.
std::string Synopsis(const OptionSpec& o, unsigned command) {
  std::string s(o.name);
  if (!o.argument.empty()) s.append(" ").append(o.argument);
  for (const OptionSpec& inner : kOptions) {
    if ((inner.commands & command) && inner.with == o.name)
      s.append(" ").append(Synopsis(inner, command));
  }
  return o.required ? s : "[" + s + "]";
}

std::string Synopsis(const CommandSpec& c) {
  std::string s(c.name);
  if (!c.operands.empty()) s.append(" ").append(c.operands);
  for (const OptionSpec& o : kOptions) {
    if ((o.commands & c.bit) && o.commands != kEveryCommand && o.with.empty()) {
      s.append(" ").append(Synopsis(o, c.bit));
    }
  }
  return s;
}

// Each switch sets a flag and each option with a value stores it.
constexpr bool EveryOptionStoresItself() {
  for (const OptionSpec& o : kOptions) {
    if (o.argument.empty() ? (!o.flag || o.value) : (o.flag || !o.value)) return false;
  }
  return true;
}
static_assert(EveryOptionStoresItself());

// An option that several commands take is told once, after the commands.
bool Shared(const OptionSpec& o) {
  return (o.commands & (o.commands - 1)) != 0;
}

}  // namespace

const CommandSpec* FindCommand(std::string_view name) {
  for (const CommandSpec& c : kCommands) {
    if (c.name == name) return &c;
  }
  return nullptr;
}

namespace {

// The command word: options stand before or after it, and what they are depends on it. An
// option's value is never the command, whichever command takes the option.
std::optional<std::string> CommandWord(std::span<const std::string> arguments) {
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& s = arguments[i];
    if (s == "--") return i + 1 < arguments.size() ? std::optional(arguments[i + 1]) : std::nullopt;
    if (!IsOption(s)) return s;
    if (const OptionSpec* o = FindOption(s, kEveryCommand); o && !o->argument.empty()) ++i;
  }
  return std::nullopt;
}

// Every word into `a`: the operands in order, each option that `taken` allows. `error` keeps the
// first wrong option, `given` the options read.
void ReadWords(std::span<const std::string> arguments, unsigned taken,
               const std::string& forCommand, Args& a, std::vector<const OptionSpec*>& given,
               std::string& error) {
  bool operandsOnly = false;
  for (size_t i = 0; i < arguments.size(); ++i) {
    const std::string& s = arguments[i];
    if (operandsOnly || !IsOption(s)) {
      a.words.push_back(s);
      continue;
    }
    if (s == "--") {
      operandsOnly = true;
      continue;
    }
    const size_t equals = s.find('=');
    const std::string name = s.substr(0, equals);
    const OptionSpec* o = FindOption(name, taken);
    std::string wrong;
    if (!o) {
      wrong = std::string(kUsageUnknownOption) + " " + Quoted(name) + forCommand;
    } else if (o->argument.empty()) {
      if (equals == std::string::npos) {
        a.*(o->flag) = true;
      } else {
        wrong = "option " + Quoted(name) + " " + kUsageTakesNoValue;
      }
    } else if (equals != std::string::npos) {
      a.*(o->value) = s.substr(equals + 1);
    } else if (i + 1 < arguments.size()) {
      a.*(o->value) = arguments[++i];
    } else {
      wrong = "option " + Quoted(name) + " " + kUsageNeedsValue;
    }
    if (o && wrong.empty()) given.push_back(o);
    if (error.empty()) error = wrong;
  }
}

// What `command` needs of its words: its operands, its required options, each option's partner.
bool CheckNeeds(const CommandSpec& command, const std::string& forCommand, const Args& a,
                const std::vector<const OptionSpec*>& given, std::string& error) {
  const size_t operands = a.words.size() - 1;
  if (operands > command.maxOperands) {
    error = std::string(kUsageUnexpectedArgument) + " " + Quoted(a.words[command.maxOperands + 1]) +
            forCommand;
    return false;
  }
  std::string needs;
  if (operands < command.minOperands) {
    needs = command.operands;
  } else {
    for (const OptionSpec& o : kOptions) {
      if ((o.commands & command.bit) && o.required &&
          std::find(given.begin(), given.end(), &o) == given.end()) {
        needs = std::string(o.name) + " " + std::string(o.argument);
        break;
      }
    }
  }
  if (!needs.empty()) {
    error = std::string(command.name) + " " + kUsageNeeds + " " + needs;
    return false;
  }
  for (const OptionSpec* o : given) {
    const bool partnered = std::any_of(given.begin(), given.end(),
                                       [&](const OptionSpec* p) { return p->name == o->with; });
    if (!o->with.empty() && !partnered) {
      error = "option " + Quoted(o->name) + " " + kUsageGoesWith + " " + std::string(o->with);
      return false;
    }
  }
  return true;
}

}  // namespace

bool ParseArgs(std::span<const std::string> arguments, Args& a, std::string& error) {
  const std::optional<std::string> commandWord = CommandWord(arguments);
  const CommandSpec* command = commandWord ? FindCommand(*commandWord) : nullptr;
  if (commandWord && !command) {
    error = std::string(kUsageUnknownCommand) + " " + Quoted(*commandWord);
    return false;
  }
  const std::string forCommand = command ? " for " + std::string(command->name) : "";
  std::vector<const OptionSpec*> given;
  ReadWords(arguments, command ? command->bit : kEveryCommand, forCommand, a, given, error);
  // Help is at hand whatever else is wrong with the line.
  if (a.help) {
    error.clear();
    return true;
  }
  if (!error.empty()) return false;
  if (a.version) return true;
  if (!command) {
    error = kUsageMissingCommand;
    return false;
  }
  return CheckNeeds(*command, forCommand, a, given, error);
}

std::string HelpText(const CommandSpec* command) {
  std::string out;
  if (command) {
    out = "usage: rendax-cli " + Synopsis(*command) + "\n\n" + Continued(command->help, 0) + "\n";
    bool first = true;
    for (const OptionSpec& o : kOptions) {
      if ((o.commands & command->bit) && o.commands != kEveryCommand) {
        if (first) out += "\n";
        first = false;
        AppendOption(out, o, 2);
      }
    }
    return out;
  }
  const OptionSpec* leading = FindOption(kLeadingOption, kEveryCommand);
  out = "usage: rendax-cli " + Synopsis(*leading, leading->commands) +
        " COMMAND [ARGS]\n"
        "       rendax-cli [COMMAND] --help\n"
        "\n"
        "commands:\n";
  for (const CommandSpec& c : kCommands) {
    out += "  " + Synopsis(c) + "\n      " + Continued(c.help, 6) + "\n";
    for (const OptionSpec& o : kOptions) {
      if ((o.commands & c.bit) && !Shared(o)) AppendOption(out, o, 6);
    }
  }
  out += "\noptions:\n";
  for (const OptionSpec& o : kOptions) {
    if (Shared(o)) AppendOption(out, o, 2);
  }
  return out + "\n" + kNotes;
}

}  // namespace rendax
