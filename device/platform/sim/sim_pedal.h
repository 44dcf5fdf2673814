// SPDX-License-Identifier: GPL-3.0-or-later
// The simulated pedal: a folder that behaves like a pedal's firmware, and the platform that
// shows such folders as attached pedals.
//
// A pedal folder holds
//   model      "0", "1" or "2"
//   firmware   the firmware version, decimal text
//   loop.bin   the stored page stream, exactly the bytes the pedal holds
//   loop.info  the 5-byte loop info record (absent: the pedal holds no loop, read as status 1)
//   faults     optional fault script, see FaultScript below
//   firmware.bin  the last image written with WriteFirmware
//   unplugged  present once a scripted cable pull has happened; delete it to plug back in
//   stalled    present while a scripted stall holds a command: the stalled program's process
//              id; delete it to let the command run
// packaging/linux/README.md describes the folder for people.
//
// SimulatedPedalFirmware is the one place that decides how the pedal answers a vendor command,
// so every transport (the simulated channel here, a USB gadget elsewhere) answers alike.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "device/commands.h"
#include "device/pass_through.h"
#include "device/platform.h"

namespace rendax {

// The commands of the catalogue, as the fault script names them.
enum class PedalCommand : uint8_t {
  GetFirmwareVersion,
  WriteFirmware,
  LoopInfoRead,
  LoopInfoWrite,
  LoopDataRead,
  LoopDataWrite,
  Unknown
};
// The name used in fault scripts ("LoopDataWrite", ...); "Unknown" for anything else.
const char* PedalCommandName(PedalCommand command);
// Classifies a CDB; Unknown when it is not one of the catalogue's commands.
PedalCommand ClassifyCdb(const uint8_t* cdb);

// The `faults` file, one directive per line, '#' starts a comment, blank lines ignored:
//   fail <Command> [k]     the k-th command of that kind (counted from 1 since the pedal was
//                          opened) ends with CHECK CONDITION, sense HARDWARE ERROR; without k,
//                          every command of that kind does. <Command> may be "Any".
//   unplug-after <n>       the first n commands of the open work; every later one fails as a
//                          pulled cable (transport error), and the pedal disappears: the
//                          `unplugged` marker is written, so discovery and Open fail too.
//   stall <Command> [k]    the k-th command of that kind (counted as for `fail`) waits before it
//                          runs: the `stalled` marker is written and the command runs once it is
//                          deleted (or after two minutes), so a test can act while the program is
//                          inside a transfer.
// Unknown lines are ignored, so a script written for a newer simulator still loads.
struct FaultScript {
  struct Fail {
    PedalCommand command = PedalCommand::Unknown;
    bool any = false;  // "Any": counted over every command
    uint32_t nth = 0;  // 0: every one
  };
  std::vector<Fail> fails;
  std::vector<Fail> stalls;  // matched as fails are
  uint32_t unplugAfter = 0;  // 0: never
  bool hasUnplug = false;

  static FaultScript Parse(const std::string& text);
};

// The pedal's firmware working on one pedal folder. One instance is one open of the pedal: the
// stream position and the fault counters live here, the stored loop and firmware in the folder,
// written as each command happens (so a pulled cable leaves what a real pedal would hold).
// A folder that is removed or replaced while open (or whose loop.bin is) is the simulator's
// pulled cable: from then on every command of this open fails as `unplug-after` makes it fail.
//
// Behaviour:
// - GetFirmwareVersion: the version, low byte first.
// - WriteFirmware: exactly 24,576 bytes; stored as firmware.bin, version = its last two bytes.
// - LoopInfo read: the stored record (status 1, length 0 when none); rewinds the stream.
// - LoopData read: the next bytes of loop.bin; bytes past its end read as zero.
// - LoopData write: overwrites loop.bin at the stream position and extends it.
// - LoopInfo write: stores the record; when LoopData writes happened since the last rewind,
//   loop.bin is cut to the end of the last write (the pedal keeps what it was sent); rewinds.
// - Anything else, or a wrong direction or length: CHECK CONDITION, ILLEGAL REQUEST.
class SimulatedPedalFirmware {
 public:
  explicit SimulatedPedalFirmware(std::string folder);

  // Runs one vendor command with its data buffer. Never throws.
  PassThroughResult Execute(const PassThroughRequest& request);

  // True once a scripted cable pull has happened (in this open or an earlier one).
  bool Unplugged() const;
  const std::string& Folder() const { return folder_; }

 private:
  PassThroughResult Run(PedalCommand command, const PassThroughRequest& request);
  // The commands that change what the pedal holds, one each.
  PassThroughResult WriteFirmware(const PassThroughRequest& request);
  PassThroughResult LoopInfoWrite(const PassThroughRequest& request);
  PassThroughResult LoopDataWrite(const PassThroughRequest& request);
  bool Rewind();
  // True once the folder or its stored loop is no longer the one this open began with.
  bool Vanished();

  // Which file a path names (present, and its device and node where the system tells).
  struct FileMark {
    bool present = false;
    uint64_t device = 0;
    uint64_t node = 0;
    bool operator==(const FileMark&) const = default;
  };
  static FileMark MarkOf(const std::string& path);

  std::string folder_;
  FileMark folderMark_;
  FileMark loopMark_;  // absent until a loop is stored
  bool vanished_ = false;
  FaultScript faults_;
  uint64_t position_ = 0;  // stream position of LoopData commands
  bool wroteSinceRewind_ = false;
  uint32_t commandCount_ = 0;
  uint32_t kindCount_[7] = {};
};

// ---- Preparing and inspecting a pedal folder (the command line's `sim` verbs, tests) ----

// Makes `dir` (and its parents) a pedal of `model` with `firmwareVersion` and no loop.
bool CreateSimulatedPedal(const std::string& dir, uint8_t model, uint16_t firmwareVersion,
                          std::string& error);
// Stores `stream` as loop.bin and `info` as loop.info.
bool WriteSimulatedLoop(const std::string& dir, std::span<const uint8_t> stream,
                        const LoopInfo& info, std::string& error);
// Reads loop.bin (empty when absent) and loop.info (status 1, length 0 when absent).
bool ReadSimulatedLoop(const std::string& dir, std::vector<uint8_t>& stream, LoopInfo& info,
                       std::string& error);
// Writes the raw 5-byte loop info record, for scripting odd replies (status 1, length 0, a
// length larger than the stream).
bool WriteSimulatedLoopInfo(const std::string& dir, const LoopInfo& info, std::string& error);
// Reads the `firmware` file.
bool ReadSimulatedFirmwareVersion(const std::string& dir, uint16_t& version, std::string& error);
// Replaces the `faults` file (empty text removes it).
bool WriteSimulatedFaults(const std::string& dir, const std::string& text, std::string& error);
// Reads the `model` file; false when missing or not 0..2.
bool ReadSimulatedModel(const std::string& dir, uint8_t& model);

// The simulator as a platform: each subfolder of `root` is one attached USB pedal (vendor
// "QELM    ", its model's product string), in name order, with the folder path as device path.
// A folder with the `unplugged` marker or without a valid `model` is not attached.
// An open pedal is held as a real one is: until its channel is closed, every other Open of the
// folder, from this process or another, fails with kPedalInUseError.
class SimulatorPlatform : public DevicePlatform {
 public:
  explicit SimulatorPlatform(std::string root);
  bool ListCandidates(std::vector<std::string>& paths, std::string& error) override;
  std::optional<StorageIdentity> Identify(const std::string& path) override;
  std::unique_ptr<DeviceChannel> Open(const std::string& path, uint32_t access, uint32_t share,
                                      int& osError) override;
  // Scans the folder every 0.1 s.
  std::unique_ptr<NoticeFeed> WatchNotices(std::string& error) override;
  const std::string& Root() const { return root_; }

 private:
  std::string root_;
};

}  // namespace rendax
