// SPDX-License-Identifier: GPL-3.0-or-later
// A folder of simulated pedals and rendax-cli pointed at it, shared by the command line's tests.
// Every run keeps its backups in the folder's own "backups", never in the user's home.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "device/platform/sim/sim_pedal.h"
#include "tests/support/process.h"
#include "tests/transfer/test_support.h"

namespace rendax::testing {

struct Outcome {
  int status;
  std::string out, err;
};

inline std::string ReadText(const std::string& path) {
  const auto b = ReadFileBytes(path);
  return std::string(b.begin(), b.end());
}

class Cli {
 public:
  Cli() : dir_("cli") {
    std::filesystem::create_directories(dir_.path() / "sim");
    std::filesystem::create_directories(dir_.path() / "logs");
  }

  Outcome Run(const std::string& args, const std::string& input = "") {
    WriteFileBytes(dir_ / "stdin", std::vector<uint8_t>(input.begin(), input.end()));
    const std::string cmd = "cd '" + dir_.path().string() + "' && RENDAX_SIMULATOR='" +
                            (dir_ / "sim") + "' RENDAX_BACKUP_DIR='" + Backups() + "' '" +
                            RENDAX_CLI + "' " + args + " <stdin >stdout 2>stderr";
    return {RunShell(cmd), ReadText(dir_ / "stdout"), ReadText(dir_ / "stderr")};
  }
  // The same without a shell, left running: standard output and error go to Log(`name`.out)
  // and Log(`name`.err). Paths in `args` must be absolute.
  std::unique_ptr<Child> Start(const std::vector<std::string>& args, const std::string& name) {
    std::vector<std::string> argv{RENDAX_CLI};
    argv.insert(argv.end(), args.begin(), args.end());
    return std::make_unique<Child>(argv,
                                   std::vector<std::string>{"RENDAX_SIMULATOR=" + (dir_ / "sim"),
                                                            "RENDAX_BACKUP_DIR=" + Backups()},
                                   Log(name + ".out"), Log(name + ".err"));
  }
  // Makes a pedal; returns its device path.
  std::string Pedal(const std::string& name, int model, const std::string& extra = "") {
    const Outcome o =
        Run("sim create sim/" + name + " --model " + std::to_string(model) + " " + extra);
    EXPECT_EQ(o.status, 0) << o.err;
    return dir_ / ("sim/" + name);
  }
  void Sox(const std::string& args) {
    const std::string cmd = "cd '" + dir_.path().string() + "' && sox " + args + " 2>/dev/null";
    ASSERT_EQ(RunShell(cmd), 0) << cmd;
  }
  std::string Backups() const { return dir_ / "backups"; }
  std::string Log(const std::string& leaf) const { return dir_ / ("logs/" + leaf); }
  // The backup files made so far, by name.
  std::vector<std::string> BackupFiles() const {
    std::error_code ec;
    return std::filesystem::is_directory(Backups(), ec) ? FilesIn(Backups())
                                                        : std::vector<std::string>{};
  }
  std::string operator/(const std::string& leaf) const { return dir_ / leaf; }
  const std::filesystem::path& path() const { return dir_.path(); }

 private:
  TempDir dir_;
};

inline std::vector<uint8_t> StoredLoop(const std::string& pedal, LoopInfo& info) {
  std::vector<uint8_t> stream;
  std::string error;
  EXPECT_TRUE(ReadSimulatedLoop(pedal, stream, info, error)) << error;
  return stream;
}

// The pedal's loop: the stored stream up to the loop record's length (an import writes whole
// pages, so the stored stream may go on past it).
inline std::vector<uint8_t> StoredLoopBytes(const std::string& pedal, LoopInfo& info) {
  auto stream = StoredLoop(pedal, info);
  stream.resize(std::min<size_t>(stream.size(), info.length));
  return stream;
}

}  // namespace rendax::testing
