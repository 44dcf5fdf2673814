// SPDX-License-Identifier: GPL-3.0-or-later
// Files of every kind the import decodes, made by Debian's tools (sox, flac, lame, oggenc,
// opusenc, sndfile-convert), against those tools' own decoding of the same file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <future>
#include <thread>

#include <gtest/gtest.h>

#include "audio/sample_pages.h"
#include "tests/support/wait.h"
#include "tests/transfer/reference.h"
#include "tests/transfer/test_support.h"
#include "transfer/decode.h"
#include "transfer/job.h"

namespace rendax::testing {
namespace {

// A pedal, and the tools run in its rig's output folder.
class Decode : public ::testing::Test {
 protected:
  void SetUp() override {
    Sh("sox -n -r 48000 -c 2 -b 24 -t wavpcm s48.wav synth 0.5 sine 440 sine 660 gain -3");
    Sh("sox -n -r 44100 -c 2 -b 16 -t wavpcm s44.wav synth 0.5 sine 440 sine 660 gain -3");
    rig_.MakePedal(1);
  }
  void Sh(const std::string& command) {
    const std::string line = "cd '" + rig_.dir_ / "out" + "' && (" + command + ") >/dev/null 2>&1";
    ASSERT_EQ(std::system(line.c_str()), 0) << command;
  }
  std::string operator/(const std::string& name) { return rig_.dir_ / ("out/" + name); }

  Rig rig_;
};

std::vector<int64_t> Samples24(const std::vector<uint8_t>& raw) {
  std::vector<int64_t> s;
  for (size_t at = 0; at + 3 <= raw.size(); at += 3) {
    s.push_back(Sign24(raw[at] | raw[at + 1] << 8 | raw[at + 2] << 16));
  }
  return s;
}

std::vector<uint8_t> Drain(AudioSource& source) {
  std::vector<uint8_t> all, block(196608);
  for (int64_t n; (n = source.Read(block.data(), static_cast<uint32_t>(block.size()))) != 0;) {
    if (n < 0) {
      ADD_FAILURE() << source.Reason();
      break;
    }
    all.insert(all.end(), block.begin(), block.begin() + n);
  }
  return all;
}

double SnrDb(const std::vector<int64_t>& want, const std::vector<int64_t>& got) {
  double signal = 0, noise = 0;
  for (size_t i = 0; i < std::min(want.size(), got.size()); ++i) {
    signal += static_cast<double>(want[i]) * want[i];
    noise += static_cast<double>(got[i] - want[i]) * (got[i] - want[i]);
  }
  return 10 * std::log10(signal / std::max(noise, 1e-9));
}

// Changes a sox-made plain WAV the way other writers lay theirs out.
enum class Edit { None, JunkFirst, ListBeforeData, ListAfterData, DataSize0, DataSizeFF };

void ApplyEdit(const std::string& path, Edit edit) {
  if (edit == Edit::None) return;
  std::vector<uint8_t> f = ReadFileBytes(path);
  const std::vector<uint8_t> junk = {'J', 'U', 'N', 'K', 4, 0, 0, 0, 0, 0, 0, 0};
  const std::vector<uint8_t> list = {'L', 'I', 'S', 'T', 4, 0, 0, 0, 'I', 'N', 'F', 'O'};
  if (edit == Edit::JunkFirst) f.insert(f.begin() + 12, junk.begin(), junk.end());
  if (edit == Edit::ListBeforeData) f.insert(f.begin() + 36, list.begin(), list.end());
  if (edit == Edit::ListAfterData) f.insert(f.end(), list.begin(), list.end());
  const uint32_t riff = static_cast<uint32_t>(f.size() - 8);
  std::memcpy(&f[4], &riff, 4);
  if (edit == Edit::DataSize0) std::memset(&f[40], 0, 4);
  if (edit == Edit::DataSizeFF) std::memset(&f[40], 0xFF, 4);
  WriteFileBytes(path, f);
}

constexpr const char* kSox24 = "sox -D IN -t raw -e signed -b 24 ref.raw";

TEST_F(Decode, EveryKindIsAcceptedAndDecodesAsTheToolsDecodeIt) {
  struct Kind {
    const char* file;
    const char* make;
    Edit edit;
    const char* plan;       // the conversion line; without "->" the file goes as it is
    const char* chunks;     // a RIFF file's chunks ("" not checked)
    const char* reference;  // IN: the file, or the named source; makes ref.raw
    const char* effect;     // after the reference's output
    double minSnrDb;        // 0: sample for sample
  };
  const Kind kinds[] = {
      {"ext24.wav", "sox s48.wav -t wav ext24.wav", Edit::None,
       "WAV (extensible), 48,000 Hz, 24-bit, stereo", "", kSox24, "", 0},
      {"f32.wav", "sox -n -r 48000 -c 2 -e floating-point -b 32 f32.wav synth 0.5 sine 440 gain -3",
       Edit::None, "WAV, 48,000 Hz, 32-bit float, stereo -> 48,000 Hz, 24-bit, stereo", "", kSox24,
       "", 0},
      {"u8.wav", "sox s48.wav -b 8 -c 1 u8.wav", Edit::None,
       "WAV, 48,000 Hz, 8-bit, mono -> 48,000 Hz, 24-bit, mono, two channels: the file's one "
       "channel plays on the left side only",
       "", kSox24, "", 0},
      {"i32.wav", "sox -n -r 44100 -c 2 -b 32 i32.wav synth 0.5 sine 440 gain -3", Edit::None,
       "WAV (extensible), 44,100 Hz, 32-bit, stereo -> 44,100 Hz, 24-bit, stereo", "", kSox24, "",
       0},
      {"r96.wav", "sox -n -r 96000 -c 1 -b 24 -t wavpcm r96.wav synth 0.5 sine 1000 gain -3",
       Edit::None,
       "WAV, 96,000 Hz, 24-bit, mono -> 48,000 Hz, 24-bit, mono, two channels: the file's one "
       "channel plays on the left side only",
       "", kSox24, " rate -v 48000", 120},
      {"c3.wav", "sox -n -r 48000 -c 3 -b 16 c3.wav synth 0.5 sine 440 sine 660 sine 880 gain -9",
       Edit::None,
       "WAV (extensible), 48,000 Hz, 16-bit, 3 channels -> 48,000 Hz, 24-bit, stereo, "
       "mixed to stereo",
       "", kSox24, " remix 1,3v0.7071067811865476 2,3v0.7071067811865476", 0},
      {"junk.wav", "cp s44.wav junk.wav", Edit::JunkFirst, "WAV, 44,100 Hz, 16-bit, stereo",
       "JUNK fmt  data", kSox24, "", 0},
      {"listin.wav", "cp s44.wav listin.wav", Edit::ListBeforeData,
       "WAV, 44,100 Hz, 16-bit, stereo", "fmt  LIST data", kSox24, "", 0},
      {"listout.wav", "cp s44.wav listout.wav", Edit::ListAfterData,
       "WAV, 44,100 Hz, 16-bit, stereo", "fmt  data LIST", kSox24, "", 0},
      {"size0.wav", "cp s44.wav size0.wav", Edit::DataSize0, "WAV, 44,100 Hz, 16-bit, stereo",
       "fmt  data", "sox -D s44.wav -t raw -e signed -b 24 ref.raw", "", 0},
      {"sizeff.wav", "cp s44.wav sizeff.wav", Edit::DataSizeFF, "WAV, 44,100 Hz, 16-bit, stereo",
       "fmt  data", "sox -D s44.wav -t raw -e signed -b 24 ref.raw", "", 0},
      {"pipe.wav",
       "sox s44.wav -t raw - | sox -t raw -r 44100 -c 2 -b 16 -e signed - -t wavpcm - | cat "
       ">pipe.wav",
       Edit::None, "WAV, 44,100 Hz, 16-bit, stereo", "fmt  data",
       "sox -D s44.wav -t raw -e signed -b 24 ref.raw", "", 0},
      {"f.rf64", "sndfile-convert s48.wav f.rf64", Edit::None, "RF64, 48,000 Hz, 24-bit, stereo",
       "", "sox -D s48.wav -t raw -e signed -b 24 ref.raw", "", 0},
      {"f.w64", "sndfile-convert s48.wav f.w64", Edit::None, "W64, 48,000 Hz, 24-bit, stereo", "",
       "sox -D s48.wav -t raw -e signed -b 24 ref.raw", "", 0},
      {"f.aiff", "sox s44.wav f.aiff", Edit::None, "AIFF, 44,100 Hz, 16-bit, stereo", "", kSox24,
       "", 0},
      {"f.flac",
       "sox -n -r 96000 -c 2 -b 24 -t wavpcm w96.wav synth 0.5 sine 440 sine 660 gain -3 && "
       "flac -s -o f.flac w96.wav",
       Edit::None, "FLAC, 96,000 Hz, 24-bit, stereo -> 48,000 Hz, 24-bit, stereo", "", kSox24,
       " rate -v 48000", 120},
      {"f.ogg", "oggenc -Q -q 6 -o f.ogg s44.wav", Edit::None,
       "Ogg Vorbis, 44,100 Hz, stereo -> 44,100 Hz, 24-bit, stereo", "", kSox24, "", 85},
      {"f.opus", "opusenc --quiet s48.wav f.opus", Edit::None,
       "Opus, 48,000 Hz, stereo -> 48,000 Hz, 24-bit, stereo", "",
       "opusdec --quiet --float IN d.wav && sox -D d.wav -t raw -e signed -b 24 ref.raw", "", 100},
      {"f.mp3", "lame --quiet -V 2 s44.wav f.mp3", Edit::None,
       "MP3, 44,100 Hz, stereo -> 44,100 Hz, 24-bit, stereo", "",
       "lame --quiet --decode IN d.wav && sox -D d.wav -t raw -e signed -b 24 ref.raw", "", 80},
  };
  for (const Kind& k : kinds) {
    SCOPED_TRACE(k.file);
    Sh(k.make);
    ApplyEdit(*this / k.file, k.edit);
    ImportCheck check;
    ASSERT_TRUE(CheckImportFile(*this / k.file, 1, check)) << check.reason;
    EXPECT_EQ(check.plan.description, k.plan);
    // Only a change of the audio is a conversion; every file but the plain one is decoded.
    EXPECT_EQ(check.converted, std::strstr(k.plan, "->") != nullptr);
    EXPECT_EQ(check.decoded, k.edit != Edit::ListAfterData);
    if (*k.chunks) {
      EXPECT_EQ(check.info.chunks, k.chunks);
    }
    EXPECT_EQ(check.conversion, check.converted ? k.plan : "");
    if (check.decoded) {
      std::string command = k.reference;
      if (const size_t at = command.find("IN"); at != std::string::npos) {
        command.replace(at, 2, k.file);
      }
      Sh(command + k.effect);
      std::string reason;
      const auto source = OpenDecodedSource(*this / k.file, check.plan, reason);
      ASSERT_TRUE(source) << reason;
      const auto got = Samples24(Drain(*source));
      const auto want = Samples24(ReadFileBytes(*this / "ref.raw"));
      if (k.minSnrDb == 0) {
        EXPECT_EQ(got, want);
      } else {
        const double snr = SnrDb(want, got);
        EXPECT_GT(snr, k.minSnrDb);
        EXPECT_NEAR(static_cast<double>(got.size()), want.size(), want.size() / 100.0);
        RecordProperty(std::string("snr_db_") + k.file, std::to_string(snr));
      }
    }
    EXPECT_EQ(rig_.Run(JobImport, *this / k.file), JobResult::Success);
  }
}

TEST_F(Decode, AFlacHoldingAWavsSamplesGivesThePedalTheSameStream) {
  Sh("sox -n -r 48000 -c 2 -b 24 -t wavpcm n.wav synth 1.5 whitenoise gain -1");
  Sh("flac -s -o n.flac n.wav");
  for (uint8_t model : {0, 1}) {
    SCOPED_TRACE(model);
    rig_.MakePedal(model);
    ASSERT_EQ(rig_.Run(JobImport, *this / "n.wav"), JobResult::Success);
    const auto plain = rig_.Stored();
    ASSERT_EQ(rig_.Run(JobImport, *this / "n.flac", /*verify=*/true), JobResult::Success);
    EXPECT_EQ(rig_.Stored(), plain);
  }
}

TEST_F(Decode, MixSumsBothChannelsForAOneChannelPedal) {
  rig_.MakePedal(0);
  const auto audio = NoiseBytes(6 * 50000, 11);  // 24-bit stereo
  WriteFileBytes(*this / "st.wav", MakeWav(audio, 24, 2, 44100));
  ImportCheck check;
  ASSERT_TRUE(CheckImportFile(*this / "st.wav", 0, check, /*mix=*/true));
  EXPECT_EQ(check.conversion,
            "WAV, 44,100 Hz, 24-bit, stereo -> 44,100 Hz, 24-bit, mono, both channels mixed to "
            "mono");
  ASSERT_EQ(rig_.Run(JobImport, *this / "st.wav", false, /*mix=*/true), JobResult::Success);
  std::vector<uint8_t> mono;
  for (const Frame& f : DecodeWav(audio, 24, 2)) {
    const int64_t v = (f[0] + f[1] + 1) >> 1;  // (L+R)/2, halves rounded up
    for (int b = 0; b < 3; ++b) mono.push_back(static_cast<uint8_t>(v >> (8 * b)));
  }
  EXPECT_EQ(rig_.Stored(), ExpectedStream(mono, 24, 1, 44100, 1));
}

TEST_F(Decode, ChannelsThePedalLacksAreSaidAndConvertedEvenAtItsOwnRate) {
  const auto mono = DecodeWav(NoiseBytes(3 * 3000, 21), 24, 1);
  const auto stereo = DecodeWav(NoiseBytes(6 * 3000, 22), 24, 2);
  auto bytes = [](const std::vector<Frame>& x, int channels) {
    std::vector<uint8_t> b;
    for (const Frame& f : x) {
      for (int ch = 0; ch < channels; ++ch) {
        for (int i = 0; i < 3; ++i) b.push_back(static_cast<uint8_t>(f[ch] >> (8 * i)));
      }
    }
    return b;
  };
  auto each = [](std::vector<Frame> x, auto rule) {
    for (Frame& f : x) f = rule(f);
    return x;
  };
  const auto onBoth = each(mono, [](Frame f) { return Frame{f[0], f[0]}; });
  const auto summed = each(stereo, [](Frame f) { return Frame{(f[0] + f[1] + 1) >> 1, 0}; });
  struct Row {
    const char* name;
    const std::vector<Frame>& file;
    uint32_t rate;
    uint8_t model;
    bool mix, both;
    std::vector<uint8_t> stream;  // what the pedal must hold
    const char* conversion;
  };
  const Row rows[] = {
      {"mono on both sides", mono, 48000, 1, false, true,
       ExpectedStream(bytes(onBoth, 2), 24, 2, 48000, 2),
       "WAV, 48,000 Hz, 24-bit, mono -> 48,000 Hz, 24-bit, stereo, two channels: the file's one "
       "channel plays on both sides"},
      {"own rate, mono into the Twin", mono, kPedalFrameRate, 1, false, false, LayOutPages(mono, 2),
       "WAV, 46,875 Hz, 24-bit, mono -> 46,875 Hz, 24-bit, stereo, two channels: the file's one "
       "channel plays on the left side only"},
      {"own rate, stereo into one channel", stereo, kPedalFrameRate, 0, false, false,
       LayOutPages(stereo, 1),
       "WAV, 46,875 Hz, 24-bit, stereo -> 46,875 Hz, 24-bit, mono, one channel: the file's first "
       "channel"},
      {"own rate, stereo summed", stereo, kPedalFrameRate, 2, true, false, LayOutPages(summed, 1),
       "WAV, 46,875 Hz, 24-bit, stereo -> 46,875 Hz, 24-bit, mono, both channels mixed to mono"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const int channels = r.file == mono ? 1 : 2;
    WriteFileBytes(*this / "c.wav", MakeWav(bytes(r.file, channels), 24, channels, r.rate));
    rig_.MakePedal(r.model);
    rig_.both_ = r.both;
    ImportCheck check;
    ASSERT_TRUE(CheckImportFile(*this / "c.wav", r.model, check, r.mix, r.both)) << check.reason;
    EXPECT_EQ(check.conversion, r.conversion);
    ASSERT_EQ(rig_.Run(JobImport, *this / "c.wav", /*verify=*/true, r.mix), JobResult::Success);
    const auto stored = rig_.Stored();
    EXPECT_EQ(stored, r.stream);
    if (!r.both) continue;
    // Both sides hold the same samples, page for page.
    for (const Frame& f : ReadPages(stored, stored.size(), 2)) ASSERT_EQ(f[0], f[1]);
  }
}

// Sends `bytes` into the FIFO at `path` once a reader has opened it (the open fails with ENXIO
// until then); `error` says what failed, also a reader that never came within the bound.
std::thread FifoWriter(const std::string& path, const std::vector<uint8_t>& bytes,
                       std::string& error) {
  return std::thread([&path, &bytes, &error] {
    int fd = -1;
    const auto opened = WaitUntil(
        [&] { return (fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK)) >= 0 || errno != ENXIO; },
        kWaitBound, "a reader opening the FIFO");
    if (!opened || fd < 0) {
      error = opened ? std::strerror(errno) : opened.message();
      return;
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    for (size_t at = 0, n = 0; at < bytes.size() && error.empty(); at += n) {
      const ssize_t wrote = ::write(fd, bytes.data() + at, bytes.size() - at);
      if (wrote <= 0) error = std::strerror(errno);
      n = wrote > 0 ? static_cast<size_t>(wrote) : 0;
    }
    ::close(fd);
  });
}

// A file of three or more channels into the one-channel pedal: the line says what the pedal
// gets, not the stereo mix on the way.
TEST(PlanConversion, SaysWhatTheOneChannelPedalGetsOfManyChannels) {
  AudioFileInfo info;
  info.container = "WAV (extensible)", info.codec = "PCM 16-bit";
  info.rate = 48000, info.bits = 16, info.channels = 6;
  const std::string file =
      "WAV (extensible), 48,000 Hz, 16-bit, 6 channels -> 48,000 Hz, 24-bit, mono, ";
  EXPECT_EQ(PlanConversion(info, false, 1, false).description, file + kLeftOfStereoMix);
  EXPECT_EQ(PlanConversion(info, false, 1, true).description, file + kAllMixedToMono);
}

TEST_F(Decode, AStreamIsReadOnceIntoATemporaryFileThatGoesWithTheImport) {
  // A named pipe past a pipe's buffer, and standard input small enough to wait in its pipe.
  const auto big = NoiseBytes(6 * 40000, 31), small = NoiseBytes(6 * 8000, 32);
  const std::string fifo = *this / "in.fifo", tmp = *this / "tmp";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0) << std::strerror(errno);
  // The copies go to a temporary folder of the test's own, to be seen going.
  std::filesystem::create_directories(tmp);
  const std::string oldTmp = std::getenv("TMPDIR") ? std::getenv("TMPDIR") : "";
  ::setenv("TMPDIR", tmp.c_str(), 1);
  for (const bool named : {true, false}) {
    SCOPED_TRACE(named ? "named pipe" : "standard input");
    const auto& audio = named ? big : small;
    const auto wav = MakeWav(audio, 24, 2, 48000);
    std::string error;
    std::thread writer;
    const int savedStdin = ::dup(0);
    if (named) {
      writer = FifoWriter(fifo, wav, error);
    } else {
      int ends[2];
      ASSERT_EQ(::pipe(ends), 0);
      ASSERT_EQ(::write(ends[1], wav.data(), wav.size()), static_cast<ssize_t>(wav.size()));
      ::close(ends[1]);
      ::dup2(ends[0], 0);
      ::close(ends[0]);
    }
    // An import that opened the pipe a second time would wait for a writer for ever: one comes,
    // with nothing to say, once the bound has passed.
    auto job =
        std::async(std::launch::async, [&] { return rig_.Run(JobImport, named ? fifo : "-"); });
    EXPECT_TRUE(WaitUntil(
        [&] { return job.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
        kWaitBound, "the import's end"));
    if (job.wait_for(std::chrono::seconds(0)) != std::future_status::ready) {
      ::close(::open(fifo.c_str(), O_WRONLY | O_NONBLOCK));
    }
    const JobResult result = job.get();
    if (writer.joinable()) writer.join();
    ::dup2(savedStdin, 0);
    ::close(savedStdin);
    EXPECT_EQ(error, "");
    ASSERT_EQ(result, JobResult::Success) << (rig_.ui_.reasons.empty() ? "" : rig_.ui_.reasons[0]);
    EXPECT_EQ(rig_.Stored(), ExpectedStream(audio, 24, 2, 48000, 2));
    EXPECT_TRUE(FilesIn(tmp).empty()) << "the temporary copy outlived the import";
  }
  oldTmp.empty() ? ::unsetenv("TMPDIR") : ::setenv("TMPDIR", oldTmp.c_str(), 1);
}

TEST_F(Decode, ASineAt96kHzReachesThePedalClean) {
  rig_.MakePedal(0);
  Sh("sox -n -r 96000 -c 1 -b 24 -t wavpcm sine.wav synth 1 sine 1000 gain -3");
  ASSERT_EQ(rig_.Run(JobImport, *this / "sine.wav"), JobResult::Success);
  const auto stream = rig_.Stored();
  const auto frames = ReadPages(stream, stream.size(), 1);
  // A least-squares fit of a 1 kHz sine at the pedal's rate; what it leaves is noise and
  // distortion. The ends, where the tone starts and stops, are left out.
  const double w = 2 * M_PI * 1000 / kPedalFrameRate;
  double ss = 0, cc = 0, sc = 0, sy = 0, cy = 0;
  const size_t from = 2000, to = frames.size() - 2000;
  for (size_t i = from; i < to; ++i) {
    const double s = std::sin(w * i), c = std::cos(w * i), y = static_cast<double>(frames[i][0]);
    ss += s * s, cc += c * c, sc += s * c, sy += s * y, cy += c * y;
  }
  const double det = ss * cc - sc * sc, a = (sy * cc - cy * sc) / det,
               b = (cy * ss - sy * sc) / det;
  double signal = 0, noise = 0;
  for (size_t i = from; i < to; ++i) {
    const double fit = a * std::sin(w * i) + b * std::cos(w * i);
    signal += fit * fit;
    noise += (frames[i][0] - fit) * (frames[i][0] - fit);
  }
  const double snr = 10 * std::log10(signal / noise);
  EXPECT_GT(snr, 60) << "measured " << snr << " dB";
  RecordProperty("snr_db_96k_sine", std::to_string(snr));
}

}  // namespace
}  // namespace rendax::testing
