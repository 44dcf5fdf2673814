// SPDX-License-Identifier: GPL-3.0-or-later
// Files written by sox are judged as the import's exact path judges them, and a header we build
// reads back in libsndfile: tools that are not ours check both directions.
#include <gtest/gtest.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "audio/riff.h"
#include "audio/wav_header.h"
#include "tests/audio/test_util.h"

namespace rendax {
namespace {

namespace fs = std::filesystem;

// A path as one word of a shell command. Appended piece by piece: g++ 12 at -O3 misjudges
// `"'" + std::string` as an overlapping copy.
std::string Quoted(const fs::path& p) {
  std::string word = "'";
  word += p.string();
  word += '\'';
  return word;
}

class Interop : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("rendax_audio_interop_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  // Writes a short sine with sox; `options` go before the output file name.
  std::vector<uint8_t> Sox(const std::string& options, const std::string& name) {
    const fs::path out = dir_ / name;
    const std::string cmd = std::string(RENDAX_SOX) + " -q -n " + options + " " + Quoted(out) +
                            " synth 0.01 sine 440 2>/dev/null";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    return Read(out);
  }

  // The audio of a file as sox decodes it, in the file's own encoding.
  std::vector<uint8_t> SoxRaw(const std::string& name) {
    const fs::path raw = dir_ / (name + ".raw");
    const std::string cmd =
        std::string(RENDAX_SOX) + " -q " + Quoted(dir_ / name) + " -t raw " + Quoted(raw);
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    return Read(raw);
  }

  static std::vector<uint8_t> Read(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(f), {}};
  }

  fs::path Write(const std::string& name, const std::vector<uint8_t>& bytes) {
    const fs::path p = dir_ / name;
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    return p;
  }

  // What the import does: read at most 46 bytes, then judge them.
  static int Judge(const std::vector<uint8_t>& file, WavFormat& f, WavRejection& why) {
    return ParseWavHeader(file.data(), std::min(file.size(), kWavHeaderReadBytes), f, &why);
  }

  // A file outside the plain form now goes to the decoder, so the header's words only say what
  // it has; they name no command to run.
  static void ExpectPlainWords(WavRejection why) {
    const std::string words = DescribeWavRejection(why);
    EXPECT_EQ(words.find("sox"), std::string::npos) << words;
  }

  fs::path dir_;
};

// Inserts `chunk` right before byte `at` and keeps the RIFF size right.
std::vector<uint8_t> Insert(std::vector<uint8_t> file, size_t at,
                            const std::vector<uint8_t>& chunk) {
  file.insert(file.begin() + static_cast<std::ptrdiff_t>(at), chunk.begin(), chunk.end());
  const uint32_t riff = static_cast<uint32_t>(file.size() - 8);
  std::memcpy(&file[4], &riff, 4);
  return file;
}

SF_INFO SndfileInfo(const fs::path& p) {
  SF_INFO info{};
  SNDFILE* f = sf_open(p.c_str(), SFM_READ, &info);
  if (f)
    sf_close(f);
  else
    info.frames = -1;
  return info;
}

TEST_F(Interop, AcceptsSoxFilesInEveryPlainPcmFormat) {
  for (int ch : {1, 2}) {
    for (int rate : {44100, 48000}) {
      for (int bits : {16, 24}) {
        const std::string name =
            std::to_string(ch) + "_" + std::to_string(rate) + "_" + std::to_string(bits) + ".wav";
        SCOPED_TRACE(name);
        const std::vector<uint8_t> file =
            Sox("-r " + std::to_string(rate) + " -b " + std::to_string(bits) + " -c " +
                    std::to_string(ch) + " -t wavpcm",
                name);
        const std::vector<uint8_t> audio = SoxRaw(name);
        ASSERT_FALSE(audio.empty());

        WavFormat f;
        WavRejection why;
        ASSERT_EQ(Judge(file, f, why), 1) << DescribeWavRejection(why);
        EXPECT_EQ(f.channels, ch);
        EXPECT_EQ(f.sampleRate, static_cast<uint32_t>(rate));
        EXPECT_EQ(f.bitsPerSample, bits);
        EXPECT_EQ(f.dataSize, audio.size());
        ASSERT_EQ(AudioOffset(f), 44u);
        EXPECT_TRUE(std::equal(audio.begin(), audio.end(), file.begin() + 44));

        // The same file with an 18-byte "fmt " chunk: still a valid file for libsndfile,
        // and its audio now starts at 46.
        std::vector<uint8_t> longer = Insert(file, 36, {0, 0});
        longer[16] = 18;
        const fs::path p = Write("long_" + name, longer);
        ASSERT_EQ(SndfileInfo(p).channels, ch);
        ASSERT_EQ(Judge(longer, f, why), 1) << DescribeWavRejection(why);
        ASSERT_EQ(AudioOffset(f), 46u);
        EXPECT_EQ(f.dataSize, audio.size());
        EXPECT_TRUE(std::equal(audio.begin(), audio.end(), longer.begin() + 46));
      }
    }
  }
}

TEST_F(Interop, SoxFilesOutsideThePlainFormAreToldApart) {
  struct Case {
    std::string options;
    WavRejection why;
  };
  const std::vector<Case> cases = {
      {"-r 48000 -b 8 -c 1 -t wavpcm", WavRejection::BitsPerSample},
      {"-r 48000 -b 32 -c 1 -t wavpcm", WavRejection::BitsPerSample},
      {"-r 48000 -b 16 -c 3 -t wavpcm", WavRejection::Channels},
      {"-r 96000 -b 16 -c 1 -t wavpcm", WavRejection::SampleRate},
      {"-r 48000 -b 24 -c 2", WavRejection::FmtChunkSize},  // sox's extensible header
      {"-r 48000 -b 32 -e floating-point -c 1 -t wavpcm", WavRejection::NotPcm},
  };
  int i = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.options);
    const std::vector<uint8_t> file = Sox(c.options, "refused" + std::to_string(i++) + ".wav");
    WavFormat f;
    WavRejection why = WavRejection::None;
    EXPECT_EQ(Judge(file, f, why), 0);
    EXPECT_EQ(why, c.why);
    ExpectPlainWords(why);
  }

  // A LIST chunk between "fmt " and "data": valid for libsndfile, not the plain form.
  const std::vector<uint8_t> plain = Sox("-r 44100 -b 16 -c 2 -t wavpcm", "plain.wav");
  const std::vector<uint8_t> list = {'L', 'I', 'S', 'T', 16, 0, 0, 0, 'I', 'N', 'F', 'O',
                                     'I', 'S', 'F', 'T', 4,  0, 0, 0, 's', 'o', 'x', 0};
  const std::vector<uint8_t> withList = Insert(plain, 36, list);
  EXPECT_EQ(SndfileInfo(Write("list.wav", withList)).channels, 2);
  WavFormat f;
  WavRejection why = WavRejection::None;
  EXPECT_EQ(Judge(withList, f, why), 0);
  EXPECT_EQ(why, WavRejection::DataNotNext);
  ExpectPlainWords(why);
}

TEST_F(Interop, LibsndfileReadsOurHeaderWith24BitAudio) {
  std::mt19937 rng(7);
  for (uint16_t ch : {1, 2}) {
    SCOPED_TRACE(ch);
    const int frames = 4801;
    std::vector<int32_t> samples;
    std::vector<uint8_t> audio;
    for (int i = 0; i < frames * ch; ++i) {
      const int32_t v = static_cast<int32_t>(rng() % 16777216) - 8388608;
      samples.push_back(v);
      testing::Append24(audio, v);
    }
    // An export's header within the 32-bit sizes is the plain 44 bytes.
    const std::vector<uint8_t> header =
        BuildExportHeader(MakeWavFormat(ch, 48000, 24), audio.size());
    ASSERT_EQ(header.size(), kWavHeaderBytes);
    std::vector<uint8_t> file(header.begin(), header.end());
    file.insert(file.end(), audio.begin(), audio.end());
    const fs::path p = Write("ours.wav", file);

    SF_INFO info{};
    SNDFILE* sf = sf_open(p.c_str(), SFM_READ, &info);
    ASSERT_NE(sf, nullptr) << sf_strerror(nullptr);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_24);
    EXPECT_EQ(info.channels, ch);
    EXPECT_EQ(info.samplerate, 48000);
    EXPECT_EQ(info.frames, frames);
    std::vector<int32_t> back(samples.size());
    EXPECT_EQ(sf_read_int(sf, back.data(), static_cast<sf_count_t>(back.size())),
              static_cast<sf_count_t>(back.size()));
    sf_close(sf);
    for (size_t i = 0; i < back.size(); ++i) ASSERT_EQ(back[i], samples[i] * 256) << i;
  }
}

// A file of `length` bytes, `stored` at its start and zeros after it, through libsndfile's
// virtual I/O: an RF64 header is judged without gigabytes on the disk.
struct SparseFile {
  std::vector<uint8_t> stored;
  sf_count_t length = 0, at = 0;
};

TEST(InteropRf64, LibsndfileReadsTheHeaderOfAnExportPastFourGigabytes) {
  const uint64_t frames = (uint64_t{1} << 32) / 6 + 12345;  // 24-bit stereo, past 4 GiB
  SparseFile f;
  f.stored = BuildExportHeader(MakeWavFormat(2, 48000, 24), frames * 6);
  EXPECT_EQ(std::string(f.stored.begin(), f.stored.begin() + 4), "RF64");
  f.length = static_cast<sf_count_t>(f.stored.size() + frames * 6);
  for (int32_t v : {1000, -1000, 8388607, -8388608}) testing::Append24(f.stored, v);
  using F = SparseFile;
  SF_VIRTUAL_IO io = {
      [](void* p) { return static_cast<F*>(p)->length; },
      [](sf_count_t offset, int whence, void* p) {
        F& v = *static_cast<F*>(p);
        return v.at = (whence == SEEK_SET ? 0 : whence == SEEK_CUR ? v.at : v.length) + offset;
      },
      [](void* out, sf_count_t count, void* p) {
        F& v = *static_cast<F*>(p);
        const sf_count_t n = std::max<sf_count_t>(0, std::min(count, v.length - v.at));
        for (sf_count_t i = 0; i < n; ++i, ++v.at) {
          static_cast<uint8_t*>(out)[i] = v.at < sf_count_t(v.stored.size()) ? v.stored[v.at] : 0;
        }
        return n;
      },
      [](const void*, sf_count_t, void*) { return sf_count_t{0}; },
      [](void* p) { return static_cast<F*>(p)->at; }};
  SF_INFO info{};
  SNDFILE* sf = sf_open_virtual(&io, SFM_READ, &info, &f);
  ASSERT_NE(sf, nullptr) << sf_strerror(nullptr);
  EXPECT_EQ(info.format, SF_FORMAT_RF64 | SF_FORMAT_PCM_24);
  EXPECT_EQ(info.channels, 2);
  EXPECT_EQ(info.frames, static_cast<sf_count_t>(frames));
  int32_t back[4] = {};
  EXPECT_EQ(sf_readf_int(sf, back, 2), 2);
  sf_close(sf);
  EXPECT_EQ(back[0], 1000 * 256);
  EXPECT_EQ(back[3], -8388608 * 256);
}

}  // namespace
}  // namespace rendax
