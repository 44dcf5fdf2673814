// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the seeds that come from the simulator: for every WAV file named on the command line
// it imports the file into a simulated pedal of each model and keeps
//   pages/             the stored page stream (unpacker seeds) and the file's audio (packer seeds)
//   sim_commands/      the commands the import and an export sent, in fuzz_sim_commands' format
// and, once, storage_descriptor/ with the simulated pedals' identities laid out as the
// Windows storage query returns them.
//
// usage: make_seeds CORPUS_DIR FILE.wav...
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "audio/wav_header.h"
#include "device/discovery.h"
#include "device/platform/sim/sim_pedal.h"
#include "device/platform/win32/storage_descriptor.h"
#include "transfer/job.h"

using namespace rendax;
namespace fs = std::filesystem;

namespace {

void Save(const fs::path& path, const std::vector<uint8_t>& bytes) {
  fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> Load(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void Put(std::vector<uint8_t>& v, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) v.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// Records every command in the seed format of fuzz_sim_commands (raw CDB form).
class Recording : public DeviceChannel {
 public:
  Recording(std::unique_ptr<DeviceChannel> inner, std::vector<uint8_t>& seed)
      : inner_(std::move(inner)), seed_(seed) {}
  PassThroughResult Execute(const PassThroughRequest& r) override {
    const bool out = r.direction == DataDirection::Out;
    // Long transfers are kept short so the seed stays small; the commands stay the same.
    const uint32_t length = r.dataLength < 4096 ? r.dataLength : 4096;
    seed_.push_back(static_cast<uint8_t>(6 | (out ? 8 : 0)));
    seed_.insert(seed_.end(), r.cdb.begin(), r.cdb.begin() + 10);
    Put(seed_, length, 3);
    seed_.push_back(r.senseRequested);
    if (out) {
      const auto* d = static_cast<const uint8_t*>(r.data);
      seed_.insert(seed_.end(), d, d + length);
    }
    return inner_->Execute(r);
  }
  bool IsSimulated() const override { return true; }

 private:
  std::unique_ptr<DeviceChannel> inner_;
  std::vector<uint8_t>& seed_;
};

class RecordingPlatform : public SimulatorPlatform {
 public:
  RecordingPlatform(const std::string& root, std::vector<uint8_t>& seed)
      : SimulatorPlatform(root), seed_(seed) {}
  std::unique_ptr<DeviceChannel> Open(const std::string& path, uint32_t access, uint32_t share,
                                      int& osError) override {
    auto inner = SimulatorPlatform::Open(path, access, share, osError);
    if (!inner) return nullptr;
    return std::make_unique<Recording>(std::move(inner), seed_);
  }

 private:
  std::vector<uint8_t>& seed_;
};

class Quiet : public JobFrontEnd {
 public:
  void ReportProgress(int) override {}
  void EnableTransferButtons(bool) override {}
  void ShowMessage(const std::string&) override {}
  bool AskYesNo(const std::string&, const std::string&) override { return true; }
};

// One descriptor as the storage query fills it, with the fuzz target's 2-byte length in front.
std::vector<uint8_t> DescriptorSeed(const StorageIdentity& id, uint32_t busType,
                                    uint16_t returned) {
  std::vector<uint8_t> d(kStorageDescriptorBytes, 0);
  auto put32 = [&](size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) d[at + i] = static_cast<uint8_t>(v >> (8 * i));
  };
  put32(0, 1);    // Version
  put32(4, 120);  // Size
  put32(28, busType);
  if (id.vendor) {
    put32(12, 64);
    std::copy(id.vendor->begin(), id.vendor->end(), d.begin() + 64);
  }
  if (id.product) {
    put32(16, 80);
    std::copy(id.product->begin(), id.product->end(), d.begin() + 80);
  }
  std::vector<uint8_t> seed;
  Put(seed, returned, 2);
  seed.insert(seed.end(), d.begin(), d.end());
  return seed;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: make_seeds CORPUS_DIR FILE.wav...\n");
    return 2;
  }
  const fs::path corpus = argv[1];
  const fs::path work = fs::temp_directory_path() / ("rendax-seeds-" + std::to_string(getpid()));
  fs::remove_all(work);
  std::string error;

  for (uint8_t model = 0; model < kModelCount; ++model) {
    const std::string pedal = (work / "pedals" / "p0").string();
    if (!CreateSimulatedPedal(pedal, model, 8, error)) {
      std::fprintf(stderr, "%s\n", error.c_str());
      return 1;
    }
    SimulatorPlatform platform((work / "pedals").string());
    const auto id = platform.Identify(pedal);
    const std::string name = "model" + std::to_string(model);
    Save(corpus / "storage_descriptor" / (name + "-usb"), DescriptorSeed(*id, kBusTypeUsb, 120));
    Save(corpus / "storage_descriptor" / (name + "-sata"), DescriptorSeed(*id, 11, 120));
    Save(corpus / "storage_descriptor" / (name + "-short"), DescriptorSeed(*id, kBusTypeUsb, 84));
  }
  Save(corpus / "storage_descriptor" / "no-strings", DescriptorSeed({true, {}, {}}, 7, 120));

  for (int i = 2; i < argc; ++i) {
    const fs::path wavPath = argv[i];
    const std::vector<uint8_t> file = Load(wavPath);
    WavFormat wav;
    if (!ParseWavHeader(file.data(), file.size(), wav)) continue;
    const std::string stem = wavPath.stem().string();

    // Packer seed: the file's own audio behind the control bytes for its converter.
    const uint8_t alignBits = wav.blockAlign == 2   ? 0
                              : wav.blockAlign == 3 ? 1
                              : wav.blockAlign == 4 ? 2
                                                    : 3;
    for (uint8_t pedalChannels = 1; pedalChannels <= 2; ++pedalChannels) {
      std::vector<uint8_t> seed;
      seed.push_back(static_cast<uint8_t>((pedalChannels == 2 ? 1 : 0) | 2 |
                                          (wav.sampleRate == 44100 ? 4 : 0) | alignBits << 3));
      seed.push_back(1);  // two chunks
      Put(seed, 1000, 3);
      Put(seed, 0xFFFFFF, 3);
      Put(seed, 0, 2);
      const size_t audioAt = AudioOffset(wav);
      seed.insert(seed.end(), file.begin() + std::min(audioAt, file.size()), file.end());
      Save(corpus / "pages" / (stem + "-pack" + std::to_string(pedalChannels)), seed);
    }

    for (uint8_t model = 0; model < kModelCount; ++model) {
      const std::string pedal = (work / "pedals" / "p0").string();
      CreateSimulatedPedal(pedal, model, 8, error);
      std::vector<uint8_t> traffic{model};
      RecordingPlatform platform((work / "pedals").string(), traffic);
      CMassStorageDevice device(platform);
      WavFormat format;
      ResampleState resample;
      Quiet ui;
      JobRequest job;
      job.code = JobImport;
      job.pedalPath = pedal;
      job.model = model;
      job.exportPath = (work / "out.wav").string();
      job.importPath = wavPath.string();
      job.verify = true;
      job.backup = false;  // the seeds record the plain command traffic
      RunJob(job, device, format, resample, ui);
      job.code = JobExport;
      RunJob(job, device, format, resample, ui);
      const std::string name = stem + "-model" + std::to_string(model);
      Save(corpus / "sim_commands" / name, traffic);

      // Unpacker seed: the stored stream, cut into a whole page and the rest.
      std::vector<uint8_t> stream;
      LoopInfo info;
      ReadSimulatedLoop(pedal, stream, info, error);
      std::vector<uint8_t> seed;
      seed.push_back(static_cast<uint8_t>(ModelInfo(model).channels - 1));
      seed.push_back(1);
      Put(seed, 0, 3);
      Put(seed, info.length > 4096 ? info.length - 4097 : info.length, 3);
      Put(seed, 0, 2);
      seed.insert(seed.end(), stream.begin(), stream.end());
      Save(corpus / "pages" / (name + "-unpack"), seed);
    }
  }
  fs::remove_all(work);
  return 0;
}
