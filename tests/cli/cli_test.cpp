// SPDX-License-Identifier: GPL-3.0-or-later
// rendax-cli end to end on simulated pedals: files made by sox, read back by libsndfile.
#include <sndfile.h>

#include <cctype>
#include <cmath>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "cli/demo_loop.h"
#include "rendax_version.h"
#include "tests/cli/cli_support.h"
#include "tests/transfer/reference.h"

namespace rendax::testing {
namespace {

constexpr const char* kImportQuestionStart = "Warning: It will delete the existing content";

// Frames of a WAV file through libsndfile, as doubles in -1..1.
std::vector<double> ReadWithSndfile(const std::string& path, SF_INFO& info) {
  info = {};
  SNDFILE* f = sf_open(path.c_str(), SFM_READ, &info);
  EXPECT_NE(f, nullptr) << sf_strerror(nullptr);
  if (!f) return {};
  std::vector<double> samples(info.frames * info.channels);
  EXPECT_EQ(sf_readf_double(f, samples.data(), info.frames), info.frames);
  sf_close(f);
  return samples;
}

TEST(Cli, EveryAcceptedSoxFormatGoesIntoEveryModelExactly) {
  Cli cli;
  for (int model = 0; model < 3; ++model) {
    const std::string pedal = cli.Pedal("p" + std::to_string(model), model);
    for (int rate : {44100, 48000}) {
      for (int bits : {16, 24}) {
        for (int channels : {1, 2}) {
          const std::string name = std::to_string(rate) + "-" + std::to_string(bits) + "-" +
                                   std::to_string(channels) + ".wav";
          SCOPED_TRACE("model " + std::to_string(model) + ", " + name);
          cli.Sox("-n -r " + std::to_string(rate) + " -b " + std::to_string(bits) + " -c " +
                  std::to_string(channels) + " -t wavpcm " + name +
                  " synth 3.1 sine 440 sine 660 vol 0.8");
          const Outcome o = cli.Run("--pedal '" + pedal + "' import " + name + " --yes");
          ASSERT_EQ(o.status, 0) << o.err;
          // Channels the pedal does not take as the file has them are said.
          std::string said;
          if (channels != (model == 1 ? 2 : 1)) {
            said = "WAV, " + std::string(rate == 44100 ? "44,100" : "48,000") + " Hz, " +
                   std::to_string(bits) + "-bit, " +
                   (channels == 2 ? "stereo -> one channel: the file's first channel; "
                                  : "mono -> two channels: the file's one channel plays on the "
                                    "left side only; ");
          }
          EXPECT_EQ(o.out, "Send Complete: " + said + "verified: the loop reads back as sent\n");

          const auto file = ReadFileBytes(cli / name);
          const std::vector<uint8_t> audio(file.begin() + 44, file.end());
          const auto want = ExpectedStream(audio, bits, channels, rate, model == 1 ? 2 : 1);
          LoopInfo info;
          const auto stored = StoredLoop(pedal, info);
          EXPECT_EQ(info.status, 0);
          EXPECT_EQ(info.length, want.size());
          ASSERT_GE(stored.size(), want.size());
          EXPECT_TRUE(std::equal(want.begin(), want.end(), stored.begin()));
        }
      }
    }
  }
}

TEST(Cli, DemoPedalExportsAFileThatLibsndfileReads) {
  Cli cli;
  for (int model = 0; model < 3; ++model) {
    SCOPED_TRACE(model);
    const std::string pedal = cli.Pedal("demo" + std::to_string(model), model, "--demo-loop");
    const std::string file = "demo" + std::to_string(model) + ".wav";
    const Outcome o = cli.Run("--pedal '" + pedal + "' export " + file);
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out, "Receive Complete\n");
    // Not a terminal: one line per 10 %, ending at 100 %.
    EXPECT_NE(o.err.find("progress 100%\n"), std::string::npos) << o.err;
    // "-" is standard output: the same bytes, every word on standard error.
    const Outcome piped = cli.Run("--pedal '" + pedal + "' export -");
    ASSERT_EQ(piped.status, 0) << piped.err;
    EXPECT_TRUE(piped.out == ReadText(cli / file)) << "the file's bytes";
    EXPECT_NE(piped.err.find("Receive Complete\n"), std::string::npos) << piped.err;
    EXPECT_FALSE(std::filesystem::exists(cli / "-"));

    SF_INFO info;
    const auto s = ReadWithSndfile(cli / file, info);
    EXPECT_EQ(info.channels, model == 1 ? 2 : 1);
    EXPECT_EQ(info.samplerate, 48000);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    EXPECT_NEAR(static_cast<double>(info.frames), 4.0 * 48000, 700);
    // Music, not silence and not a plain tone: a sine's peak is 1.41 times its RMS.
    double peak = 0, power = 0;
    for (double v : s) peak = std::max(peak, std::fabs(v)), power += v * v;
    const double rms = std::sqrt(power / s.size());
    EXPECT_GT(rms, 0.03);
    EXPECT_GT(peak / rms, 2.5);
  }
}

// Amplitude and signal-to-noise ratio of a 1 kHz tone: a least-squares fit of a sine and a
// cosine at 1 kHz, the rest counts as noise. Independent of delay and start phase.
void FitTone(const std::vector<double>& x, double rate, double& amplitude, double& snrDb) {
  double ss = 0, cc = 0, sc = 0, sy = 0, cy = 0;
  const size_t edge = 200;  // leave out the ends, where the loop starts and stops
  for (size_t i = edge; i + edge < x.size(); ++i) {
    const double w = 2 * M_PI * 1000 * i / rate, s = std::sin(w), c = std::cos(w);
    ss += s * s, cc += c * c, sc += s * c, sy += s * x[i], cy += c * x[i];
  }
  const double det = ss * cc - sc * sc;
  const double a = (sy * cc - cy * sc) / det, b = (cy * ss - sy * sc) / det;
  double signal = 0, noise = 0;
  for (size_t i = edge; i + edge < x.size(); ++i) {
    const double w = 2 * M_PI * 1000 * i / rate;
    const double fit = a * std::sin(w) + b * std::cos(w);
    signal += fit * fit;
    noise += (x[i] - fit) * (x[i] - fit);
  }
  amplitude = std::hypot(a, b);
  snrDb = 10 * std::log10(signal / noise);
}

TEST(Cli, ASineSurvivesTheRoundTripThroughThePedal) {
  Cli cli;
  for (int model : {0, 1}) {
    for (int rate : {44100, 48000}) {
      SCOPED_TRACE("model " + std::to_string(model) + ", " + std::to_string(rate) + " Hz");
      const std::string pedal = cli.Pedal("sine" + std::to_string(model), model);
      cli.Sox("-n -r " + std::to_string(rate) +
              " -b 24 -c 1 -t wavpcm sine.wav synth 2 sine 1000 vol 0.5");
      ASSERT_EQ(cli.Run("--pedal '" + pedal + "' import sine.wav --yes").status, 0);
      // Later passes replace the first one's file, which keeps its permission bits.
      const bool again = std::filesystem::exists(cli / "back.wav");
      if (again) {
        std::filesystem::permissions(cli / "back.wav", std::filesystem::perms(0640),
                                     std::filesystem::perm_options::replace);
      }
      const Outcome o = cli.Run("--pedal '" + pedal + "' export back.wav --force");
      ASSERT_EQ(o.status, 0) << o.err;
      if (again) {
        EXPECT_EQ(std::filesystem::status(cli / "back.wav").permissions(),
                  std::filesystem::perms(0640));
      }

      SF_INFO info;
      auto s = ReadWithSndfile(cli / "back.wav", info);
      if (info.channels == 2) {  // the second pedal channel of a one-channel file is silence
        std::vector<double> left;
        for (size_t i = 0; i < s.size(); i += 2) {
          left.push_back(s[i]);
          EXPECT_EQ(s[i + 1], 0.0);
        }
        s = left;
      }
      // Within one sample page (682 pedal frames, 699 frames at 48,000 Hz) of 2 seconds.
      EXPECT_NEAR(static_cast<double>(s.size()), 2.0 * 48000, 699);
      double amplitude = 0, snr = 0;
      FitTone(s, 48000, amplitude, snr);
      EXPECT_NEAR(amplitude, 0.5, 0.01);
      // Two linear interpolations: measured 60.0 dB from 44,100 Hz and 57.7 dB from 48,000 Hz.
      EXPECT_GT(snr, rate == 44100 ? 59.5 : 57.2) << "measured " << snr << " dB";
      RecordProperty("snr_db_" + std::to_string(model) + "_" + std::to_string(rate),
                     std::to_string(snr));
    }
  }
}

TEST(Cli, EveryFailureSaysWhatAndLeavesThingsAsTheyWere) {
  struct Case {
    const char* what;
    const char* faults;
    const char* args;
    const char* input;
    const char* message;
  };
  const Case cases[] = {
      {"read fails", "fail LoopDataRead 2", "export old.wav --force", "", "Receive Error"},
      {"pedal pulled out", "unplug-after 4", "export old.wav --force", "", "Receive Error"},
      {"target exists", "", "export old.wav", "", "old.wav exists; 'rendax-cli export --force'"},
      {"write fails", "fail LoopDataWrite 2", "import big.wav --yes", "", "Send Error"},
      {"length not stored", "fail LoopInfoWrite", "import big.wav --yes", "", "Send Error"},
      // A refused file is said before the question, which would otherwise be answered for
      // nothing.
      {"damaged file", "", "import cut.wav", "y\n", "The file format is wrong: "},
      {"no such file", "", "import none.wav", "y\n", "Can't open the file: "},
      {"not a backup", "", "restore big.wav", "y\n", "big.wav is not a backup"},
      {"answered no", "", "import big.wav", "n\n", "Import cancelled\n"},
      {"nobody answers", "", "import big.wav", "", "Import cancelled\n"},
      {"wrong pedal path", "", "--pedal /nowhere export x.wav", "", "No Rendax pedal at /nowhere"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Cli cli;
    const std::string pedal = cli.Pedal("p", 1, "--demo-loop");
    LoopInfo before;
    const auto loopBefore = StoredLoop(pedal, before);
    std::string error;
    ASSERT_TRUE(WriteSimulatedFaults(pedal, c.faults, error)) << error;
    cli.Sox("-n -r 44100 -b 16 -c 2 -t wavpcm big.wav synth 5 sine 300");
    const auto big = ReadFileBytes(cli / "big.wav");
    WriteFileBytes(cli / "cut.wav", std::vector<uint8_t>(big.begin(), big.begin() + 30));
    WriteFileBytes(cli / "old.wav", {'o', 'l', 'd'});
    const auto filesBefore = FilesIn(cli.path());

    const Outcome o = cli.Run(c.args, c.input);
    EXPECT_NE(o.status, 0);
    EXPECT_NE(o.err.find(c.message), std::string::npos) << o.err;
    EXPECT_EQ(o.out, "");
    if (std::string(c.input) == "y\n") {
      EXPECT_EQ(o.err.find("[y/N]"), std::string::npos);
    }
    EXPECT_EQ(ReadFileBytes(cli / "old.wav"), (std::vector<uint8_t>{'o', 'l', 'd'}));
    EXPECT_EQ(FilesIn(cli.path()), filesBefore);  // no partial file beside the target
    if ((std::string(c.args).find("import") == std::string::npos &&
         std::string(c.args).find("restore") == std::string::npos) ||
        std::string(c.what) == "write fails" || std::string(c.what) == "length not stored") {
      continue;  // a failed send may have overwritten part of the pedal's loop
    }
    LoopInfo after;
    EXPECT_EQ(StoredLoop(pedal, after), loopBefore);
    EXPECT_EQ(after.length, before.length);
  }
}

TEST(Cli, APedalHeldByAnotherProcessIsRefusedAndKeptAsItWas) {
  Cli cli;
  const std::string pedal = cli.Pedal("p", 1, "--demo-loop");
  LoopInfo before;
  const auto loopBefore = StoredLoop(pedal, before);
  cli.Sox("-n -r 44100 -b 16 -c 2 -t wavpcm in.wav synth 1 sine 300");
  const std::string inUse = std::string(kMsgPedalInUse) + ": " + pedal + "\n";
  {
    // This test's process holds the pedal as a running job of another program would.
    SimulatorPlatform other(cli / "sim");
    int osError = 0;
    const auto held = other.Open(pedal, kGenericRead | kGenericWrite, 3, osError);
    ASSERT_NE(held, nullptr);
    for (const char* args : {"export out.wav", "import in.wav --yes", "import in.wav"}) {
      SCOPED_TRACE(args);
      const Outcome o = cli.Run(args, "y\n");
      EXPECT_EQ(o.status, 1);
      EXPECT_EQ(o.err, inUse) << "refused at once, before any question";
      EXPECT_FALSE(std::filesystem::exists(cli / "out.wav"));
    }
    LoopInfo after;
    EXPECT_EQ(StoredLoop(pedal, after), loopBefore);
    EXPECT_EQ(after.length, before.length);
  }
  EXPECT_EQ(cli.Run("export out.wav").status, 0) << "free again once the holder closed it";
}

TEST(Cli, PedalChoiceAndFirmware) {
  Cli cli;
  EXPECT_NE(cli.Run("export").err.find("No Rendax pedal found"), std::string::npos);
  const std::string twin = cli.Pedal("b", 1);
  const std::string old = cli.Pedal("a", 2, "--firmware 7");

  Outcome o = cli.Run("list");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, old + "  Rendax Mini (model 2)  firmware 7\n" + twin +
                       "  Rendax Twin (model 1)  firmware 8\n");
  // The dialog's search order: model 0, then 1, then 2; the twin comes before the mini.
  EXPECT_EQ(cli.Run("export").err, "Export file not found: the pedal holds no loop\n");
  // Older firmware: the loop may be read off it (the window's rule), not written.
  EXPECT_EQ(cli.Run("--pedal '" + old + "' export").err,
            "Export file not found: the pedal holds no loop\n");
  o = cli.Run("--pedal '" + old + "' import x.wav", "y\n");
  EXPECT_NE(o.status, 0);
  EXPECT_EQ(o.err,
            "The rendax pedal does not match the software (firmware 7); run 'rendax-cli "
            "firmware --update' first\n");
  EXPECT_NE(cli.Run("--pedal '" + old + "' firmware --update", "n\n").status, 0);
  o = cli.Run("--pedal '" + old + "' firmware --update --yes");
  EXPECT_EQ(o.status, 0) << o.err;
  // --pedal in any spelling of the path, for list as for the rest; a wrong one lists the pedals
  // attached.
  const std::string mini = old + "  Rendax Mini (model 2)  firmware 8";
  const std::string none =
      "No Rendax pedal at sim/c; attached: " + old + " (Rendax Mini), " + twin + " (Rendax Twin)\n";
  const std::pair<std::string, bool> spellings[] = {
      {"'" + old + "'", true}, {"sim/a/", true}, {"./sim/b/../a", true}, {"sim/c", false}};
  for (const auto& [spelling, found] : spellings) {
    for (const std::string command : {"firmware", "list"}) {
      const std::string shown = mini + (command == "list" ? "\n" : " (this program expects 8)\n");
      const Outcome want = found ? Outcome{0, shown, ""} : Outcome{1, "", none};
      o = cli.Run("--pedal " + spelling + " " + command);
      EXPECT_EQ(std::tie(o.status, o.out, o.err), std::tie(want.status, want.out, want.err))
          << spelling << " " << command;
    }
  }
}

// A usage error is one line and the hint, whether the parser or the command finds it; help and
// the version go to standard output.
TEST(Cli, UsageErrorsAreOneLineAndHelpIsAtHand) {
  Cli cli;
  const std::string hint = "\nTry 'rendax-cli --help'.\n";
  const std::pair<const char*, Outcome> cases[] = {
      {"import x.wav --frob", {2, "", "rendax-cli: unknown option '--frob' for import" + hint}},
      {"sim create x --model 3", {2, "", "rendax-cli: sim create needs --model 0, 1 or 2" + hint}},
      {"sim make x --model 1", {2, "", "rendax-cli: unknown command 'sim make'" + hint}},
      {"watch --count 0", {2, "", "rendax-cli: --count takes a number from 1" + hint}},
      {"--version", {0, "rendax-cli " RENDAX_VERSION "\n", ""}},
      {"--help", {0, "usage: rendax-cli [--pedal PATH] COMMAND [ARGS]\n", ""}},
      {"import --help", {0, "usage: rendax-cli import FILE [--yes]", ""}},
  };
  for (const auto& [args, want] : cases) {
    const Outcome o = cli.Run(args);
    EXPECT_EQ(std::tie(o.status, o.err), std::tie(want.status, want.err)) << args;
    EXPECT_EQ(o.out.substr(0, want.out.size()), want.out) << args;
  }
}

TEST(Cli, InfoSaysWhatAFileIsAndHowEachModelTakesIt) {
  Cli cli;
  cli.Sox("-n -r 96000 -b 24 -c 2 take.flac synth 1.5 sine 440");
  cli.Sox("-n -r 44100 -b 16 -c 1 -t wavpcm plain.wav synth 2 sine 300");
  WriteFileBytes(cli / "notes.txt", {'h', 'i', '\n'});
  const std::string file = "FLAC, 96,000 Hz, 24-bit, stereo -> 48,000 Hz, 24-bit, ";
  const std::string toStereo = file + "stereo";
  // What the one-channel pedal gets: one channel, whichever way.
  const std::string toMono = file +
                             "mono, one channel: the file's first channel; with --mix: " + file +
                             "mono, both channels mixed to mono\n";
  const std::string take =
      "container    FLAC\nformat       PCM 24-bit\nrate         96,000 Hz\nwidth        24-bit\n"
      "channels     stereo\nlength       0:01 (144,000 frames)\nRendax       " +
      toMono + "Rendax Twin  " + toStereo + "\nRendax Mini  " + toMono;
  struct Case {
    const char* file;
    int status;
    std::string out, err;    // err: how it starts (the reason is the decoder's own words)
    const char* input = "";  // the file given on standard input
  };
  const Case cases[] = {
      {"take.flac", 0, take, ""},
      // Read once, and every model judges that one copy.
      {"-", 0, take, "", "take.flac"},
      {"plain.wav", 0,
       "container    WAV\nformat       PCM 16-bit\nrate         44,100 Hz\nwidth        16-bit\n"
       "channels     mono\nlength       0:02 (88,200 frames)\nchunks       fmt  data\n"
       "Rendax       as it is\nRendax Twin  WAV, 44,100 Hz, 16-bit, mono -> two channels: the "
       "file's "
       "one channel plays on the left side only\nRendax Mini  as it is\n",
       ""},
      {"notes.txt", 1, "", "The file format is wrong: notes.txt: "},
      {"none.flac", 1, "", "Can't open the file: none.flac: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    const auto input = *c.input ? ReadFileBytes(cli / c.input) : std::vector<uint8_t>{};
    const Outcome o =
        cli.Run("info " + std::string(c.file), std::string(input.begin(), input.end()));
    EXPECT_EQ(o.status, c.status) << o.err;
    EXPECT_EQ(o.out, c.out);
    EXPECT_EQ(o.err.rfind(c.err, 0), 0u) << o.err;
  }
}

TEST(Cli, ImportSaysWhatItConvertsAndMixSumsBothChannels) {
  Cli cli;
  const std::string mono = cli.Pedal("mono", 0);
  const std::string twin = cli.Pedal("twin", 1);
  cli.Sox("-n -r 48000 -b 24 -c 1 -t wavpcm a.wav synth 1 sine 440 vol 0.5");
  cli.Sox("-n -r 48000 -b 24 -c 1 -t wavpcm silence.wav synth 1 sine 440 vol 0");
  cli.Sox("-D a.wav -t wavpcm apart.wav remix 1 1v-1");  // right = -left
  cli.Sox("-n -r 96000 -b 24 -c 2 take.flac synth 1 sine 440");
  const std::string summed =
      "converting WAV, 48,000 Hz, 24-bit, stereo -> 48,000 Hz, 24-bit, mono, both channels mixed "
      "to mono\n";
  struct Case {
    const std::string& pedal;
    const char* args;
    std::string converting;  // the line before the question, or "" for none
    const char* sameAs;      // a file whose plain import gives the same loop, or ""
  };
  const Case cases[] = {
      {mono, "import apart.wav",
       "converting WAV, 48,000 Hz, 24-bit, stereo -> one channel: the file's first channel\n",
       "a.wav"},
      {mono, "import apart.wav --mix", summed, "silence.wav"},
      {twin, "import take.flac",
       "converting FLAC, 96,000 Hz, 24-bit, stereo -> 48,000 Hz, 24-bit, stereo\n", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.args);
    const Outcome o = cli.Run("--pedal '" + c.pedal + "' " + c.args, "y\n");
    ASSERT_EQ(o.status, 0) << o.err;
    EXPECT_EQ(o.out.rfind("Send Complete", 0), 0u) << o.out;
    if (c.converting.empty()) {
      EXPECT_EQ(o.err.find("converting"), std::string::npos) << o.err;
    } else {
      EXPECT_EQ(o.err.find(c.converting + kImportQuestionStart), 0u) << o.err;
    }
    if (!*c.sameAs) continue;
    LoopInfo info;
    const auto loop = StoredLoopBytes(c.pedal, info);
    ASSERT_EQ(cli.Run("--pedal '" + c.pedal + "' import " + c.sameAs + " --yes --no-backup").status,
              0);
    EXPECT_TRUE(StoredLoopBytes(c.pedal, info) == loop) << "the same loop as " << c.sameAs;
  }
}

TEST(Cli, NativeExportIsThePedalsOwnRate) {
  Cli cli;
  cli.Pedal("twin", 1, "--demo-loop");
  const Outcome o = cli.Run("export --native native.wav");
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, "Receive Complete\n");
  SF_INFO info;
  ReadWithSndfile(cli / "native.wav", info);
  EXPECT_EQ(info.samplerate, 46875);
  EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
  EXPECT_EQ(info.channels, 2);
  EXPECT_NEAR(static_cast<double>(info.frames), 4.0 * 46875, 700);
}

TEST(Cli, BackupsAreListedAndRestoredIntoTheirOwnModelOnly) {
  Cli cli;
  Outcome o = cli.Run("backups");
  EXPECT_EQ(o.status, 0);
  EXPECT_EQ(o.out, "No backups in " + cli.Backups() + "\n");

  const std::string twin = cli.Pedal("b", 1, "--demo-loop");
  const std::string mini = cli.Pedal("c", 2, "--demo-loop");
  const std::string plain = cli.Pedal("d", 0);
  LoopInfo demoInfo;
  const auto demo = StoredLoop(mini, demoInfo);
  cli.Sox("-n -r 48000 -b 16 -c 1 -t wavpcm in.wav synth 1 sine 300");
  for (const std::string& pedal : {twin, mini}) {
    ASSERT_EQ(cli.Run("--pedal '" + pedal + "' import in.wav --yes").status, 0);
  }
  o = cli.Run("--pedal '" + mini + "' import in.wav --yes --no-backup --no-verify");
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, "Send Complete\n") << "not read back";
  const auto files = cli.BackupFiles();
  ASSERT_EQ(files.size(), 2u) << "one per import without --no-backup";

  o = cli.Run("backups");
  EXPECT_EQ(o.status, 0) << o.err;
  const std::string folder = cli.Backups() + "/";
  // Two lines of "YYYY-MM-DD HH:MM:SS  MODEL  0:04  FOLDER/FILE".
  std::istringstream listing(o.out);
  int lines = 0;
  for (std::string line; std::getline(listing, line); ++lines) {
    const std::string shape = "0000-00-00 00:00:00";
    bool dated = line.size() > shape.size();
    for (size_t i = 0; dated && i < shape.size(); ++i) {
      dated = shape[i] == '0' ? std::isdigit(static_cast<unsigned char>(line[i])) != 0
                              : line[i] == shape[i];
    }
    EXPECT_TRUE(dated) << line;
    const std::string rest = dated ? line.substr(shape.size()) : "";
    EXPECT_TRUE(rest.starts_with("  Rendax Twin  0:04  " + folder) ||
                rest.starts_with("  Rendax Mini  0:04  " + folder))
        << line;
  }
  EXPECT_EQ(lines, 2) << o.out;

  std::string twinBackup;
  for (const std::string& f : files) {
    if (o.out.find("Twin  0:04  " + folder + f) != std::string::npos) twinBackup = folder + f;
  }
  ASSERT_NE(twinBackup, "") << "the twin's backup is listed";
  o = cli.Run("--pedal '" + mini + "' restore '" + twinBackup + "' --yes");
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, twinBackup + " is a backup of a Rendax Twin; the pedal is a Rendax Mini\n");
  o = cli.Run("--pedal '" + plain + "' restore --yes");
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, "No backup of a Rendax in " + cli.Backups() + "\n");

  // The newest backup of the pedal's own model, after the question.
  o = cli.Run("--pedal '" + mini + "' restore", "y\n");
  ASSERT_EQ(o.status, 0) << o.err;
  EXPECT_EQ(o.out, "Send Complete: verified: the loop reads back as sent\n");
  EXPECT_NE(o.err.find("Restoring " + folder), std::string::npos) << o.err;
  EXPECT_NE(o.err.find("Do you want to continue? [y/N]"), std::string::npos) << o.err;
  LoopInfo info;
  EXPECT_EQ(StoredLoopBytes(mini, info), demo);
  EXPECT_EQ(info.length, demoInfo.length);
  EXPECT_EQ(info.status, demoInfo.status);
  EXPECT_EQ(cli.BackupFiles().size(), 3u) << "the replaced loop was saved first";
}

TEST(Cli, FirmwareUpdateSavesTheLoopAndReplacesNewerFirmwareOnlyWhenAsked) {
  struct Case {
    const char* what;
    int before;
    const char* args;
    int status;
    uint16_t after;
    size_t backups;
  };
  const Case cases[] = {
      {"older firmware", 7, "--update --yes", 0, 8, 1},
      {"older firmware, no backup", 7, "--update --yes --no-backup", 0, 8, 0},
      {"newer firmware", 9, "--update --yes", 1, 9, 0},
      {"newer firmware, downgrade allowed", 9, "--update --yes --allow-downgrade", 0, 8, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    Cli cli;
    const std::string pedal =
        cli.Pedal("p", 1, "--demo-loop --firmware " + std::to_string(c.before));
    const Outcome o = cli.Run("firmware " + std::string(c.args));
    EXPECT_EQ(o.status, c.status) << o.err;
    if (c.status != 0) {
      EXPECT_NE(o.err.find("--allow-downgrade"), std::string::npos) << o.err;
    }
    uint16_t version = 0;
    std::string error;
    ASSERT_TRUE(ReadSimulatedFirmwareVersion(pedal, version, error)) << error;
    EXPECT_EQ(version, c.after);
    EXPECT_EQ(cli.BackupFiles().size(), c.backups);
  }
}

}  // namespace
}  // namespace rendax::testing
