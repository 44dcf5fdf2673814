// SPDX-License-Identifier: GPL-3.0-or-later
// Throughput of the six converters in input frames per second, next to libsamplerate's
// linear converter (float), speexdsp at quality 0 (int16), soxr at quick quality (float) and a
// plain memcpy of the same bytes, all on the same ~10 M frames in the chunk sizes the jobs
// use. Prints each converter's ratio to each peer at the end.
#include <benchmark/benchmark.h>
#include <samplerate.h>
#include <soxr.h>
#include <speex/speex_resampler.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "audio/resample.h"
#include "audio/sample_pages.h"

namespace rendax {
namespace {

constexpr uint32_t kFrames = 10'000'000;
constexpr uint32_t kFileBlockBytes24 = 196'608;  // one import file block of 24-bit audio

using PackFn = uint32_t (*)(ResampleState&, uint16_t, const uint8_t*, uint32_t, uint8_t*, uint32_t,
                            uint32_t);
using UnpackFn = uint32_t (*)(ResampleState&, const uint8_t*, uint32_t, uint8_t*, uint32_t);

struct Case {
  const char* name;
  PackFn pack;  // one of these two is set
  UnpackFn unpack;
  int channels;
  double inRate;
  double outRate;
};

const Case kCases[] = {
    {"PackMono44100", PackMono44100, nullptr, 1, 44100, 46875},
    {"PackStereo44100", PackStereo44100, nullptr, 2, 44100, 46875},
    {"PackMono48000", PackMono48000, nullptr, 1, 48000, 46875},
    {"PackStereo48000", PackStereo48000, nullptr, 2, 48000, 46875},
    {"UnpackMono", nullptr, UnpackMono, 1, 46875, 48000},
    {"UnpackStereo", nullptr, UnpackStereo, 2, 46875, 48000},
};

// The same music-like signal in every form a contender takes.
struct Input {
  std::vector<int32_t> samples;  // interleaved, 24-bit
  std::vector<uint8_t> wav;      // 24-bit WAV frames
  std::vector<uint8_t> pages;    // page stream
  std::vector<float> f32;
  std::vector<int16_t> s16;
};

const Input& InputFor(int channels) {
  static std::map<int, Input> inputs;
  Input& in = inputs[channels];
  if (!in.samples.empty()) return in;
  const size_t n = size_t{kFrames} * channels;
  in.samples.resize(n);
  uint32_t noise = 12345;
  for (size_t i = 0; i < n; ++i) {
    noise = noise * 1664525u + 1013904223u;
    const double t = static_cast<double>(i / channels) / 44100.0;
    const double v = 0.5 * std::sin(2 * M_PI * 440 * t) + 0.2 * std::sin(2 * M_PI * 1234.5 * t) +
                     0.05 * (static_cast<int32_t>(noise) / 2147483648.0);
    in.samples[i] = static_cast<int32_t>(v * 8388607.0);
  }
  in.wav.resize(n * 3);
  for (size_t i = 0; i < n; ++i) std::memcpy(&in.wav[3 * i], &in.samples[i], 3);
  const PageLayout page = PageLayoutFor(channels);
  in.pages.assign(StreamBytesForFrames(kFrames, channels) + 8, 0);
  for (size_t f = 0; f < kFrames; ++f) {
    const size_t at = f / kFramesPerPage * page.pageBytes + f % kFramesPerPage * page.frameBytes;
    std::memcpy(&in.pages[at], &in.wav[f * page.frameBytes], page.frameBytes);
  }
  in.f32.resize(n);
  in.s16.resize(n);
  for (size_t i = 0; i < n; ++i) {
    in.f32[i] = static_cast<float>(in.samples[i] / 8388608.0);
    in.s16[i] = static_cast<int16_t>(in.samples[i] >> 8);
  }
  return in;
}

// Chunk length in frames as the job cuts the input.
uint32_t ChunkFrames(const Case& c) {
  return c.pack ? kFileBlockBytes24 / (3 * c.channels)
                : static_cast<uint32_t>(FramesInStream(kTransferBlockBytes, c.channels));
}

std::vector<uint8_t>& OutBuffer() {
  static std::vector<uint8_t> out(4 << 20);
  return out;
}

void Finish(benchmark::State& state) {
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kFrames);
}

void RunOurs(benchmark::State& state, const Case& c) {
  const Input& in = InputFor(c.channels);
  uint8_t* out = OutBuffer().data();
  for (auto _ : state) {
    ResampleState s;
    uint64_t total = 0;
    if (c.pack) {
      const uint32_t bytes = static_cast<uint32_t>(in.wav.size());
      for (uint32_t off = 0; off < bytes; off += kFileBlockBytes24) {
        const uint32_t len = std::min(kFileBlockBytes24, bytes - off);
        const uint32_t flags = (off == 0 ? uint32_t{ChunkFirst} : 0u) |
                               (off + len == bytes ? uint32_t{ChunkLast} : 0u);
        total += c.pack(s, static_cast<uint16_t>(3 * c.channels), in.wav.data() + off, len, out,
                        flags, static_cast<uint32_t>(total % kTransferBlockBytes));
      }
    } else {
      const uint32_t bytes = static_cast<uint32_t>(StreamBytesForFrames(kFrames, c.channels));
      for (uint32_t off = 0; off < bytes; off += kTransferBlockBytes) {
        const uint32_t len = std::min(kTransferBlockBytes, bytes - off);
        const uint32_t flags = (off == 0 ? uint32_t{ChunkFirst} : 0u) |
                               (off + len == bytes ? uint32_t{ChunkLast} : 0u);
        total += c.unpack(s, in.pages.data() + off, len, out, flags);
      }
    }
    benchmark::DoNotOptimize(total);
    benchmark::ClobberMemory();
  }
  Finish(state);
}

void RunSrcLinear(benchmark::State& state, const Case& c) {
  const Input& in = InputFor(c.channels);
  const long chunk = ChunkFrames(c);
  std::vector<float> out(static_cast<size_t>(chunk) * c.channels * 2 + 64);
  for (auto _ : state) {
    int err = 0;
    SRC_STATE* src = src_new(SRC_LINEAR, c.channels, &err);
    for (long off = 0; off < static_cast<long>(kFrames); off += chunk) {
      SRC_DATA d{};
      d.data_in = in.f32.data() + off * c.channels;
      d.input_frames = std::min<long>(chunk, kFrames - off);
      d.data_out = out.data();
      d.output_frames = static_cast<long>(out.size()) / c.channels;
      d.src_ratio = c.outRate / c.inRate;
      d.end_of_input = off + d.input_frames == static_cast<long>(kFrames);
      src_process(src, &d);
      benchmark::DoNotOptimize(d.output_frames_gen);
    }
    src_delete(src);
  }
  Finish(state);
}

void RunSpeex(benchmark::State& state, const Case& c) {
  const Input& in = InputFor(c.channels);
  const uint32_t chunk = ChunkFrames(c);
  std::vector<int16_t> out(size_t{chunk} * c.channels * 2 + 64);
  for (auto _ : state) {
    int err = 0;
    SpeexResamplerState* sp = speex_resampler_init(c.channels, static_cast<spx_uint32_t>(c.inRate),
                                                   static_cast<spx_uint32_t>(c.outRate), 0, &err);
    speex_resampler_skip_zeros(sp);
    for (uint32_t off = 0; off < kFrames; off += chunk) {
      spx_uint32_t inLen = std::min(chunk, kFrames - off);
      spx_uint32_t outLen = static_cast<spx_uint32_t>(out.size() / c.channels);
      speex_resampler_process_interleaved_int(sp, in.s16.data() + size_t{off} * c.channels, &inLen,
                                              out.data(), &outLen);
      benchmark::DoNotOptimize(outLen);
    }
    speex_resampler_destroy(sp);
  }
  Finish(state);
}

void RunSoxr(benchmark::State& state, const Case& c) {
  const Input& in = InputFor(c.channels);
  const uint32_t chunk = ChunkFrames(c);
  std::vector<float> out(size_t{chunk} * c.channels * 2 + 64);
  for (auto _ : state) {
    const soxr_quality_spec_t q = soxr_quality_spec(SOXR_QQ, 0);
    soxr_error_t err = nullptr;
    soxr_t sx = soxr_create(c.inRate, c.outRate, c.channels, &err, nullptr, &q, nullptr);
    size_t done = 0, made = 0;
    for (uint32_t off = 0; off < kFrames; off += chunk) {
      soxr_process(sx, in.f32.data() + size_t{off} * c.channels, std::min(chunk, kFrames - off),
                   &done, out.data(), out.size() / c.channels, &made);
      benchmark::DoNotOptimize(made);
    }
    soxr_process(sx, nullptr, 0, nullptr, out.data(), out.size() / c.channels, &made);
    soxr_delete(sx);
  }
  Finish(state);
}

void RunMemcpy(benchmark::State& state, const Case& c) {
  const Input& in = InputFor(c.channels);
  const std::vector<uint8_t>& src = c.pack ? in.wav : in.pages;
  const size_t chunk = c.pack ? kFileBlockBytes24 : kTransferBlockBytes;
  uint8_t* out = OutBuffer().data();
  const size_t bytes = c.pack ? in.wav.size() : StreamBytesForFrames(kFrames, c.channels);
  for (auto _ : state) {
    for (size_t off = 0; off < bytes; off += chunk) {
      std::memcpy(out, src.data() + off, std::min(chunk, bytes - off));
      benchmark::ClobberMemory();
    }
  }
  Finish(state);
}

const char* const kPeers[] = {"src_linear", "speex_q0", "soxr_quick", "memcpy"};

// Keeps every benchmark's best rate over its repetitions for the ratio table: the least
// disturbed run, since other work on the machine only ever slows a run down.
class RatioReporter : public benchmark::ConsoleReporter {
 public:
  void ReportRuns(const std::vector<Run>& runs) override {
    ConsoleReporter::ReportRuns(runs);
    for (const Run& r : runs) {
      if (r.run_type != Run::RT_Aggregate || r.aggregate_name != "max") continue;
      const auto it = r.counters.find("items_per_second");
      if (it != r.counters.end()) rates[r.run_name.function_name] = it->second.value;
    }
  }
  std::map<std::string, double> rates;
};

void PrintRatios(const std::map<std::string, double>& rates) {
  std::printf(
      "\nInput frames per second and each converter's speed as a multiple of each peer's\n");
  std::printf("%-16s %10s %11s %11s %11s %11s\n", "converter", "M frames/s", "x src_linear",
              "x speex_q0", "x soxr_quick", "x memcpy");
  for (const Case& c : kCases) {
    const auto ours = rates.find(std::string(c.name) + "/rendax");
    if (ours == rates.end()) continue;
    std::printf("%-16s %10.1f", c.name, ours->second / 1e6);
    for (const char* peer : kPeers) {
      const auto p = rates.find(std::string(c.name) + "/" + peer);
      if (p == rates.end() || p->second <= 0)
        std::printf(" %11s", "-");
      else
        std::printf(" %11.2f", ours->second / p->second);
    }
    std::printf("\n");
  }
}

}  // namespace
}  // namespace rendax

int main(int argc, char** argv) {
  using namespace rendax;
  for (const Case& c : kCases) {
    const std::string n = c.name;
    const auto add = [&](const char* who, void (*fn)(benchmark::State&, const Case&)) {
      benchmark::RegisterBenchmark((n + "/" + who).c_str(), fn, c)
          ->Unit(benchmark::kMillisecond)
          ->Repetitions(5)
          ->ComputeStatistics(
              "max",
              [](const std::vector<double>& v) { return *std::max_element(v.begin(), v.end()); })
          ->ReportAggregatesOnly(true);
    };
    add("rendax", RunOurs);
    add("src_linear", RunSrcLinear);
    add("speex_q0", RunSpeex);
    add("soxr_quick", RunSoxr);
    add("memcpy", RunMemcpy);
  }
  benchmark::Initialize(&argc, argv);
  RatioReporter reporter;
  benchmark::RunSpecifiedBenchmarks(&reporter);
  PrintRatios(reporter.rates);
  benchmark::Shutdown();
  return 0;
}
