// SPDX-License-Identifier: GPL-3.0-or-later
// A whole import of arbitrary file bytes into a simulated pedal of each model, with the
// read-back check on. On a pedal without faults there are only two endings: the file is
// refused before anything reaches the pedal (which keeps its loop), or the loop is stored and
// reads back equal to the file's conversion.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "audio/sample_pages.h"
#include "device/discovery.h"
#include "device/platform/sim/sim_pedal.h"
#include "fuzz/fuzz_support.h"
#include "fuzz/import_support.h"
#include "transfer/job.h"

using namespace rendax;
using rendax::fuzz::EarlierLoop;
using rendax::fuzz::ImportScratch;
using rendax::fuzz::Recorder;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::filesystem::path& root = ImportScratch("import");
  const std::string file = (root / "in.wav").string();
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    FUZZ_CHECK(out.good());
  }
  SimulatorPlatform platform((root / "pedals").string());
  const std::string pedal = (root / "pedals" / "p0").string();

  for (uint8_t model = 0; model < 3; ++model) {
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
    job.verify = true;
    // The earlier loop is saved first, as for any user; the folder stays small.
    job.backupFolder = (root / "backups").string();
    const JobResult result = RunJob(job, device, wav, resample, ui);

    FUZZ_CHECK(!device.IsOpen());
    FUZZ_CHECK(!ui.progress.empty() && ui.progress.back() == 0);
    std::vector<uint8_t> stream;
    LoopInfo info;
    FUZZ_CHECK(ReadSimulatedLoop(pedal, stream, info, error));
    if (result == JobResult::Success) {
      const std::vector<std::string> want{"off", "on", kMsgSendComplete};
      FUZZ_CHECK(ui.events == want);
      // The pedal holds whole pages, and the length it was given ends in the last one.
      const uint32_t page = PageLayoutFor(ModelInfo(model).channels).pageBytes;
      // A file in the lossless form brings its own loop status.
      FUZZ_CHECK((info.status == 0 || wav.sampleRate == kPedalFrameRate) && info.length > 0);
      FUZZ_CHECK(stream.size() % page == 0);
      FUZZ_CHECK(stream.size() >= info.length && stream.size() - info.length < page);
    } else {
      // Refused before anything was sent: the earlier loop is untouched, the buttons too.
      FUZZ_CHECK(result == JobResult::Failed);
      if (ui.events != std::vector<std::string>{kMsgFormatWrong}) {
        for (const std::string& e : ui.events) std::fprintf(stderr, "shown: %s\n", e.c_str());
      }
      FUZZ_CHECK(ui.events == std::vector<std::string>{kMsgFormatWrong});
      FUZZ_CHECK(info.status == 0 && info.length == 6144 && stream == EarlierLoop());
    }
  }
  return 0;
}
