// rendax-cli's option table: the parser takes what it says and nothing else, and the bash
// completion and the manual page, written by hand, say the same.
#include "cli/options.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include <gtest/gtest.h>

#include "tests/cli/cli_support.h"

namespace rendax::testing {
namespace {

using Words = std::vector<std::string>;

// The fewest operands `command` takes: its literal words as they are, the rest as "x".
Words Operands(const CommandSpec& command) {
  Words words;
  std::istringstream in{std::string(command.operands)};
  for (std::string w; in >> w;) {
    if (w[0] == '[') continue;
    words.push_back(std::islower(static_cast<unsigned char>(w[0])) ? w : "x");
  }
  return words;
}

// The options `command` takes, by their long names, the program's own left out.
std::set<std::string> OptionsOf(const CommandSpec& command) {
  std::set<std::string> names;
  for (const OptionSpec& o : kOptions) {
    if ((o.commands & command.bit) && o.commands != kEveryCommand) names.emplace(o.name);
  }
  return names;
}

bool Parse(const Words& words, Args& args, std::string& error) {
  args = Args{};
  error.clear();
  return ParseArgs(words, args, error);
}

// Every command with every option in either spelling, every option it does not take, and one
// operand too many or too few.
TEST(CliOptions, EachCommandTakesItsOwnOptionsAndOperandsOnly) {
  for (const CommandSpec& c : kCommands) {
    const std::string name(c.name);
    Words line{name};
    for (const std::string& w : Operands(c)) line.push_back(w);
    const Words words = line;
    for (const OptionSpec& o : kOptions) {
      if ((c.bit & o.commands) && o.required) line.insert(line.end(), {std::string(o.name), "1"});
    }
    Args a;
    std::string error;
    for (const OptionSpec& o : kOptions) {
      for (std::string_view spelling : {o.name, o.alias}) {
        if (spelling.empty()) continue;
        SCOPED_TRACE(name + " " + std::string(spelling));
        Words with = line;
        with.emplace_back(spelling);
        if (!o.argument.empty()) with.push_back("v");
        if (!o.with.empty()) with.emplace_back(o.with);
        const bool taken = (c.bit & o.commands) != 0 ||
                           std::any_of(std::begin(kOptions), std::end(kOptions), [&](auto& other) {
                             return other.name == o.name && (other.commands & c.bit);
                           });
        if (!taken) {
          EXPECT_FALSE(Parse(with, a, error));
          EXPECT_EQ(error, "unknown option '" + std::string(spelling) + "' for " + name);
        } else if (c.bit & o.commands) {
          ASSERT_TRUE(Parse(with, a, error)) << error;
          EXPECT_TRUE(o.flag ? a.*(o.flag) : a.*(o.value) == "v");
          if (!a.help && !a.version) {
            EXPECT_EQ(a.words, words);
          }
        }
      }
    }
    Words more = line;
    more.insert(more.begin() + 1 + c.minOperands, c.maxOperands - c.minOperands, "x");
    more.insert(more.begin() + 1 + c.maxOperands, "extra");
    ASSERT_FALSE(Parse(more, a, error)) << name;
    EXPECT_EQ(error, "unexpected argument 'extra' for " + name);
    if (c.minOperands > 0) {
      Words fewer = line;
      fewer.erase(fewer.begin() + c.minOperands);
      ASSERT_FALSE(Parse(fewer, a, error)) << name;
      EXPECT_EQ(error, name + " needs " + std::string(c.operands));
    }
  }
}

TEST(CliOptions, LinesAsTheyAreReadOrWhatIsWrongWithThem) {
  struct Case {
    const char* line;
    const char* error;  // "" for a line taken
    Words words;
  };
  const Case cases[] = {
      {"import -", "", {"import", "-"}},  // standard input, left to the job
      {"export - --force", "", {"export", "-"}},
      {"--pedal list watch --count 2", "unknown option '--pedal' for watch", {}},
      {"--count 2 watch", "", {"watch"}},  // a value is never the command
      {"--pedal=x list", "", {"list"}},
      {"import -- --yes", "", {"import", "--yes"}},  // after "--" only operands
      {"import --frob --help", "", {"import"}},      // help is at hand whatever else is wrong
      {"frob --help", "unknown command 'frob'", {}},
      {"", "missing command", {}},
      {"--frob", "unknown option '--frob'", {}},
      {"--yes", "missing command", {}},
      {"list --pedal", "option '--pedal' needs a value", {}},
      {"export --force=yes", "option '--force' takes no value", {}},
      {"sim create x", "sim needs --model N", {}},
      {"firmware --no-backup", "option '--no-backup' goes with --update", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    Words line;
    std::istringstream in(c.line);
    for (std::string w; in >> w;) line.push_back(w);
    Args a;
    std::string error;
    EXPECT_EQ(Parse(line, a, error), !*c.error);
    EXPECT_EQ(error, c.error);
    if (!*c.error) {
      EXPECT_EQ(a.words, c.words);
    }
  }
}

// What bash completes for each line: the completion file sourced, with the two helpers of
// bash-completion that it calls stood in for.
std::vector<std::set<std::string>> Complete(const std::vector<Words>& lines) {
  TempDir dir("completion");
  std::string input;
  for (const Words& l : lines) {
    for (const std::string& w : l) input += "'" + w + "' ";
    input += "\n";
  }
  WriteFileBytes(dir / "lines", {input.begin(), input.end()});
  const std::string driver =
      "_init_completion() { words=(\"${COMP_WORDS[@]}\"); cword=$COMP_CWORD;"
      " cur=${COMP_WORDS[COMP_CWORD]}; prev=${COMP_WORDS[COMP_CWORD-1]}; }\n"
      "_filedir() { :; }\n"
      "source \"$1\"\n"
      "while IFS= read -r line; do\n"
      "  eval \"COMP_WORDS=($line)\"; COMP_CWORD=$((${#COMP_WORDS[@]} - 1)); COMPREPLY=()\n"
      "  _rendax_cli; echo \"${COMPREPLY[*]}\"\n"
      "done\n";
  WriteFileBytes(dir / "driver", {driver.begin(), driver.end()});
  const std::string completion = RENDAX_SOURCE_DIR "/packaging/linux/bash-completion/rendax-cli";
  EXPECT_EQ(RunShell("bash '" + dir / "driver" + "' '" + completion + "' <'" + dir / "lines" +
                     "' >'" + dir / "out" + "'"),
            0);
  std::vector<std::set<std::string>> offered;
  std::istringstream out(ReadText(dir / "out"));
  for (std::string l; std::getline(out, l);) {
    std::istringstream words(l);
    offered.emplace_back(std::istream_iterator<std::string>(words),
                         std::istream_iterator<std::string>());
  }
  return offered;
}

TEST(CliOptions, TheCompletionOffersWhatTheTableHolds) {
  std::vector<Words> lines{{"rendax-cli", ""}, {"rendax-cli", "--"}};
  std::vector<std::set<std::string>> want(2);
  for (const CommandSpec& c : kCommands) want[0].emplace(c.name);
  want[1].emplace(kLeadingOption);
  for (const OptionSpec& o : kOptions) {
    if (o.commands == kEveryCommand) want[1].emplace(o.name);
  }
  for (const CommandSpec& c : kCommands) {
    // The command's options, also after an option's value that stands before the command.
    std::vector<Words> before{{}};
    for (const OptionSpec& o : kOptions) {
      if (!o.argument.empty() && (o.commands & c.bit)) before.push_back({std::string(o.name), "v"});
    }
    for (const Words& b : before) {
      Words l{"rendax-cli"};
      l.insert(l.end(), b.begin(), b.end());
      l.emplace_back(c.name);
      for (const std::string& w : Operands(c)) {
        if (w != "x") l.push_back(w);
      }
      l.push_back("--");
      lines.push_back(l);
      want.push_back(OptionsOf(c));
    }
  }
  const auto offered = Complete(lines);
  ASSERT_EQ(offered.size(), lines.size());
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string typed;
    for (const std::string& w : lines[i]) typed += w + " ";
    EXPECT_EQ(offered[i], want[i]) << typed;
  }
}

// The manual page in plain words: no font changes, quotes or escaped hyphens.
std::vector<std::string> ManLines() {
  std::string text = ReadText(RENDAX_SOURCE_DIR "/packaging/linux/man/rendax-cli.1.in");
  text = std::regex_replace(text, std::regex(R"(\\f[BIRP]|")"), "");
  text = std::regex_replace(text, std::regex(R"(\\-)"), "-");
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string l; std::getline(in, l);) lines.push_back(l);
  return lines;
}

std::set<std::string> OptionsIn(const std::string& line) {
  static const std::regex option("--[a-z][a-z-]*");
  return {std::sregex_token_iterator(line.begin(), line.end(), option),
          std::sregex_token_iterator()};
}

// Each command's entry heads with its options (the pedal's choice is told once, under OPTIONS),
// and OPTIONS tells of no option that is not there.
TEST(CliOptions, TheManualPageNamesTheOptionsOfTheTable) {
  const auto lines = ManLines();
  std::map<std::string, std::string> headings;  // by first word, in its section
  std::string section;
  std::set<std::string> described;
  for (size_t i = 0; i + 1 < lines.size(); ++i) {
    if (lines[i].starts_with(".SH ")) section = lines[i].substr(4);
    if (lines[i] != ".TP") continue;
    std::istringstream heading(lines[i + 1]);
    std::string macro, first;
    heading >> macro >> first;
    if (section == "COMMANDS") headings[first] = lines[i + 1];
    if (section == "OPTIONS") {
      described.insert(first.substr(0, first.find(',')));
      std::set<std::string> all;
      for (const OptionSpec& o : kOptions) all.emplace(o.name);
      EXPECT_TRUE(all.contains(first.substr(0, first.find(',')))) << lines[i + 1];
    }
  }
  for (const CommandSpec& c : kCommands) {
    SCOPED_TRACE(c.name);
    const auto heading = headings.find(std::string(c.name));
    ASSERT_NE(heading, headings.end());
    auto want = OptionsOf(c);
    want.erase(std::string(kLeadingOption));
    EXPECT_EQ(OptionsIn(heading->second), want) << heading->second;
  }
  EXPECT_TRUE(described.contains(std::string(kLeadingOption)));
  for (const OptionSpec& o : kOptions) {
    if (o.commands == kEveryCommand) {
      EXPECT_TRUE(described.contains(std::string(o.name))) << o.name;
    }
  }
}

}  // namespace
}  // namespace rendax::testing
