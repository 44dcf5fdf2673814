// SPDX-License-Identifier: GPL-3.0-or-later
// rendax-cli's option table: the parser takes what it says and nothing else, and the bash
// completion and the manual page, written by hand, say the same.
#include "cli/options.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "tests/cli/cli_support.h"

namespace rendax::testing {
namespace {

using Words = std::vector<std::string>;

Words Split(const std::string& s) {
  std::istringstream in(s);
  return {std::istream_iterator<std::string>(in), std::istream_iterator<std::string>()};
}

// The command with its fewest operands: its literal words as they are, the others "-" (standard
// input or output, which the parser leaves to the job).
Words Minimal(const CommandSpec& c) {
  Words line{std::string(c.name)};
  for (const std::string& w : Split(std::string(c.operands))) {
    if (w[0] != '[') line.push_back(std::islower(static_cast<unsigned char>(w[0])) ? w : "-");
  }
  return line;
}

// The long names of the options `c` takes, the program's own left out.
std::set<std::string> OptionsOf(const CommandSpec& c) {
  std::set<std::string> names;
  for (const OptionSpec& o : kOptions) {
    if ((o.commands & c.bit) && o.commands != kEveryCommand) names.emplace(o.name);
  }
  return names;
}

// What is wrong with `line`, or "" when it is taken (`a` then holds it).
std::string Refusal(const Words& line, Args& a) {
  a = Args{};
  std::string error;
  return ParseArgs(line, a, error) ? "" : error;
}

// Every command with every option in either spelling (a value, and a partner where it needs
// one), every option it does not take, and one operand too many or too few.
TEST(CliOptions, EachCommandTakesItsOwnOptionsAndOperandsOnly) {
  for (const CommandSpec& c : kCommands) {
    const std::string name(c.name);
    const Words words = Minimal(c);
    Words line = words;
    for (const OptionSpec& o : kOptions) {
      if ((o.commands & c.bit) && o.required) line.insert(line.end(), {std::string(o.name), "1"});
    }
    Args a;
    for (const OptionSpec& o : kOptions) {
      const bool taken = std::any_of(std::begin(kOptions), std::end(kOptions), [&](auto& other) {
        return other.name == o.name && (other.commands & c.bit);
      });
      for (std::string_view spelling : {o.name, o.alias}) {
        if (spelling.empty() || (taken && !(o.commands & c.bit))) continue;
        const std::string typed = name + " " + std::string(spelling);
        Words with = line;
        with.emplace_back(spelling);
        if (!o.argument.empty()) with.push_back("v");
        if (!o.with.empty()) with.emplace_back(o.with);
        if (!taken) {
          EXPECT_EQ(Refusal(with, a), "unknown option '" + std::string(spelling) + "' for " + name);
          continue;
        }
        EXPECT_EQ(Refusal(with, a), "") << typed;
        EXPECT_TRUE(o.flag ? a.*(o.flag) : a.*(o.value) == "v") << typed;
        EXPECT_TRUE(a.help || a.version || a.words == words) << typed;
      }
    }
    Words more = line;
    more.insert(more.begin() + 1 + c.minOperands, c.maxOperands - c.minOperands, "x");
    more.insert(more.begin() + 1 + c.maxOperands, "extra");
    EXPECT_EQ(Refusal(more, a), "unexpected argument 'extra' for " + name);
    if (c.minOperands > 0) {
      line.erase(line.begin() + c.minOperands);
      EXPECT_EQ(Refusal(line, a), name + " needs " + std::string(c.operands));
    }
  }
}

TEST(CliOptions, LinesAsTheyAreReadOrWhatIsWrongWithThem) {
  struct Case {
    const char* line;
    std::string refusal;  // "" for a line taken, whose words are then `words`
    const char* words;
  };
  const Case cases[] = {
      {"--count 2 watch", "", "watch"},  // a value is never the command
      {"--pedal=x list", "", "list"},
      {"import -- --yes", "", "import --yes"},  // after "--" only operands
      {"import --frob --help", "", "import"},   // help is at hand whatever else is wrong
      {"frob --help", "unknown command 'frob'", ""},
      {"--yes", "missing command", ""},
      {"--frob", "unknown option '--frob'", ""},
      {"list --pedal", "option '--pedal' needs a value", ""},
      {"export --force=yes", "option '--force' takes no value", ""},
      {"sim create x", "sim needs --model N", ""},
      {"firmware --no-backup", "option '--no-backup' goes with --update", ""},
  };
  for (const Case& c : cases) {
    Args a;
    EXPECT_EQ(Refusal(Split(c.line), a), c.refusal) << c.line;
    if (c.refusal.empty()) {
      EXPECT_EQ(a.words, Split(c.words)) << c.line;
    }
  }
}

// The commands; before one the program's options and the pedal's; after one its options, also
// when an option with a value stands before it. Bash completes each line (its last word) with
// the completion sourced and the two helpers of bash-completion that it calls stood in for.
TEST(CliOptions, TheCompletionOffersWhatTheTableHolds) {
  std::vector<Words> lines{{""}, {"--"}};
  std::vector<std::set<std::string>> want{{}, {std::string(kLeadingOption)}};
  for (const CommandSpec& c : kCommands) want[0].emplace(c.name);
  for (const OptionSpec& o : kOptions) {
    if (o.commands == kEveryCommand) want[1].emplace(o.name);
  }
  for (const CommandSpec& c : kCommands) {
    std::vector<Words> before{{}};
    for (const OptionSpec& o : kOptions) {
      if (!o.argument.empty() && (o.commands & c.bit)) before.push_back({std::string(o.name), "v"});
    }
    for (Words l : before) {
      for (const std::string& w : Minimal(c)) {
        if (w != "-") l.push_back(w);
      }
      l.push_back("--");
      lines.push_back(l);
      want.push_back(OptionsOf(c));
    }
  }
  std::string script = R"sh(
_init_completion() { words=("${COMP_WORDS[@]}"); cword=$COMP_CWORD;
  cur=${COMP_WORDS[COMP_CWORD]}; prev=${COMP_WORDS[COMP_CWORD-1]}; }
_filedir() { :; }
line() { COMP_WORDS=(rendax-cli "$@"); COMP_CWORD=$#; COMPREPLY=(); _rendax_cli; echo "${COMPREPLY[*]}"; }
source ')sh" RENDAX_SOURCE_DIR "/packaging/linux/bash-completion/rendax-cli'\n";
  for (const Words& l : lines) {
    script += "line";
    for (const std::string& w : l) script += " '" + w + "'";
    script += "\n";
  }
  TempDir dir("completion");
  WriteFileBytes(dir / "script", {script.begin(), script.end()});
  ASSERT_EQ(RunShell("bash '" + dir / "script" + "' >'" + dir / "out" + "'"), 0);
  std::istringstream out(ReadText(dir / "out"));
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string offered;
    std::getline(out, offered);
    const Words w = Split(offered);
    EXPECT_EQ(std::set<std::string>(w.begin(), w.end()), want[i])
        << ::testing::PrintToString(lines[i]);
  }
}

// Each command's entry heads with the options it takes, but the pedal's, which OPTIONS tells
// once, as it does the program's own; OPTIONS tells of no option the program does not have.
TEST(CliOptions, TheManualPageNamesTheOptionsOfTheTable) {
  // Read by hand, not with <regex>: g++ 12 warns inside it at -O2 with the sanitizers.
  const std::string page = ReadText(RENDAX_SOURCE_DIR "/packaging/linux/man/rendax-cli.1.in");
  std::string text;  // without font escapes and quotes, "\\-" as "-"
  for (size_t i = 0; i < page.size(); ++i) {
    if (page.compare(i, 2, "\\f") == 0 && i + 2 < page.size()) {
      i += 2;  // the escape and its font letter
    } else if (page.compare(i, 2, "\\-") == 0) {
      text += '-';
      ++i;
    } else if (page[i] != '"') {
      text += page[i];
    }
  }
  std::map<std::string, std::string> headings;  // the line after each .TP, by its first word
  for (size_t at = text.find("\n.TP\n."); at != std::string::npos;
       at = text.find("\n.TP\n.", at + 1)) {
    const size_t lineStart = at + 5, lineEnd = std::min(text.find('\n', lineStart), text.size());
    const std::string line = text.substr(lineStart, lineEnd - lineStart);  // ".B first rest"
    const size_t space = line.find(' ');
    if (space == std::string::npos) continue;
    const size_t end = std::min(line.find_first_of(" ,", space + 1), line.size());
    headings[line.substr(space + 1, end - space - 1)] = line.substr(end);
  }
  const auto optionsIn = [](const std::string& h) {
    std::set<std::string> named;
    for (size_t at = h.find("--"); at != std::string::npos; at = h.find("--", at + 2)) {
      size_t end = at + 2;
      if (end >= h.size() || h[end] < 'a' || h[end] > 'z') continue;
      while (end < h.size() && ((h[end] >= 'a' && h[end] <= 'z') || h[end] == '-')) ++end;
      named.insert(h.substr(at, end - at));
    }
    return named;
  };
  for (const CommandSpec& c : kCommands) {
    const std::string& h = headings[std::string(c.name)];
    const std::set<std::string> named = optionsIn(h);
    auto want = OptionsOf(c);
    want.erase(std::string(kLeadingOption));
    EXPECT_EQ(named, want) << c.name << h;
  }
  std::set<std::string> all;
  for (const OptionSpec& o : kOptions) {
    all.emplace(o.name);
    if (o.commands == kEveryCommand || o.name == kLeadingOption) {
      EXPECT_TRUE(headings.contains(std::string(o.name))) << o.name;
    }
  }
  for (const auto& [first, rest] : headings) {
    EXPECT_TRUE(!first.starts_with("--") || all.contains(first)) << first;
  }
}

}  // namespace
}  // namespace rendax::testing
