// SPDX-License-Identifier: GPL-3.0-or-later
// rendax-cli.exe end to end under Windows (wine): simulated pedals made, listed, exported to a
// WAV file and imported back, and refusals that must not touch the pedal.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

// The build names the program by its host path; under wine the host's root is drive Z:.
std::wstring CliPath() {
  std::string p = RENDAX_CLI;
  if (!p.empty() && p[0] == '/') p = "Z:" + p;
  for (char& c : p) {
    if (c == '/') c = '\\';
  }
  return std::wstring(p.begin(), p.end());
}

struct CliRun {
  DWORD exitCode = 0xFFFFFFFF;
  std::string output;  // stdout and stderr together
};

CliRun RunCli(const fs::path& simulator, const std::wstring& arguments) {
  CliRun run;
  SetEnvironmentVariableW(L"RENDAX_SIMULATOR", simulator.wstring().c_str());
  // Backups of the imports stay with the test's pedals, out of the user's profile.
  SetEnvironmentVariableW(L"RENDAX_BACKUP_DIR", (simulator / "backups").wstring().c_str());
  const fs::path log = simulator / "cli-output.txt";
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE out = CreateFileW(log.wstring().c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                           CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  si.dwFlags = STARTF_USESTDHANDLES;
  si.hStdInput = nullptr;
  si.hStdOutput = out;
  si.hStdError = out;
  std::wstring command = L"\"" + CliPath() + L"\" " + arguments;
  PROCESS_INFORMATION pi{};
  if (CreateProcessW(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &si,
                     &pi)) {
    // A run that never ends fails the test instead of holding up the suite.
    if (WaitForSingleObject(pi.hProcess, 120000) != WAIT_OBJECT_0) {
      TerminateProcess(pi.hProcess, 0xFFFFFFFF);
      WaitForSingleObject(pi.hProcess, 10000);
      ADD_FAILURE() << "rendax-cli.exe did not end within 120 s";
    }
    GetExitCodeProcess(pi.hProcess, &run.exitCode);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  CloseHandle(out);
  SetEnvironmentVariableW(L"RENDAX_SIMULATOR", nullptr);
  SetEnvironmentVariableW(L"RENDAX_BACKUP_DIR", nullptr);
  std::ifstream in(log, std::ios::binary);
  run.output.assign(std::istreambuf_iterator<char>(in), {});
  return run;
}

std::vector<uint8_t> Bytes(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

uint32_t Le32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

class CliOnWindows : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() / ("rendax-cli-" + std::to_string(GetCurrentProcessId()));
    fs::remove_all(root_);
    fs::create_directories(root_);
  }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  std::wstring W(const fs::path& p) { return L"\"" + p.wstring() + L"\""; }
  fs::path root_;
};

TEST_F(CliOnWindows, ExportsAndImportsThroughASimulatedTwin) {
  const fs::path pedal = root_ / "pedal0";
  CliRun made = RunCli(root_, L"sim create " + W(pedal) + L" --model 1 --demo-loop");
  ASSERT_EQ(made.exitCode, 0u) << made.output;

  CliRun list = RunCli(root_, L"list");
  EXPECT_EQ(list.exitCode, 0u) << list.output;
  EXPECT_NE(list.output.find("pedal0"), std::string::npos) << list.output;
  EXPECT_NE(list.output.find("Twin"), std::string::npos) << list.output;

  // The twin's loop as a 48,000 Hz, 24-bit, two-channel WAV file with a consistent header.
  const fs::path wav = root_ / "out" / "loop.wav";
  fs::create_directories(wav.parent_path());
  CliRun exported = RunCli(root_, L"export " + W(wav));
  ASSERT_EQ(exported.exitCode, 0u) << exported.output;
  const std::vector<uint8_t> file = Bytes(wav);
  ASSERT_GT(file.size(), 44u);
  EXPECT_EQ(std::string(file.begin(), file.begin() + 4), "RIFF");
  EXPECT_EQ(std::string(file.begin() + 8, file.begin() + 12), "WAVE");
  EXPECT_EQ(file[22], 2) << "channels";
  EXPECT_EQ(Le32(file, 24), 48000u);
  EXPECT_EQ(file[34], 24) << "bits per sample";
  EXPECT_EQ(Le32(file, 40), file.size() - 44) << "data size";
  EXPECT_EQ(Le32(file, 4), file.size() - 8) << "RIFF size";
  EXPECT_EQ((file.size() - 44) % 6, 0u) << "whole frames";

  // Back into the pedal: the stored stream is whole 4,096-byte pages and the loop info gives
  // its length.
  CliRun imported = RunCli(root_, L"import " + W(wav) + L" --yes --verify");
  ASSERT_EQ(imported.exitCode, 0u) << imported.output;
  const std::vector<uint8_t> stream = Bytes(pedal / "loop.bin");
  const std::vector<uint8_t> info = Bytes(pedal / "loop.info");
  ASSERT_EQ(info.size(), 5u);
  EXPECT_EQ(info[0], 0);
  EXPECT_GT(stream.size(), 0u);
  EXPECT_EQ(stream.size() % 4096, 0u);
  EXPECT_LE(Le32(info, 1), stream.size());

  // Exported again: the same number of frames, give or take the converters' edges.
  const fs::path again = root_ / "out" / "again.wav";
  ASSERT_EQ(RunCli(root_, L"export " + W(again)).exitCode, 0u);
  const double frames = (file.size() - 44) / 6.0, framesAgain = (Bytes(again).size() - 44) / 6.0;
  EXPECT_NEAR(framesAgain, frames, 682 * 48000.0 / 46875 + 2);
}

TEST_F(CliOnWindows, FileNamesOutsideTheAnsiCodePageArriveIntact) {
  const fs::path pedal = root_ / "pedal0";
  ASSERT_EQ(RunCli(root_, L"sim create " + W(pedal) + L" --model 0 --demo-loop").exitCode, 0u);
  const fs::path wav = root_ / L"Schleife \u00e9 \u97f3\u4e50.wav";
  const CliRun exported = RunCli(root_, L"export " + W(wav));
  ASSERT_EQ(exported.exitCode, 0u) << exported.output;
  EXPECT_GT(Bytes(wav).size(), 44u);
  const CliRun imported = RunCli(root_, L"import " + W(wav) + L" --yes --verify");
  EXPECT_EQ(imported.exitCode, 0u) << imported.output;
}

TEST_F(CliOnWindows, SimulatedPedalFoldersOutsideTheAnsiCodePageAreMadeAndListed) {
  const fs::path pedal = root_ / L"Mini \u00fc \u97f3";
  const CliRun made = RunCli(root_, L"sim create " + W(pedal) + L" --model 2");
  ASSERT_EQ(made.exitCode, 0u) << made.output;
  EXPECT_TRUE(fs::exists(pedal / "model")) << "made under another name";
  const CliRun list = RunCli(root_, L"list");
  EXPECT_EQ(list.exitCode, 0u) << list.output;
  EXPECT_NE(list.output.find("Mini \xc3\xbc \xe9\x9f\xb3"), std::string::npos) << list.output;
}

TEST_F(CliOnWindows, RefusalsLeaveThePedalAlone) {
  const fs::path pedal = root_ / "pedal0";
  ASSERT_EQ(RunCli(root_, L"sim create " + W(pedal) + L" --model 0 --demo-loop").exitCode, 0u);
  const std::vector<uint8_t> before = Bytes(pedal / "loop.bin");

  const fs::path text = root_ / "notes.wav";
  std::ofstream(text, std::ios::binary) << "these are not samples";
  CliRun refused = RunCli(root_, L"import " + W(text) + L" --yes");
  EXPECT_NE(refused.exitCode, 0u) << refused.output;
  CliRun missing = RunCli(root_, L"import " + W(root_ / "absent.wav") + L" --yes");
  EXPECT_NE(missing.exitCode, 0u) << missing.output;
  EXPECT_EQ(Bytes(pedal / "loop.bin"), before);

  // No pedal attached: a failure, said as such, and no file left behind.
  fs::remove_all(pedal);
  const fs::path wav = root_ / "none.wav";
  CliRun none = RunCli(root_, L"export " + W(wav));
  EXPECT_NE(none.exitCode, 0u);
  EXPECT_FALSE(none.output.empty());
  EXPECT_FALSE(fs::exists(wav));
}

}  // namespace
