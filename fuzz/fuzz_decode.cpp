// SPDX-License-Identifier: GPL-3.0-or-later
// The decoding path on arbitrary file bytes: what the file is, the import's check, the audio
// source read to its end, and an import of it into a simulated pedal. The promises: nothing
// crashes; a source gives whole frames in the form it states and ends (nothing after a short
// read, an exact length kept); a file the check refuses leaves the pedal's loop untouched; and an
// import ends as the read did, stored whole when the audio decoded, failed when it did not.
//
// The pedal's model and the mix flag come from a hash of the bytes, so each input always takes
// the same path and the seeds reach every pair.
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "audio/sample_pages.h"
#include "device/discovery.h"
#include "device/platform/sim/sim_pedal.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/import_support.h"
#include "transfer/decode.h"
#include "transfer/job.h"

using namespace rendax;
using rendax::fuzz::EarlierLoop;
using rendax::fuzz::ImportScratch;
using rendax::fuzz::Recorder;

namespace {

// Decoded audio read per input at most: a few kilobytes of FLAC can hold hours of silence.
constexpr uint64_t kMaxOutputBytes = 4u << 20;
// Only sources this small are also imported, so the fuzzer keeps its pace.
constexpr uint64_t kMaxImportedBytes = 1u << 20;

uint32_t Hash(const uint8_t* data, size_t size) {
  uint32_t h = 2166136261u;
  for (size_t i = 0; i < size; ++i) h = (h ^ data[i]) * 16777619u;
  return h;
}

enum class Ending { Ended, Failed, Capped };

// Reads the whole source in chunks of `chunkFrames` frames, checking every answer. Only a plain
// file whose audio ends inside a frame (`cutPlain`) may end with a part of one: the packers drop
// it.
Ending ReadToEnd(AudioSource& source, uint32_t chunkFrames, bool cutPlain, uint64_t& total) {
  const WavFormat& format = source.Format();
  const uint32_t chunk = chunkFrames * format.blockAlign;
  std::vector<uint8_t> buffer(chunk);
  total = 0;
  for (;;) {
    const int64_t got = source.Read(buffer.data(), chunk);
    if (got < 0) {
      FUZZ_CHECK(got == -1 && !source.Reason().empty());
      return Ending::Failed;
    }
    FUZZ_CHECK(got <= chunk);
    FUZZ_CHECK(got % format.blockAlign == 0 || (cutPlain && got < chunk));
    total += static_cast<uint64_t>(got);
    if (got < chunk) {
      // A short read is the end, and the end stays the end.
      FUZZ_CHECK(source.Read(buffer.data(), chunk) == 0);
      FUZZ_CHECK(source.Read(buffer.data(), chunk) == 0);
      if (source.ExactLength()) FUZZ_CHECK(total == source.ExpectedBytes());
      return Ending::Ended;
    }
    if (total >= kMaxOutputBytes) return Ending::Capped;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::filesystem::path& root = ImportScratch("decode");
  const std::string file = (root / "in.audio").string();
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    FUZZ_CHECK(out.good());
  }
  const uint32_t hash = Hash(data, size);
  const uint8_t model = static_cast<uint8_t>(hash % kModelCount);
  const bool mix = (hash >> 8) & 1;
  const bool both = (hash >> 31) & 1;
  const uint32_t chunkFrames = 1 + (hash >> 9) % 20000;
  const uint32_t pedalChannels = ModelInfo(model).channels;

  AudioFileInfo info;
  std::string reason;
  if (InspectAudioFile(file, info, reason)) {
    FUZZ_CHECK(!info.container.empty() && info.rate > 0 && info.channels > 0);
  } else {
    FUZZ_CHECK(!reason.empty());
  }

  ImportCheck check;
  const bool accepted = CheckImportFile(file, model, check, mix, both);
  Ending ending = Ending::Failed;
  uint64_t total = 0;
  if (accepted) {
    // What goes to the converters: the file's own samples, or 24-bit at a rate they take.
    const WavFormat& wav = check.wav;
    FUZZ_CHECK(wav.channels == 1 || wav.channels == 2);
    FUZZ_CHECK(wav.blockAlign == wav.channels * wav.bitsPerSample / 8);
    if (check.decoded) {
      FUZZ_CHECK(wav.bitsPerSample == 24);
      FUZZ_CHECK(wav.sampleRate == 44100 || wav.sampleRate == 48000 ||
                 (wav.sampleRate == kPedalFrameRate && wav.channels == pedalChannels));
    }
    std::unique_ptr<AudioSource> source =
        check.decoded ? OpenDecodedSource(file, check.plan, reason)
                      : OpenPlainSource(file, wav, check.audioOffset, check.audioBytes, reason);
    if (source) {
      const WavFormat& format = source->Format();
      FUZZ_CHECK(format.channels == wav.channels && format.sampleRate == wav.sampleRate &&
                 format.bitsPerSample == wav.bitsPerSample && format.blockAlign == wav.blockAlign);
      // A plain file's audio ends inside a frame when the file is cut there, or when its data
      // chunk is not a whole number of frames.
      const bool partFrame =
          !check.decoded && (check.endsEarly || check.audioBytes % wav.blockAlign != 0);
      ending = ReadToEnd(*source, chunkFrames, partFrame, total);
    } else {
      FUZZ_CHECK(!reason.empty());
    }
  } else {
    FUZZ_CHECK(!check.text.empty() && !check.reason.empty());
  }

  // The import: always for a refused file (it must touch nothing), else when the read ended
  // and the audio is small.
  if (accepted && (ending == Ending::Capped || total > kMaxImportedBytes)) return 0;
  SimulatorPlatform platform((root / "pedals").string());
  const std::string pedal = (root / "pedals" / "p0").string();
  std::string error;
  FUZZ_CHECK(CreateSimulatedPedal(pedal, model, 8, error));
  FUZZ_CHECK(WriteSimulatedLoop(pedal, EarlierLoop(), LoopInfo{0, 6144}, error));
  CMassStorageDevice device(platform);
  WavFormat wav;
  ResampleState resample;
  Recorder ui;
  JobRequest job;
  job.code = JobImport;
  job.pedalPath = pedal;
  job.model = model;
  job.importPath = file;
  job.mix = mix;
  job.both = both;
  job.backup = false;
  const JobResult result = RunJob(job, device, wav, resample, ui);

  FUZZ_CHECK(!device.IsOpen());
  FUZZ_CHECK(!ui.progress.empty() && ui.progress.back() == 0);
  std::vector<uint8_t> stream;
  LoopInfo stored;
  FUZZ_CHECK(ReadSimulatedLoop(pedal, stream, stored, error));
  if (!accepted) {
    FUZZ_CHECK(result == JobResult::Failed);
    FUZZ_CHECK(ui.events == std::vector<std::string>{check.text});
    FUZZ_CHECK(stored.status == 0 && stored.length == 6144 && stream == EarlierLoop());
  } else if (ending == Ending::Ended && total > 0) {
    // The same bytes decode the same way inside the job: the loop is stored, in whole pages.
    FUZZ_CHECK(result == JobResult::Success);
    FUZZ_CHECK(ui.events.size() >= 3 && ui.events[2] == kMsgSendComplete);
    const uint32_t page = PageLayoutFor(pedalChannels).pageBytes;
    FUZZ_CHECK(stored.length > 0 && stream.size() % page == 0);
    FUZZ_CHECK(stream.size() >= stored.length && stream.size() - stored.length < page);
  } else {
    // The audio could not be read: the job says so and never claims the loop.
    FUZZ_CHECK(result == JobResult::Failed);
    FUZZ_CHECK(!ui.events.empty() && ui.events.back() != kMsgSendComplete);
  }
  return 0;
}
