// SPDX-License-Identifier: GPL-3.0-or-later
// The import's decoding under Windows (wine): files of every kind the import decodes, made on
// Linux with Debian's encoders (make_decode_fixtures), through the same calls the import makes,
// against what the Linux side decodes from the same files. The Windows programs carry their own
// static libsndfile, codecs and soxr (scripts/mingw-deps); this is where a codec left out of
// them, or decoding differently, shows.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "transfer/decode.h"

namespace rendax {
namespace {

// The build names the folder by its host path; under wine the host's root is drive Z:.
std::string Fixture(const std::string& name) {
  std::string p = std::string(RENDAX_DECODE_FIXTURES) + "/" + name;
  if (p[0] == '/') p = "Z:" + p;
  for (char& c : p) {
    if (c == '/') c = '\\';
  }
  return p;
}

std::vector<uint8_t> Bytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  EXPECT_TRUE(in) << path;
  return {std::istreambuf_iterator<char>(in), {}};
}

// Samples on the 24-bit scale, from signed 24-bit or from 64-bit float samples in [-1, 1).
std::vector<double> Reference(const std::string& path) {
  const std::vector<uint8_t> raw = Bytes(path);
  std::vector<double> s;
  if (path.ends_with(".s24.raw")) {
    for (size_t at = 0; at + 3 <= raw.size(); at += 3) {
      const int32_t v = raw[at] | raw[at + 1] << 8 | raw[at + 2] << 16;
      s.push_back(v >= 1 << 23 ? v - (1 << 24) : v);
    }
  } else {
    for (size_t at = 0; at + 8 <= raw.size(); at += 8) {
      double v;
      std::memcpy(&v, &raw[at], 8);
      s.push_back(v * 8388608.0);
    }
  }
  return s;
}

double SnrDb(const std::vector<double>& want, const std::vector<double>& got) {
  double signal = 0, noise = 0;
  for (size_t i = 0; i < std::min(want.size(), got.size()); ++i) {
    signal += want[i] * want[i];
    noise += (got[i] - want[i]) * (got[i] - want[i]);
  }
  return 10 * std::log10(signal / std::max(noise, 1e-9));
}

TEST(DecodeOnWindows, EveryKindDecodesAsOnLinux) {
  struct Kind {
    const char* file;
    const char* container;  // as InspectAudioFile names it
    const char* reference;  // FILE.s24.raw or FILE.f64.raw: what Linux decodes
    bool resampled;         // 96 kHz: soxr on Windows, sox's rate -v on Linux
    double minSnrDb;        // 0: sample for sample
  };
  // Lossy files are decoded by the same decoder versions on both sides; only floating-point
  // rounding (x87 in 32-bit code, other vector paths) may differ, far below any codec's noise.
  // The rate change is held to what the Linux tests hold it to.
  const Kind kinds[] = {
      {"ext24.wav", "WAV (extensible)", "ext24.wav.s24.raw", false, 0},
      {"f32.wav", "WAV", "f32.wav.s24.raw", false, 0},
      {"f.rf64", "RF64", "f.rf64.s24.raw", false, 0},
      {"f.aiff", "AIFF", "f.aiff.s24.raw", false, 0},
      {"f.aifc", "AIFF-C", "f.aifc.s24.raw", false, 0},
      {"f.flac", "FLAC", "f.flac.s24.raw", false, 0},
      {"r96.flac", "FLAC", "r96.flac.s24.raw", true, 90},
      {"f.ogg", "Ogg Vorbis", "f.ogg.f64.raw", false, 100},
      {"f.opus", "Opus", "f.opus.f64.raw", false, 100},
      {"f.mp3", "MP3", "f.mp3.f64.raw", false, 100},
  };
  for (const Kind& k : kinds) {
    SCOPED_TRACE(k.file);
    AudioFileInfo info;
    std::string reason;
    ASSERT_TRUE(InspectAudioFile(Fixture(k.file), info, reason)) << reason;
    EXPECT_EQ(info.container, k.container);
    EXPECT_EQ(info.channels, 2u);
    // Decoded even where the file could go as it is: the decoder is what is under test.
    const ConversionPlan plan = PlanConversion(info, /*plain=*/false, 2, /*mix=*/false);
    ASSERT_TRUE(plan.decoded) << plan.description;
    EXPECT_EQ(plan.resampled, k.resampled) << plan.description;
    const auto source = OpenDecodedSource(Fixture(k.file), plan, reason);
    ASSERT_TRUE(source) << reason;
    ASSERT_EQ(source->Format().blockAlign, 6);

    std::vector<double> got;
    std::vector<uint8_t> block(65536 * 6);
    for (int64_t n; (n = source->Read(block.data(), static_cast<uint32_t>(block.size()))) != 0;) {
      ASSERT_GT(n, 0) << source->Reason();
      for (int64_t at = 0; at + 3 <= n; at += 3) {
        const int32_t v = block[at] | block[at + 1] << 8 | block[at + 2] << 16;
        got.push_back(v >= 1 << 23 ? v - (1 << 24) : v);
      }
    }
    const std::vector<double> want = Reference(Fixture(k.reference));
    ASSERT_FALSE(want.empty());
    if (k.minSnrDb == 0) {
      EXPECT_EQ(got, want);
      continue;
    }
    if (k.resampled) {
      EXPECT_NEAR(static_cast<double>(got.size()), want.size(), want.size() / 100.0);
    } else {
      EXPECT_EQ(got.size(), want.size());
    }
    const double snr = SnrDb(want, got);
    EXPECT_GT(snr, k.minSnrDb);
    ::testing::Test::RecordProperty(std::string("snr_db_") + k.file, std::to_string(snr));
  }
}

}  // namespace
}  // namespace rendax
