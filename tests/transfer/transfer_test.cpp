// SPDX-License-Identifier: GPL-3.0-or-later
// The export, the import and the worker against recorded simulated pedals.
#include <signal.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#endif
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <utility>

#include <gtest/gtest.h>

#include "audio/sample_pages.h"
#include "device/device.h"
#include "device/discovery.h"
#include "tests/support/wait.h"
#include "tests/transfer/reference.h"
#include "tests/transfer/test_support.h"
#include "transfer/backup.h"
#include "transfer/job.h"

namespace rendax::testing {
namespace {

using Cmd = PedalCommand;

uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
  return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

// ---- Export ----

TEST(Transfer, ExportReadsWholePagesAndConvertsEveryFrame) {
  struct Case {
    uint8_t model;
    uint32_t length;
    std::vector<uint32_t> reads;
    std::vector<int> progress;
  };
  const Case cases[] = {
      {0, 1, {65536}, {100}},
      {2, 65536, {65536}, {100}},
      {0, 65537, {65536, 2048}, {50, 100}},
      {1, 131072, {65536, 65536}, {50, 100}},
      {1, 200000, {65536, 65536, 65536, 4096}, {25, 50, 75, 100}},
      {0, 200000, {65536, 65536, 65536, 4096}, {25, 50, 75, 100}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("model " + std::to_string(c.model) + ", length " + std::to_string(c.length));
    Rig fresh;  // a new pedal and recorder per case
    fresh.MakePedal(c.model);
    const auto stream = NoiseBytes(c.length, c.length);
    fresh.StoreLoop(stream, {0, c.length});
    const std::string file = fresh.dir_ / "out/loop.wav";
    ASSERT_EQ(fresh.Run(JobExport, file), JobResult::Success);

    EXPECT_EQ(fresh.ui_.events,
              (std::vector<std::string>{"disable", "Receive Complete", "enable"}));
    EXPECT_EQ(fresh.ProgressBeforeEnd(), c.progress);
    EXPECT_EQ(fresh.Kinds().front(), Cmd::LoopInfoRead);
    EXPECT_EQ(fresh.Lengths(Cmd::LoopDataRead), c.reads);

    const int ch = static_cast<int>(ModelInfo(c.model).channels);
    const auto wav = ReadFileBytes(file);
    ASSERT_GE(wav.size(), 44u);
    EXPECT_EQ(U32(wav, 4), wav.size() - 8);
    EXPECT_EQ(U32(wav, 40), wav.size() - 44);
    EXPECT_EQ(wav[22], ch);
    EXPECT_EQ(U32(wav, 24), 48000u);
    EXPECT_EQ(U32(wav, 28), 144000u * ch);
    EXPECT_EQ(wav[32], 3 * ch);
    EXPECT_EQ(wav[34], 24);

    const auto x = ReadPages(stream, c.length, ch);
    std::vector<Frame> got;
    for (size_t at = 44; at + 3 * ch <= wav.size(); at += 3 * ch) {
      Frame f{0, 0};
      for (int k = 0; k < ch; ++k)
        f[k] = Sign24(wav[at + 3 * k] | wav[at + 3 * k + 1] << 8 | wav[at + 3 * k + 2] << 16);
      got.push_back(f);
    }
    if (x.size() == 1) {
      ASSERT_FALSE(got.empty());
      for (const auto& f : got) EXPECT_EQ(f, x[0]);
    } else {
      const auto want = Resample(x, kUnpack);
      ASSERT_EQ(got.size(), want.size());
      for (size_t i = 0; i < want.size(); ++i) ASSERT_EQ(got[i], want[i]) << "frame " << i;
    }
  }
}

TEST(Transfer, ExportStatusAndLengthDecideWhetherThereIsALoop) {
  struct Case {
    uint8_t status;
    uint32_t length;
    bool exports;
  };
  for (const Case c :
       {Case{0, 4096, true}, Case{2, 4096, true}, Case{1, 4096, false}, Case{0, 0, false}}) {
    SCOPED_TRACE("status " + std::to_string(c.status) + " length " + std::to_string(c.length));
    Rig fresh;
    fresh.MakePedal(0);
    fresh.StoreLoop(NoiseBytes(4096, 3), {c.status, c.length});
    const std::string file = fresh.dir_ / "out/loop.wav";
    EXPECT_EQ(fresh.Run(JobExport, file) == JobResult::Success, c.exports);
    EXPECT_EQ(std::filesystem::exists(file), c.exports);
    if (!c.exports) {
      EXPECT_EQ(fresh.ui_.events, std::vector<std::string>{"Export file not found"});
      EXPECT_EQ(fresh.Kinds(), std::vector<Cmd>{Cmd::LoopInfoRead});
    }
  }
}

TEST(Transfer, FailedExportLeavesTheEarlierFileAndNothingElse) {
  struct Case {
    const char* faults;
    bool buttonsTouched;
    const char* message;
    const char* reason;  // what the message says after the text
    void (*pull)(Rig&);  // done to the pedal's folder after the first page (the simulator's
                         // pulled cable); `faults` then only names the row
  };
#ifndef _WIN32
  const auto removed = [](Rig& r) { std::filesystem::remove_all(r.pedal_); };
  const auto replaced = [](Rig& r) {  // by a pedal holding the same loop
    std::filesystem::remove_all(r.pedal_);
    r.MakePedal(1);
    r.StoreLoop(NoiseBytes(300000, 9), {0, 300000});
  };
  const char* const pulled = "a loop data read failed: the pedal was disconnected";
#endif
  const Case cases[] = {
      {"fail LoopDataRead 2", true, "Receive Error", "a loop data read failed: ", nullptr},
      {"fail LoopDataRead", true, "Receive Error", "a loop data read failed: ", nullptr},
      {"fail LoopInfoRead", false, "Receive Error", "loop info request: ", nullptr},
      {"unplug-after 3", true, "Receive Error", "the pedal was disconnected", nullptr},
#ifndef _WIN32  // Windows refuses to remove a folder the open pedal holds a file in
      {"folder removed", true, "Receive Error", pulled, removed},
      {"folder replaced", true, "Receive Error", pulled, replaced},
      // A file-size limit needs setrlimit; the file system refuses the writes.
      {"", true, "Receive Error", "loop.wav: File too large", nullptr},
#endif
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.faults);
    Rig fresh;
    fresh.MakePedal(1);
    fresh.StoreLoop(NoiseBytes(300000, 9), {0, 300000});
    if (!c.pull) fresh.Faults(c.faults);
    const std::string file = fresh.dir_ / "out/loop.wav";
    WriteFileBytes(file, {'o', 'l', 'd'});
    bool pulledYet = false;
    if (c.pull) {
      fresh.ui_.onProgress = [&](int percent) {
        if (percent > 0 && !std::exchange(pulledYet, true)) c.pull(fresh);
      };
    }

#ifndef _WIN32
    rlimit saved{};
    const bool limitWrites = std::string(c.faults).empty();
    if (limitWrites) {
      signal(SIGXFSZ, SIG_IGN);
      getrlimit(RLIMIT_FSIZE, &saved);
      rlimit small = saved;
      small.rlim_cur = 100000;
      setrlimit(RLIMIT_FSIZE, &small);
    }
    const JobResult r = fresh.Run(JobExport, file);
    if (limitWrites) setrlimit(RLIMIT_FSIZE, &saved);
#else
    const JobResult r = fresh.Run(JobExport, file);
#endif

    EXPECT_EQ(r, JobResult::Failed);
    EXPECT_EQ(fresh.ui_.messages, std::vector<std::string>{c.message});
    ASSERT_EQ(fresh.ui_.reasons.size(), 1u);
    EXPECT_NE(fresh.ui_.reasons[0].find(c.reason), std::string::npos) << fresh.ui_.reasons[0];
    if (c.buttonsTouched) {
      EXPECT_EQ(fresh.ui_.events, (std::vector<std::string>{"disable", c.message, "enable"}));
    } else {
      EXPECT_EQ(fresh.ui_.events, std::vector<std::string>{c.message});
    }
    EXPECT_EQ(ReadFileBytes(file), (std::vector<uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(FilesIn(fresh.dir_.path() / "out"), std::vector<std::string>{"loop.wav"});
    EXPECT_TRUE(fresh.ui_.loops.empty()) << "the window draws no loop after a failed export";
  }
}

TEST(Transfer, ExportToAPlaceThatCannotHoldAFileIsRefusedBeforeAnyAudioMoves) {
  Rig r;
  r.MakePedal(0);
  r.StoreLoop(NoiseBytes(4096, 1), {0, 4096});
  for (const std::string& target : {r.dir_ / "missing/loop.wav", r.dir_ / "out", std::string()}) {
    SCOPED_TRACE(target);
    r.ui_.events.clear();
    EXPECT_EQ(r.Run(JobExport, target), JobResult::Failed);
    EXPECT_EQ(r.ui_.events, std::vector<std::string>{"File Creation Error"});
  }
  EXPECT_TRUE(r.Lengths(Cmd::LoopDataRead).empty());
}

#ifndef _WIN32
TEST(Transfer, ExportThroughASymbolicLinkReplacesTheLinkedFileAndKeepsTheLink) {
  Rig r;
  r.MakePedal(0);
  r.StoreLoop(NoiseBytes(4096, 1), {0, 4096});
  const std::filesystem::path out = r.dir_.path() / "out";
  std::filesystem::create_directories(out / "real");
  WriteFileBytes(out / "real/loop.wav", {'o', 'l', 'd'});
  std::filesystem::create_symlink("real/loop.wav", out / "link.wav");

  EXPECT_EQ(r.Run(JobExport, out / "link.wav"), JobResult::Success);
  EXPECT_TRUE(std::filesystem::is_symlink(out / "link.wav"));
  const std::vector<uint8_t> wav = ReadFileBytes(out / "real/loop.wav");
  ASSERT_GT(wav.size(), kWavHeaderBytes);
  EXPECT_EQ(U32(wav, 40), wav.size() - kWavHeaderBytes);
  EXPECT_EQ(FilesIn(out / "real"), std::vector<std::string>{"loop.wav"});
}

// A program killed midway leaves its temporary file behind; the next export or backup into that
// folder removes it, and nothing of a running program or of the user.
TEST(Transfer, ATemporaryFileOfAProgramThatDiedIsRemovedWhenItsFolderIsNextUsed) {
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) _exit(0);
  ASSERT_EQ(waitpid(child, nullptr, 0), child);
  const std::string dead = std::to_string(child), live = std::to_string(getpid());
  const std::string stale = ".take.wav." + dead + ".0.part";
  const std::vector<std::string> kept = {".take.wav." + live + ".3.part", ".take.wav.part",
                                         "take.wav." + dead + ".0.part",
                                         ".take.wav." + dead + ".x.part", "take.wav"};
  for (const char* folder : {"out", "backups"}) {
    SCOPED_TRACE(folder);
    Rig r;
    r.MakePedal(0);
    r.StoreLoop(NoiseBytes(4096, 1), {0, 4096});
    const std::filesystem::path dir = r.dir_.path() / folder;
    std::filesystem::create_directories(dir);
    for (const std::string& name : kept) WriteFileBytes(dir / name, {'u'});
    WriteFileBytes(dir / stale, {'s'});
    WriteFileBytes(r.dir_ / "in.wav", MakeWav(NoiseBytes(3000, 2), 16, 1, 48000));
    r.backup_ = true;
    const bool exporting = std::string(folder) == "out";
    ASSERT_EQ(r.Run(exporting ? JobExport : JobImport,
                    exporting ? r.dir_ / "out/loop.wav" : r.dir_ / "in.wav"),
              JobResult::Success);
    for (const std::string& name : kept) {
      EXPECT_EQ(ReadFileBytes(dir / name), std::vector<uint8_t>{'u'}) << name;
    }
    EXPECT_FALSE(std::filesystem::exists(dir / stale));
  }
}
#endif

// ---- Import ----

TEST(Transfer, ImportSendsWholeBlocksThenWholePagesThenTheExactLength) {
  struct Case {
    int bits, channels, rate;
    uint32_t dataSize;
    uint8_t model;
    std::vector<int> progress;
  };
  const Case cases[] = {
      {24, 1, 48000, 196608, 0, {100}},
      {24, 2, 44100, 393216, 1, {50, 100}},
      {24, 1, 44100, 200000, 2, {50, 100}},
      {16, 2, 48000, 524288, 1, {25, 50, 75, 100}},
      {16, 1, 44100, 524288, 0, {25, 50, 75, 100}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.bits) + " bit, " + std::to_string(c.channels) + " ch, " +
                 std::to_string(c.rate) + " Hz, " + std::to_string(c.dataSize) + " bytes, model " +
                 std::to_string(c.model));
    Rig fresh;
    fresh.MakePedal(c.model);
    const auto audio = NoiseBytes(c.dataSize, c.dataSize + c.model);
    const std::string file = fresh.dir_ / "out/in.wav";
    WriteFileBytes(file, MakeWav(audio, c.bits, c.channels, c.rate));
    ASSERT_EQ(fresh.Run(JobImport, file), JobResult::Success);

    EXPECT_EQ(fresh.ui_.events, (std::vector<std::string>{"disable", "enable", "Send Complete"}));
    EXPECT_EQ(fresh.ProgressBeforeEnd(), c.progress);
    const int pedalCh = static_cast<int>(ModelInfo(c.model).channels);
    const auto want = ExpectedStream(audio, c.bits, c.channels, c.rate, pedalCh);
    const uint32_t t = static_cast<uint32_t>(want.size());
    const uint32_t page = pedalCh == 2 ? 4096 : 2048;

    const auto kinds = fresh.Kinds();
    EXPECT_EQ(kinds.front(), Cmd::LoopInfoRead);
    EXPECT_EQ(kinds.back(), Cmd::LoopInfoWrite);
    auto writes = fresh.Lengths(Cmd::LoopDataWrite);
    ASSERT_EQ(writes.size(), t / 65536 + (t % 65536 ? 1 : 0));
    if (t % 65536) {
      EXPECT_EQ(writes.back(), (t % 65536 + page - 1) / page * page);
      writes.pop_back();
    }
    for (uint32_t w : writes) EXPECT_EQ(w, 65536u);
    EXPECT_EQ(
        fresh.platform_.Sent().back().data,
        (std::vector<uint8_t>{0, uint8_t(t), uint8_t(t >> 8), uint8_t(t >> 16), uint8_t(t >> 24)}));

    std::vector<uint8_t> stored;
    LoopInfo info;
    std::string error;
    ASSERT_TRUE(ReadSimulatedLoop(fresh.pedal_, stored, info, error)) << error;
    EXPECT_EQ(info.length, t);
    ASSERT_GE(stored.size(), want.size());
    EXPECT_TRUE(std::equal(want.begin(), want.end(), stored.begin()));
    // What lies past the stream in the last page goes out as zeros, not as stale audio.
    EXPECT_TRUE(std::all_of(stored.begin() + t, stored.end(), [](uint8_t b) { return b == 0; }));
  }
}

TEST(Transfer, ImportOfAnEighteenByteFmtChunkSendsTheSameStream) {
  Rig r;
  r.MakePedal(1);
  const auto audio = NoiseBytes(240000, 5);
  WriteFileBytes(r.dir_ / "out/a.wav", MakeWav(audio, 16, 2, 44100, 16));
  WriteFileBytes(r.dir_ / "out/b.wav", MakeWav(audio, 16, 2, 44100, 18));
  std::vector<uint8_t> first, second;
  LoopInfo info;
  std::string error;
  ASSERT_EQ(r.Run(JobImport, r.dir_ / "out/a.wav"), JobResult::Success);
  ASSERT_TRUE(ReadSimulatedLoop(r.pedal_, first, info, error));
  ASSERT_EQ(r.Run(JobImport, r.dir_ / "out/b.wav"), JobResult::Success);
  ASSERT_TRUE(ReadSimulatedLoop(r.pedal_, second, info, error));
  EXPECT_EQ(first, second);
  const auto want = ExpectedStream(audio, 16, 2, 44100, 2);
  ASSERT_GE(first.size(), want.size());
  EXPECT_TRUE(std::equal(want.begin(), want.end(), first.begin()));
}

TEST(Transfer, RefusedFilesReachNeitherPedalNorButtons) {
  Rig r;
  struct Case {
    const char* what;
    std::vector<uint8_t> file;  // empty: no file at all
    const char* message;
    const char* reason;  // what the reason says the file is
  };
  const auto audio = NoiseBytes(3000, 2);
  const auto plain = MakeWav(audio, 16, 1, 48000);
  auto bytes = [](const std::string& s) { return std::vector<uint8_t>(s.begin(), s.end()); };
  const Case cases[] = {
      {"no file", {}, "Can't open the file", "No such file"},
      {"empty data chunk", MakeWav({}, 16, 1, 48000), "The file format is wrong", "no audio"},
      {"header only", MakeWav({}, 24, 2, 48000, 16, 60000), "The file format is wrong", "no audio"},
      {"cut inside the header", std::vector<uint8_t>(plain.begin(), plain.begin() + 30),
       "The file format is wrong", "shorter than a WAV header"},
      {"an MPEG-4 file",
       bytes(std::string("\0\0\0\x20"
                         "ftypM4A \0\0\0\0isomM4A ",
                         24) +
             "moov"),
       "The file format is wrong",
       "this is an MPEG-4/AAC file, which is not supported; convert it to WAV or FLAC first"},
      {"a text file", bytes("Setlist:\n1. Intro loop\n2. Verse\n"), "The file format is wrong",
       "this is a text file, not audio"},
      {"an empty file", bytes(""), "The file format is wrong", "the file is empty"},
      {"a header that says 9 Hz", MakeWav(audio, 16, 1, 9), "The file format is wrong",
       "9 Hz, which is no audio rate"},
  };
  r.MakePedal(0);
  r.StoreLoop(NoiseBytes(2048, 4), {0, 2048});
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    r.ui_.events.clear();
    r.ui_.reasons.clear();
    const std::string file = r.dir_ / "out/in.wav";
    std::filesystem::remove(file);
    if (std::string(c.what) != "no file") WriteFileBytes(file, c.file);
    EXPECT_EQ(r.Run(JobImport, file), JobResult::Failed);
    EXPECT_EQ(r.ui_.events, std::vector<std::string>{c.message});
    ASSERT_EQ(r.ui_.reasons.size(), 1u);
    EXPECT_NE(r.ui_.reasons[0].find(c.reason), std::string::npos) << r.ui_.reasons[0];
  }
  EXPECT_TRUE(r.platform_.Sent().empty());
  std::vector<uint8_t> stored;
  LoopInfo info;
  std::string error;
  ASSERT_TRUE(ReadSimulatedLoop(r.pedal_, stored, info, error));
  EXPECT_EQ(info.length, 2048u);
  EXPECT_EQ(stored, NoiseBytes(2048, 4));
}

TEST(Transfer, AFileShorterThanItsDataSizeSendsOnlyWhatItHolds) {
  Rig r;
  r.MakePedal(0);
  const auto audio = NoiseBytes(250000, 8);  // 24-bit mono; the header claims 600,000 bytes
  WriteFileBytes(r.dir_ / "out/short.wav", MakeWav(audio, 24, 1, 48000, 16, 600000));
  ASSERT_EQ(r.Run(JobImport, r.dir_ / "out/short.wav"), JobResult::Success);
  const auto want = ExpectedStream(audio, 24, 1, 48000, 1);
  std::vector<uint8_t> stored;
  LoopInfo info;
  std::string error;
  ASSERT_TRUE(ReadSimulatedLoop(r.pedal_, stored, info, error));
  EXPECT_EQ(info.length, want.size());
  EXPECT_TRUE(std::equal(want.begin(), want.end(), stored.begin()));
}

TEST(Transfer, FailedPedalCommandsDuringImportAreSendErrors) {
  struct Case {
    const char* faults;
    bool loopInfoWritten;
  };
  for (const Case c : {Case{"fail LoopDataWrite 2", false}, Case{"fail LoopInfoWrite", true},
                       Case{"fail LoopInfoRead", false}, Case{"unplug-after 4", false}}) {
    SCOPED_TRACE(c.faults);
    Rig fresh;
    fresh.MakePedal(0);
    fresh.StoreLoop(NoiseBytes(2048, 4), {0, 2048});
    fresh.Faults(c.faults);
    WriteFileBytes(fresh.dir_ / "out/in.wav", MakeWav(NoiseBytes(400000, 1), 16, 2, 48000));
    EXPECT_EQ(fresh.Run(JobImport, fresh.dir_ / "out/in.wav"), JobResult::Failed);
    EXPECT_EQ(fresh.ui_.events, (std::vector<std::string>{"disable", "enable", "Send Error"}));
    const auto kinds = fresh.Kinds();
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), Cmd::LoopInfoWrite), c.loopInfoWritten);
    if (std::string(c.faults) == "fail LoopInfoRead") {
      EXPECT_EQ(kinds, std::vector<Cmd>{Cmd::LoopInfoRead});  // the loop is left alone
    }
  }
}

TEST(Transfer, VerifyComparesTheAudioReadBackButNotTheFiller) {
  struct Case {
    int64_t corruptAt;
    const char* message;
    const char* reason;
  };
  for (const Case c : {Case{-1, "Send Complete", "verified: the loop reads back as sent"},
                       Case{70001, "Verify Error", "differs from the file at stream byte 70001"},
                       Case{2046, "Send Complete", "verified: the loop reads back as sent"}}) {
    SCOPED_TRACE(c.corruptAt);
    Rig fresh;
    fresh.MakePedal(0);
    fresh.platform_.CorruptReadsAt(c.corruptAt);
    WriteFileBytes(fresh.dir_ / "out/in.wav", MakeWav(NoiseBytes(300000, 6), 24, 1, 44100));
    const JobResult r = fresh.Run(JobImport, fresh.dir_ / "out/in.wav", /*verify=*/true);
    // One message: the check's outcome with the import's.
    EXPECT_EQ(fresh.ui_.messages, std::vector<std::string>{c.message});
    ASSERT_EQ(fresh.ui_.reasons.size(), 1u);
    EXPECT_TRUE(fresh.ui_.reasons[0].ends_with(c.reason)) << fresh.ui_.reasons[0];
    EXPECT_EQ(r == JobResult::Success, std::string(c.message) == "Send Complete");
  }
}

// ---- Backups, the lossless form and interruption ----

// A loop as the pedal may hold it: noise in the audio, zeros in the filler.
std::vector<uint8_t> PedalLoop(uint32_t length, uint32_t channels, uint32_t seed) {
  auto stream = NoiseBytes(length, seed);
  const PageLayout p = PageLayoutFor(channels);
  for (uint32_t i = 0; i < length; ++i) {
    if (i % p.pageBytes >= p.audioBytes) stream[i] = 0;
  }
  return stream;
}

TEST(Backup, AnImportSavesTheLoopExactlyAndRestoringItPutsItBackByteForByte) {
  struct Case {
    uint8_t model;
    uint32_t length;  // a whole number of frames, one ending inside a frame, one in the filler
    uint8_t status;
  };
  for (const Case c :
       {Case{0, 150000, 0}, Case{1, 200003, 0}, Case{2, 2047, 3}, Case{1, 65536 * 2, 0}}) {
    SCOPED_TRACE("model " + std::to_string(c.model) + ", length " + std::to_string(c.length));
    Rig r;
    r.MakePedal(c.model);
    const uint32_t channels = ModelInfo(c.model).channels;
    const auto original = PedalLoop(c.length, channels, c.length);
    r.StoreLoop(original, {c.status, c.length});
    WriteFileBytes(r.dir_ / "out/take.wav", MakeWav(NoiseBytes(300000, 5), 16, 2, 44100));
    r.backup_ = true;
    ASSERT_EQ(r.Run(JobImport, r.dir_ / "out/take.wav"), JobResult::Success);
    // One pass of the bar over backup and import together.
    const auto progress = r.ProgressBeforeEnd();
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    EXPECT_EQ(progress.back(), 100);

    std::vector<BackupEntry> backups;
    std::string error;
    ASSERT_TRUE(ListBackups(r.dir_ / "backups", backups, error)) << error;
    ASSERT_EQ(backups.size(), 1u);
    EXPECT_EQ(backups[0].record.model, c.model);
    EXPECT_EQ(backups[0].record.status, c.status);
    EXPECT_EQ(backups[0].record.streamLength, c.length);
    EXPECT_EQ(backups[0].frames, FramesInStream(c.length, channels));
    const auto file = ReadFileBytes(backups[0].path);
    EXPECT_EQ(U32(file, 24), 46875u);
    EXPECT_EQ(file[22], channels);
    EXPECT_EQ(file[34], 24);
    EXPECT_EQ(U32(file, 4), file.size() - 8);

    r.backup_ = false;
    ASSERT_EQ(r.Run(JobImport, backups[0].path), JobResult::Success);
    std::vector<uint8_t> stored;
    LoopInfo info;
    ASSERT_TRUE(ReadSimulatedLoop(r.pedal_, stored, info, error)) << error;
    EXPECT_EQ(info.status, c.status);
    EXPECT_EQ(info.length, c.length);
    ASSERT_GE(stored.size(), c.length);
    EXPECT_TRUE(std::equal(original.begin(), original.end(), stored.begin()));

    // The lossless export writes the same form.
    r.native_ = true;
    ASSERT_EQ(r.Run(JobExport, r.dir_ / "out/native.wav"), JobResult::Success);
    const auto exported = ReadFileBytes(r.dir_ / "out/native.wav");
    ASSERT_EQ(exported.size(), file.size());
    EXPECT_TRUE(std::equal(file.begin(), file.begin() + file.size() - 8, exported.begin()))
        << "only the time in the record may differ";
  }
}

TEST(Backup, ABackupPastTwoGibibytesIsListed) {
  // A sparse file: the header and the record of a two-channel loop of 3,000,000,000 bytes of
  // audio, the record past the 2 GiB that a 32-bit offset reaches.
  TempDir dir("long-backup");
  WavFormat wav;
  wav.channels = 2;
  wav.sampleRate = 46875;
  wav.bitsPerSample = 24;
  wav.blockAlign = 6;
  wav.byteRate = 46875 * 6;
  wav.formatTag = 1;
  wav.fmtSize = 16;
  wav.dataSize = 3000000000u;
  wav.riffSize = 36 + wav.dataSize + kLoopRecordChunkBytes;
  std::vector<uint8_t> header(kWavHeaderBytes);
  BuildWavHeader(std::span<uint8_t, kWavHeaderBytes>(header.data(), kWavHeaderBytes), wav);
  const std::vector<uint8_t> record{'r',  'n',  'd',  'x',  16, 0, 0, 0, 1, 1, 0, 0,
                                    0xFF, 0xFF, 0xFF, 0xFF, 1,  0, 0, 0, 0, 0, 0, 0};
  const std::string path = dir / "long.wav";
  {
    std::ofstream f(path, std::ios::binary);
    f.write(reinterpret_cast<const char*>(header.data()), kWavHeaderBytes);
    f.seekp(std::streamoff{kWavHeaderBytes} + wav.dataSize);
    f.write(reinterpret_cast<const char*>(record.data()), std::streamsize(record.size()));
    if (!f) GTEST_SKIP() << "no sparse file of 3 GB here";
  }
  std::vector<BackupEntry> backups;
  std::string error;
  ASSERT_TRUE(ListBackups(dir.path().string(), backups, error)) << error;
  ASSERT_EQ(backups.size(), 1u);
  EXPECT_EQ(backups[0].record.streamLength, 0xFFFFFFFFu);
  EXPECT_EQ(backups[0].frames, 500000000u);
}

// How many are kept is the same for every job that backs up: see the fault matrix.
TEST(Backup, AnEmptyPedalNeedsNone) {
  Rig r;
  r.MakePedal(0);
  r.backup_ = true;
  WriteFileBytes(r.dir_ / "out/take.wav", MakeWav(NoiseBytes(30000, 5), 16, 1, 48000));
  std::vector<BackupEntry> backups;
  std::string error;
  std::vector<size_t> counts;
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(r.Run(JobImport, r.dir_ / "out/take.wav"), JobResult::Success);
    ASSERT_TRUE(ListBackups(r.dir_ / "backups", backups, error)) << error;
    counts.push_back(backups.size());
  }
  EXPECT_EQ(counts, (std::vector<size_t>{0, 1, 2}));
}

TEST(Transfer, InterruptionStopsAtABlockBoundaryAndSaysWhatIsLeft) {
  struct Case {
    const char* what;
    JobCode code;
    bool earlierTarget;
    int cancelAtProgress;  // the request comes with this progress report (0: before the job)
    const char* reason;
    bool loopChanged;
  };
  const Case cases[] = {
      {"export over a file", JobExport, true, 25, "interrupted; the earlier ", false},
      {"export to a new file", JobExport, false, 0, "interrupted; no file was written", false},
      {"import during the backup", JobImport, false, 1, "the pedal's loop is untouched", false},
      {"import during the writes", JobImport, false, 60, "the pedal's loop is incomplete", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Rig r;
    r.MakePedal(1);
    const auto original = PedalLoop(300000, 2, 3);
    r.StoreLoop(original, {0, 300000});
    r.backup_ = true;
    const std::string file = r.dir_ / (c.code == JobExport ? "out/loop.wav" : "out/take.wav");
    if (c.code == JobImport) {
      WriteFileBytes(file, MakeWav(NoiseBytes(600000, 5), 16, 2, 48000));
    } else if (c.earlierTarget) {
      WriteFileBytes(file, {'o', 'l', 'd'});
    }
    r.cancel_ = c.cancelAtProgress == 0;
    r.ui_.onProgress = [&](int p) {
      if (p >= c.cancelAtProgress) r.cancel_ = true;
    };
    ASSERT_EQ(r.Run(c.code, file), JobResult::Interrupted);
    ASSERT_EQ(r.ui_.reasons.size(), 1u);
    EXPECT_NE(r.ui_.reasons[0].find(c.reason), std::string::npos) << r.ui_.reasons[0];
    EXPECT_EQ(std::count(r.ui_.events.begin(), r.ui_.events.end(), "enable"), 1);
    const auto kinds = r.Kinds();
    EXPECT_EQ(std::count(kinds.begin(), kinds.end(), Cmd::LoopInfoWrite), 0);
    std::vector<std::string> left = FilesIn(r.dir_.path() / "out");
    EXPECT_EQ(left, c.earlierTarget || c.code == JobImport
                        ? std::vector<std::string>{c.code == JobExport ? "loop.wav" : "take.wav"}
                        : std::vector<std::string>{});
    if (c.earlierTarget) {
      EXPECT_EQ(ReadFileBytes(file), (std::vector<uint8_t>{'o', 'l', 'd'}));
    }
    std::vector<uint8_t> stored;
    LoopInfo info;
    std::string error;
    ASSERT_TRUE(ReadSimulatedLoop(r.pedal_, stored, info, error)) << error;
    EXPECT_EQ(!std::equal(original.begin(), original.end(), stored.begin()), c.loopChanged);
    if (c.loopChanged) {
      // The message names the backup that holds the loop as it was.
      std::vector<BackupEntry> backups;
      ASSERT_TRUE(ListBackups(r.dir_ / "backups", backups, error));
      ASSERT_EQ(backups.size(), 1u);
      EXPECT_NE(r.ui_.reasons[0].find(backups[0].path), std::string::npos);
    }
  }
}

// ---- What a job says it is doing, and Cancel ----

using Stage = JobFrontEnd::Stage;

// The stages reported, as "backup, import (cut), restore": each starts at 0, never goes back and
// ends at its total unless cut. Across them the pass's bytes, which the status line shows, and
// the bar agree at every report: the bar is the pass's share done, never goes back within a
// pass, and reaches 100 only at a pass's end. A restore after a cancel is a pass of its own.
std::string StageRuns(const std::vector<ProgressReport>& reports) {
  static const char* const kNames[] = {"backup", "export", "import", "verify", "restore"};
  std::string runs;
  for (size_t i = 0; i < reports.size(); ++i) {
    const auto& r = reports[i];
    const bool newStage = i == 0 || reports[i - 1].stage != r.stage;
    if (newStage) {
      EXPECT_EQ(r.done, 0u) << kNames[int(r.stage)] << " starts past 0";
      runs += (runs.empty() ? "" : ", ") + std::string(kNames[int(r.stage)]);
    } else {
      EXPECT_GE(r.done, reports[i - 1].done) << runs;
      EXPECT_EQ(r.total, reports[i - 1].total) << runs;
    }
    if (r.planned && r.passTotal > 0) {
      const double share = 100.0 * double(r.passDone) / double(r.passTotal);
      EXPECT_NEAR(r.percent, share, 1.0) << runs << ": the bar and the amounts disagree";
      EXPECT_EQ(r.percent == 100, r.passDone == r.passTotal) << runs;
      const bool newPass = i == 0 || (r.stage == JobFrontEnd::Stage::Restore && newStage);
      if (!newPass) {
        EXPECT_GE(r.passDone, reports[i - 1].passDone) << runs;
      }
    }
    if ((i + 1 == reports.size() || reports[i + 1].stage != r.stage) && r.done != r.total) {
      runs += " (cut)";
    }
  }
  return runs;
}

// `got` draws the loop of `length` bytes that `stream` begins with.
void ExpectOutline(const LoopOutline& got, const std::vector<uint8_t>& stream, uint32_t length,
                   uint32_t channels) {
  LoopOutlineBuilder want(length, channels);
  want.AddStream(stream.data(), stream.size(), 0);
  EXPECT_FALSE(got.Empty());
  EXPECT_EQ(got.low, want.Result().low);
  EXPECT_EQ(got.high, want.Result().high);
}

TEST(Transfer, EveryJobSaysItsStagesAndDrawsTheLoopItMoved) {
  struct Row {
    const char* what;
    JobCode code;
    uint8_t model;
    uint32_t loopLength;  // the pedal's loop before the job
    bool backup, verify, native;
    uint32_t rate;  // an import's 24-bit stereo file; 46,875: the loop exported losslessly first
    const char* stages;
  };
  const Row rows[] = {
      {"export", JobExport, 0, 200000, false, false, false, 0, "export"},
      {"lossless export", JobExport, 1, 200003, false, false, true, 0, "export"},
      {"import", JobImport, 1, 0, false, false, false, 48000, "import"},
      {"resampled import, saved first, verified", JobImport, 2, 150000, true, true, false, 44100,
       "backup, import, verify"},
      {"a backup put back, verified", JobImport, 1, 200003, false, true, false, 46875,
       "import, verify"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Rig r;
    r.MakePedal(row.model);
    const uint32_t channels = ModelInfo(row.model).channels;
    const auto earlier = PedalLoop(row.loopLength, channels, 7);
    if (row.loopLength) r.StoreLoop(earlier, {0, row.loopLength});
    std::string file = r.dir_ / (row.code == JobExport ? "out/loop.wav" : "out/in.wav");
    if (row.rate == kPedalFrameRate) {
      r.native_ = true;
      ASSERT_EQ(r.Run(JobExport, file), JobResult::Success);
      r.ui_.reports.clear();
      r.ui_.loops.clear();
    } else if (row.rate) {
      WriteFileBytes(file, MakeWav(NoiseBytes(300000, 8), 24, 2, row.rate));
    }
    ImportCheck check;
    ASSERT_EQ(row.code == JobImport, CheckImportFile(file, row.model, check));
    r.backup_ = row.backup;
    r.native_ = row.native;
    ASSERT_EQ(r.Run(row.code, file, row.verify), JobResult::Success);
    EXPECT_EQ(StageRuns(r.ui_.reports), row.stages);

    // What the pedal holds at the end is drawn, once.
    std::vector<uint8_t> stored;
    LoopInfo info;
    std::string error;
    ASSERT_TRUE(ReadSimulatedLoop(r.pedal_, stored, info, error)) << error;
    ASSERT_EQ(r.ui_.loops.size(), 1u);
    // An import draws while it writes, at the length its check found: a converted stream may
    // come out a frame shorter, which no drawing shows.
    const uint64_t drawn =
        row.code == JobExport ? info.length : check.recordedLength.value_or(check.streamBytes);
    ExpectOutline(r.ui_.loops.back(), stored, static_cast<uint32_t>(drawn), channels);
  }
}

TEST(Transfer, CancelLeavesTheEarlierLoopOnThePedalAndTheEarlierFileInPlace) {
  struct Row {
    const char* what;
    JobCode code;
    bool earlierLoop, backup, native;
    // Cancel comes with the first report of this stage at or past `done` (an import counts the
    // file's audio: two blocks of 16-bit audio have gone in as five writes)
    Stage cancelAt;
    uint64_t done;
    const char* faults;
    const char* message;
    const char* reason;  // how the reason starts; "" for none
    bool loopKept;       // the pedal's loop record and audio as before, byte for byte
    const char* stages;
    size_t loops;  // outlines drawn: what the pedal holds at the end, when the job knows it
  };
  const Row rows[] = {
      {"during the backup", JobImport, true, true, false, Stage::Backup, 1, "", kMsgImportCancelled,
       "", true, "backup (cut)", 0},
      {"before the first write", JobImport, true, true, false, Stage::Import, 0, "",
       kMsgImportCancelled, "", true, "backup, import (cut)", 1},
      {"after two file blocks", JobImport, true, true, false, Stage::Import, 2 * 131072, "",
       kMsgImportCancelled, "", true, "backup, import (cut), restore", 1},
      {"after two file blocks, no loop before", JobImport, false, true, false, Stage::Import,
       2 * 131072, "", kMsgImportCancelledNoLoop, "", true, "import (cut)", 0},
      {"after two file blocks, backups off", JobImport, true, false, false, Stage::Import,
       2 * 131072, "", kMsgSendError, "interrupted; the pedal's loop is incomplete", false,
       "import (cut)", 0},
      {"after two file blocks, the backup fails to go back", JobImport, true, true, false,
       Stage::Import, 2 * 131072, "fail LoopDataWrite 7", kMsgSendError,
       "the backup could not be put back: a loop data write failed: ", false,
       "backup, import (cut), restore (cut)", 0},
      {"export over a file", JobExport, true, false, false, Stage::Export, 1, "",
       kMsgExportCancelled, "the earlier ", true, "export (cut)", 0},
      {"lossless export to a new file", JobExport, true, false, true, Stage::Export, 1, "",
       kMsgExportCancelled, "no file was written", true, "export (cut)", 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.what);
    Rig r;
    r.MakePedal(1);
    const auto original = PedalLoop(300000, 2, 3);
    const LoopInfo before = row.earlierLoop ? LoopInfo{0, 300000} : LoopInfo{1, 0};
    r.StoreLoop(row.earlierLoop ? original : std::vector<uint8_t>{}, before);
    r.Faults(row.faults);
    r.backup_ = row.backup;
    r.native_ = row.native;
    r.restoreOnCancel_ = true;
    const bool overFile = row.code == JobExport && !row.native;
    const std::string file = r.dir_ / (row.code == JobExport ? "out/loop.wav" : "out/take.wav");
    if (row.code == JobImport) WriteFileBytes(file, MakeWav(NoiseBytes(600000, 5), 16, 2, 48000));
    if (overFile) WriteFileBytes(file, {'o', 'l', 'd'});
    r.ui_.onStage = [&](Stage stage, uint64_t done, uint64_t) {
      if (stage == row.cancelAt && done >= row.done) r.cancel_ = true;
    };
    ASSERT_EQ(r.Run(row.code, file), JobResult::Interrupted);

    EXPECT_EQ(r.ui_.messages, std::vector<std::string>{row.message});
    EXPECT_EQ(r.ui_.reasons.size(), *row.reason ? 1u : 0u);
    if (*row.reason && !r.ui_.reasons.empty()) {
      EXPECT_EQ(r.ui_.reasons[0].rfind(row.reason, 0), 0u) << r.ui_.reasons[0];
      // A loop lost with a backup made says where the backup is.
      std::vector<BackupEntry> backups;
      std::string error;
      ASSERT_TRUE(ListBackups(r.dir_ / "backups", backups, error)) << error;
      if (!row.loopKept && row.backup) {
        ASSERT_EQ(backups.size(), 1u);
        EXPECT_NE(r.ui_.reasons[0].find(backups[0].path), std::string::npos) << r.ui_.reasons[0];
      }
    }
    EXPECT_EQ(std::count(r.ui_.events.begin(), r.ui_.events.end(), "enable"), 1);
    EXPECT_EQ(StageRuns(r.ui_.reports), row.stages);
    ASSERT_EQ(r.ui_.loops.size(), row.loops);
    if (row.loops == 1) ExpectOutline(r.ui_.loops.back(), original, 300000, 2);

    std::vector<uint8_t> stored;
    LoopInfo info;
    std::string error;
    ASSERT_TRUE(ReadSimulatedLoop(r.pedal_, stored, info, error)) << error;
    EXPECT_EQ(info.status == before.status && info.length == before.length &&
                  std::equal(original.begin(), original.begin() + before.length, stored.begin()),
              row.loopKept);
    if (row.code == JobExport) {
      EXPECT_EQ(FilesIn(r.dir_.path() / "out"),
                overFile ? std::vector<std::string>{"loop.wav"} : std::vector<std::string>{});
      if (overFile) {
        EXPECT_EQ(ReadFileBytes(file), (std::vector<uint8_t>{'o', 'l', 'd'}));
      }
    }
  }
}

TEST(Transfer, AFileTooLongForThePedalIsRefusedBeforeAnyCommand) {
  // Sparse files: 3 GB of 16-bit mono audio makes a stream past the 32-bit length, whether the
  // header says so (the exact path) or the file was written to a pipe (decoded).
  for (const uint32_t dataSize : {3000000000u, 0xFFFFFFFFu}) {
    SCOPED_TRACE(dataSize);
    Rig r;
    r.MakePedal(0);
    const std::string file = r.dir_ / "out/long.wav";
    WriteFileBytes(file, MakeWav({0, 0}, 16, 1, 44100, 16, dataSize));
    std::error_code ec;
    std::filesystem::resize_file(file, 44 + 3000000000ull, ec);
    // The 32-bit Windows tests run in a small guest whose temporary folder holds no such file.
    if (ec) GTEST_SKIP() << "no 3 GB sparse file here: " << ec.message();
    ImportCheck check;
    EXPECT_FALSE(CheckImportFile(file, 0, check));
    EXPECT_EQ(check.decoded, dataSize == 0xFFFFFFFFu);
    EXPECT_NE(check.reason.find("too long for the pedal"), std::string::npos) << check.reason;
    EXPECT_EQ(r.Run(JobImport, file), JobResult::Failed);
    EXPECT_EQ(r.Kinds(), std::vector<Cmd>{});
  }
}

// ---- The job frame and the worker ----

TEST(Transfer, AJobWithoutAPedalShowsNothingAndOneThatCannotBeOpenedSaysWhy) {
  Rig r;
  JobRequest job;
  job.code = JobExport;
  job.model = 0;
  job.exportPath = r.dir_ / "out/x.wav";
  EXPECT_EQ(RunJob(job, r.device_, r.wav_, r.resample_, r.ui_), JobResult::NotOpened);
  job.pedalPath = r.dir_ / "pedals/none";
  EXPECT_EQ(RunJob(job, r.device_, r.wav_, r.resample_, r.ui_), JobResult::NotOpened);
  EXPECT_TRUE(r.ui_.events.empty());
  EXPECT_EQ(r.ui_.progress, (std::vector<int>{0, 0}));

  // A pedal that is there but cannot be opened says why, or the click would seem to do nothing.
  struct Denied : DevicePlatform {
    bool ListCandidates(std::vector<std::string>&, std::string&) override { return true; }
    std::optional<StorageIdentity> Identify(const std::string&) override { return std::nullopt; }
    std::unique_ptr<DeviceChannel> Open(const std::string&, uint32_t, uint32_t,
                                        int& osError) override {
      osError = EACCES;
      return nullptr;
    }
  } denied;
  CMassStorageDevice device(denied);
  RecordingFrontEnd ui;
  job.pedalPath = "/dev/sg9";
  EXPECT_EQ(RunJob(job, device, r.wav_, r.resample_, ui), JobResult::Failed);
  EXPECT_EQ(ui.messages, std::vector<std::string>{kMsgDeviceOpenError});
  ASSERT_EQ(ui.reasons.size(), 1u);
  EXPECT_EQ(ui.reasons[0], DescribeOpenError("/dev/sg9", EACCES));
}

TEST(Transfer, WorkerHandsJobsOverAndAJobKeepsItsOwnCopyOfTheState) {
  Rig r;
  r.MakePedal(1);
  r.StoreLoop(NoiseBytes(300000, 2), {0, 300000});
  TransferState state;
  // Before the worker, so they outlive its thread whatever way the test ends.
  std::atomic<bool> codeHeldAtEnd{true};
  std::atomic<bool> started{false}, changed{false};
  r.ui_.onProgress = [&](int percent) {
    if (percent == 0) {
      codeHeldAtEnd = codeHeldAtEnd && state.jobCode.load() != JobNone;
    } else if (!started) {
      started = true;  // the job runs: now the window thread changes the shared state
      EXPECT_TRUE(WaitUntil([&] { return changed.load(); }, kWaitBound,
                            "the window thread changing the state"));
    }
  };
  Worker worker(state, r.device_, r.wav_, r.resample_, r.ui_);
  worker.Start();
  for (int round = 0; round < 3; ++round) {
    started = false;
    changed = false;
    const std::string file = r.dir_ / ("out/take" + std::to_string(round) + ".wav");
    {
      std::lock_guard<std::mutex> lock(state.mutex);
      state.request.pedalPath = r.pedal_;
      state.request.model = 1;
      state.request.exportPath = file;
    }
    state.jobCode.store(JobExport);
    EXPECT_TRUE(worker.Busy());
    ASSERT_TRUE(WaitUntil([&] { return started.load(); }, kWaitBound, "the job's first progress"));
    {
      std::lock_guard<std::mutex> lock(state.mutex);
      state.request.exportPath = r.dir_ / "out/elsewhere.wav";
      state.request.model = 0;
    }
    changed = true;
    ASSERT_TRUE(WaitUntil([&] { return !worker.Busy(); }, kWaitBound, "the job's end"));
    EXPECT_EQ(worker.LastResult(), JobResult::Success);
    const auto wav = ReadFileBytes(file);
    ASSERT_GE(wav.size(), 44u);
    EXPECT_EQ(wav[22], 2);  // the model of the job's start
  }
  worker.Stop();
  EXPECT_EQ(worker.JobsRun(), 3u);
  EXPECT_TRUE(codeHeldAtEnd);
  EXPECT_FALSE(std::filesystem::exists(r.dir_ / "out/elsewhere.wav"));
}

}  // namespace
}  // namespace rendax::testing
