// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated pedal's firmware on arbitrary command sequences: any CDB, direction, data
// length and sense length. Buffers are exactly as long as the command says, so the firmware may
// never touch more; its answers must keep their own promises.
//
// Input: model byte, then commands until the input ends (at most kMaxCommands):
//   selector byte: low 3 bits 0..5 pick a catalogue CDB, 6 takes 10 raw CDB bytes from the input,
//                  7 takes a catalogue CDB (next byte) with one byte replaced (two more bytes);
//                  bit 3: data-out (else data-in); bit 4: no data buffer at all.
//   24-bit data length (wrapped to at most kMaxLength), sense length byte, then for data-out
//   the data (zero past the input's end).
#include <filesystem>
#include <memory>
#include <vector>

#include "device/platform/sim/sim_pedal.h"
#include "fuzz/fuzz_support.h"

using namespace rendax;
using rendax::fuzz::Reader;

namespace {

constexpr uint32_t kMaxCommands = 16;
constexpr uint32_t kMaxLength = 131072;

const std::filesystem::path& Pedal() {
  static const std::filesystem::path root = rendax::fuzz::ScratchFolder("sim");
  static rendax::fuzz::ScratchCleanup cleanup{root};
  static const std::filesystem::path pedal = root / "p0";
  return pedal;
}

Cdb CatalogueCdb(uint8_t which) {
  switch (which % 6) {
    case 0:
      return CdbGetFirmwareVersion();
    case 1:
      return CdbWriteFirmware();
    case 2:
      return CdbLoopInfoRead();
    case 3:
      return CdbLoopInfoWrite();
    case 4:
      return CdbLoopDataRead();
    default:
      return CdbLoopDataWrite();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader r(data, size);
  const std::string pedal = Pedal().string();
  std::string error;
  const uint8_t model = r.U8() % 3;
  FUZZ_CHECK(CreateSimulatedPedal(pedal, model, 8, error));
  // A loop is stored so that reads have something to deliver.
  const std::vector<uint8_t> stored(5000, 0x5A);
  FUZZ_CHECK(WriteSimulatedLoop(pedal, stored, LoopInfo{0, 5000}, error));

  SimulatedPedalFirmware firmware(pedal);
  for (uint32_t n = 0; n < kMaxCommands && r.Left() > 0; ++n) {
    const uint8_t selector = r.U8();
    PassThroughRequest request;
    Cdb cdb{};
    if ((selector & 7) < 6) {
      cdb = CatalogueCdb(selector & 7);
    } else if ((selector & 7) == 6) {
      for (auto& b : cdb) b = r.U8();
    } else {
      cdb = CatalogueCdb(r.U8());
      const uint8_t at = r.U8() % 10;
      cdb[at] = r.U8();
    }
    std::copy(cdb.begin(), cdb.end(), request.cdb.begin());
    request.direction = selector & 8 ? DataDirection::Out : DataDirection::In;
    const bool noBuffer = selector & 16;
    request.dataLength = r.U24() % (kMaxLength + 1);
    request.senseRequested = r.U8();

    std::unique_ptr<uint8_t[]> buffer;
    if (!noBuffer) {
      buffer.reset(new uint8_t[request.dataLength ? request.dataLength : 1]);
      std::memset(buffer.get(), 0, request.dataLength);
      if (request.direction == DataDirection::Out) {
        const uint8_t* from = nullptr;
        const size_t got = r.Take(request.dataLength, from);
        if (got) std::memcpy(buffer.get(), from, got);
      }
      request.data = buffer.get();
    }
    const PedalCommand command = ClassifyCdb(request.cdb.data());
    const PassThroughResult result = firmware.Execute(request);

    FUZZ_CHECK(result.residual <= request.dataLength);
    FUZZ_CHECK(result.senseLength <= result.sense.size());
    FUZZ_CHECK(result.senseLength <= request.senseRequested);
    if (result.outcome == CommandOutcome::Good) {
      FUZZ_CHECK(command != PedalCommand::Unknown);
      FUZZ_CHECK(request.dataLength == 0 || request.data != nullptr);
    }
    // A loop info record the pedal took is the one it reports.
    if (command == PedalCommand::LoopInfoWrite && result.ok()) {
      std::vector<uint8_t> stream;
      LoopInfo info;
      FUZZ_CHECK(ReadSimulatedLoop(pedal, stream, info, error));
      const LoopInfo sent = DecodeLoopInfo(static_cast<const uint8_t*>(request.data));
      FUZZ_CHECK(info.status == sent.status && info.length == sent.length);
    }
  }
  return 0;
}
