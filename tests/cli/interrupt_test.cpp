// SPDX-License-Identifier: GPL-3.0-or-later
// rendax-cli interrupted by real signals while a transfer is in flight: the simulated pedal
// stalls at a chosen command, the test signals the program there and lets the command go.
#include <signal.h>

#include <fstream>

#include <gtest/gtest.h>

#include "tests/cli/cli_support.h"

namespace rendax::testing {
namespace {

// True once the program no longer catches `signal`: its handler resets the disposition right
// after it has asked the job to stop, so from then on the request is certain to be seen.
bool HandlerRan(pid_t pid, int signal) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind("SigCgt:", 0) == 0) {
      const unsigned long long caught = std::stoull(line.substr(7), nullptr, 16);
      return !(caught & (1ull << (signal - 1)));
    }
  }
  return true;  // gone
}

// Waits for the stall and signals the stalled program; returns its process id, 0 on failure.
pid_t SignalAtStall(const std::string& pedal, const std::vector<int>& signals) {
  const std::string marker = pedal + "/stalled";
  pid_t pid = 0;
  const auto stalled = WaitUntil(
      [&] {
        std::ifstream in(marker);
        return static_cast<bool>(in >> pid) && pid > 0;
      },
      kWaitBound, "the stall at the scripted command");
  EXPECT_TRUE(stalled);
  if (!stalled) return 0;
  for (int s : signals) {
    EXPECT_EQ(kill(pid, s), 0);
    EXPECT_TRUE(WaitUntil([&] { return HandlerRan(pid, s); }, kWaitBound,
                          "signal " + std::to_string(s) + " handled"));
  }
  std::filesystem::remove(marker);
  return pid;
}

TEST(CliInterrupt, ASignalStopsTheTransferAtTheNextBlockAndSaysWhatIsLeft) {
  enum class Then { Intact, Restorable, Killed };
  struct Case {
    std::vector<int> signals;
    const char* command;  // "export" or "import"
    const char* stall;
    Then then;
    const char* message;
  };
  const Case cases[] = {
      {{SIGINT},
       "export",
       "stall LoopDataRead 3",
       Then::Intact,
       "Receive Error: interrupted; the earlier "},
      // Inside the backup that comes before the first write.
      {{SIGHUP},
       "import",
       "stall LoopDataRead 3",
       Then::Intact,
       "Send Error: interrupted; the pedal's loop is untouched\n"},
      {{SIGTERM}, "import", "stall LoopDataWrite 2", Then::Restorable, "Send Error: interrupted; "},
      // A second signal ends the program without waiting for the job.
      {{SIGINT, SIGTERM}, "export", "stall LoopDataRead 3", Then::Killed, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.command) + ", " + c.stall + ", first signal " +
                 std::to_string(c.signals[0]));
    Cli cli;
    const std::string pedal = cli.Pedal("p", 1, "--demo-loop");
    LoopInfo before;
    const auto loopBefore = StoredLoop(pedal, before);
    cli.Sox("-n -r 44100 -b 16 -c 2 -t wavpcm in.wav synth 5 sine 300");
    WriteFileBytes(cli / "old.wav", {'o', 'l', 'd'});
    const auto filesBefore = FilesIn(cli.path());
    std::string error;
    ASSERT_TRUE(WriteSimulatedFaults(pedal, c.stall, error)) << error;

    const bool exporting = std::string(c.command) == "export";
    auto child =
        cli.Start(exporting ? std::vector<std::string>{"export", "--force", cli / "old.wav"}
                            : std::vector<std::string>{"import", "--yes", cli / "in.wav"},
                  "run");
    SignalAtStall(pedal, c.signals);
    const int status = child->Wait("the interrupted rendax-cli");
    const std::string err = ReadText(cli.Log("run.err"));
    ASSERT_TRUE(WriteSimulatedFaults(pedal, "", error)) << error;
    if (c.then == Then::Killed) {
      EXPECT_EQ(status, -1) << "ended by the second signal: " << err;
      continue;
    }
    EXPECT_EQ(status, 130) << err;
    EXPECT_NE(err.find(c.message), std::string::npos) << err;
    EXPECT_EQ(ReadText(cli.Log("run.out")), "");
    EXPECT_EQ(ReadFileBytes(cli / "old.wav"), (std::vector<uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(FilesIn(cli.path()), filesBefore) << "no temporary file left";

    LoopInfo after;
    const auto loopAfter = StoredLoop(pedal, after);
    if (c.then == Then::Intact) {
      EXPECT_EQ(loopAfter, loopBefore);
      EXPECT_EQ(after.length, before.length);
      EXPECT_TRUE(cli.BackupFiles().empty()) << "no half-made backup";
      continue;
    }
    // The loop is broken; the message names the backup, which gives it back exactly.
    const auto backups = cli.BackupFiles();
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_NE(err.find(backups[0]), std::string::npos) << err;
    EXPECT_NE(loopAfter, loopBefore);
    const Outcome o = cli.Run("--pedal '" + pedal + "' restore --yes");
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(StoredLoopBytes(pedal, after), loopBefore);
    EXPECT_EQ(after.length, before.length);
    EXPECT_EQ(after.status, before.status);
  }
}

}  // namespace
}  // namespace rendax::testing
