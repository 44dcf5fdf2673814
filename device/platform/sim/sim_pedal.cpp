// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/platform/sim/sim_pedal.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "device/discovery.h"
#include "device/u8_path.h"

namespace rendax {
namespace fs = std::filesystem;
namespace {

constexpr uint8_t kSenseHardwareError = 0x04;
constexpr uint8_t kSenseIllegalRequest = 0x05;
constexpr uint8_t kAscInvalidOpcode = 0x20;
constexpr uint8_t kAscInvalidField = 0x24;
constexpr uint8_t kAscInternalFailure = 0x44;

const char* const kCommandNames[] = {
    "GetFirmwareVersion", "WriteFirmware", "LoopInfoRead", "LoopInfoWrite",
    "LoopDataRead",       "LoopDataWrite", "Unknown"};

PassThroughResult Good(uint32_t residual = 0) {
  PassThroughResult r;
  r.outcome = CommandOutcome::Good;
  r.residual = residual;
  return r;
}

// CHECK CONDITION with fixed-format sense, as a USB disk reports it.
PassThroughResult Check(const PassThroughRequest& request, uint8_t key, uint8_t asc) {
  PassThroughResult r;
  r.outcome = CommandOutcome::ScsiStatus;
  r.scsiStatus = kScsiStatusCheckCondition;
  r.residual = request.dataLength;
  std::array<uint8_t, 18> sense{};
  sense[0] = 0x70;
  sense[2] = key;
  sense[7] = 10;
  sense[12] = asc;
  r.senseLength = static_cast<uint8_t>(
      std::min<size_t>({sense.size(), request.senseRequested, r.sense.size()}));
  std::copy_n(sense.begin(), r.senseLength, r.sense.begin());
  return r;
}

PassThroughResult Pulled() {
  PassThroughResult r;
  r.outcome = CommandOutcome::TransportError;
  r.osError = ENODEV;
  // As a Linux host reports a command to a device that left the bus; unlike the errno, this
  // means the same on every platform the simulator runs on.
  r.hostStatus = kHostNoConnect;
  return r;
}

bool ReadFile(const fs::path& p, std::string& out) {
  std::ifstream in(p, std::ios::binary);
  if (!in) return false;
  std::ostringstream s;
  s << in.rdbuf();
  out = s.str();
  return !in.bad();
}

bool WriteFile(const fs::path& p, const void* data, size_t size) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  if (!out) return false;
  out.write(static_cast<const char*>(data), static_cast<std::streamsize>(size));
  out.close();
  return !out.fail();
}

bool WriteText(const fs::path& p, const std::string& text) {
  return WriteFile(p, text.data(), text.size());
}

bool ParseUnsigned(const std::string& text, uint32_t& value) {
  std::istringstream in(text);
  uint64_t v = 0;
  if (!(in >> v) || v > 0xFFFFFFFFu) return false;
  std::string rest;
  if (in >> rest) return false;
  value = static_cast<uint32_t>(v);
  return true;
}

bool ReadLoopInfoFile(const fs::path& dir, LoopInfo& info) {
  std::string bytes;
  if (!ReadFile(dir / "loop.info", bytes) || bytes.size() < kLoopInfoBytes) {
    info = LoopInfo{1, 0};  // nothing stored
    return true;
  }
  info = DecodeLoopInfo(reinterpret_cast<const uint8_t*>(bytes.data()));
  return true;
}

// A scripted stall: the command waits until the `stalled` marker is deleted. Bounded, so a test
// that never lets go cannot leave a program hanging for good.
void Stall(const fs::path& dir) {
#if defined(_WIN32)
  const unsigned long pid = ::GetCurrentProcessId();
#else
  const unsigned long pid = static_cast<unsigned long>(::getpid());
#endif
  const fs::path marker = dir / "stalled";
  if (!WriteText(marker, std::to_string(pid) + "\n")) return;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(2);
  std::error_code ec;
  while (fs::exists(marker, ec) && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  fs::remove(marker, ec);
}

bool IsAttached(const fs::path& dir) {
  std::error_code ec;
  uint8_t model = 0;
  return fs::is_directory(dir, ec) && !fs::exists(dir / "unplugged", ec) &&
         ReadSimulatedModel(U8String(dir), model);
}

// Held while a pedal folder is open, as a real pedal is held by the open of its device: a second
// open, from this process or another, is refused with kPedalInUseError. The system drops the
// lock with the process, so a killed program never leaves the pedal held.
class FolderLock {
 public:
  static std::unique_ptr<FolderLock> Take(const fs::path& folder, int& osError) {
#if defined(_WIN32)
    // A file nobody else may open, gone with the last handle.
    HANDLE h =
        ::CreateFileW((folder / "in-use").wstring().c_str(), GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                      FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
      const DWORD e = ::GetLastError();
      // A file pending deletion by the last holder is refused as access denied.
      osError = e == ERROR_SHARING_VIOLATION || e == ERROR_ACCESS_DENIED ? kPedalInUseError
                                                                         : static_cast<int>(e);
      return nullptr;
    }
    return std::unique_ptr<FolderLock>(new FolderLock(h));
#else
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
      osError = errno;
      return nullptr;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      osError = errno == EWOULDBLOCK ? kPedalInUseError : errno;
      ::close(fd);
      return nullptr;
    }
    return std::unique_ptr<FolderLock>(new FolderLock(fd));
#endif
  }
  ~FolderLock() {
#if defined(_WIN32)
    ::CloseHandle(handle_);
#else
    ::close(handle_);
#endif
  }
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;

 private:
#if defined(_WIN32)
  using Handle = HANDLE;
#else
  using Handle = int;
#endif
  explicit FolderLock(Handle h) : handle_(h) {}
  Handle handle_;
};

class SimulatedChannel : public DeviceChannel {
 public:
  SimulatedChannel(std::string folder, std::unique_ptr<FolderLock> lock)
      : lock_(std::move(lock)), firmware_(std::move(folder)) {}
  PassThroughResult Execute(const PassThroughRequest& request) override {
    return firmware_.Execute(request);
  }
  bool IsSimulated() const override { return true; }

 private:
  std::unique_ptr<FolderLock> lock_;
  SimulatedPedalFirmware firmware_;
};

}  // namespace

const char* PedalCommandName(PedalCommand command) {
  return kCommandNames[static_cast<size_t>(command)];
}

PedalCommand ClassifyCdb(const uint8_t* cdb) {
  const std::pair<Cdb, PedalCommand> catalogue[] = {
      {CdbGetFirmwareVersion(), PedalCommand::GetFirmwareVersion},
      {CdbWriteFirmware(), PedalCommand::WriteFirmware},
      {CdbLoopInfoRead(), PedalCommand::LoopInfoRead},
      {CdbLoopInfoWrite(), PedalCommand::LoopInfoWrite},
      {CdbLoopDataRead(), PedalCommand::LoopDataRead},
      {CdbLoopDataWrite(), PedalCommand::LoopDataWrite},
  };
  for (const auto& [bytes, command] : catalogue) {
    if (std::equal(bytes.begin(), bytes.end(), cdb)) return command;
  }
  return PedalCommand::Unknown;
}

FaultScript FaultScript::Parse(const std::string& text) {
  FaultScript script;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    line = line.substr(0, line.find('#'));
    std::istringstream words(line);
    std::string verb, name, count;
    if (!(words >> verb)) continue;
    if (verb == "unplug-after") {
      if (words >> count && ParseUnsigned(count, script.unplugAfter)) script.hasUnplug = true;
    } else if ((verb == "fail" || verb == "stall") && words >> name) {
      Fail fail;
      if (name == "Any") {
        fail.any = true;
      } else {
        const auto* it = std::find(std::begin(kCommandNames), std::end(kCommandNames) - 1, name);
        if (it == std::end(kCommandNames) - 1) continue;
        fail.command = static_cast<PedalCommand>(it - std::begin(kCommandNames));
      }
      if (words >> count && !ParseUnsigned(count, fail.nth)) continue;
      (verb == "fail" ? script.fails : script.stalls).push_back(fail);
    }
  }
  return script;
}

// A path's file, told apart by its node: an open file keeps reading a deleted one, and a folder
// made again under the same name is another pedal. Windows refuses to delete a folder the open
// pedal holds a file in, so there presence is enough.
SimulatedPedalFirmware::FileMark SimulatedPedalFirmware::MarkOf(const std::string& path) {
  FileMark mark;
#if defined(_WIN32)
  std::error_code ec;
  mark.present = fs::exists(U8Path(path), ec);
#else
  struct stat st {};
  if (::stat(path.c_str(), &st) == 0) {
    mark.present = true;
    mark.device = static_cast<uint64_t>(st.st_dev);
    mark.node = static_cast<uint64_t>(st.st_ino);
  }
#endif
  return mark;
}

SimulatedPedalFirmware::SimulatedPedalFirmware(std::string folder) : folder_(std::move(folder)) {
  const fs::path dir = U8Path(folder_);
  std::string text;
  if (ReadFile(dir / "faults", text)) faults_ = FaultScript::Parse(text);
  folderMark_ = MarkOf(folder_);
  loopMark_ = MarkOf(U8String(dir / "loop.bin"));
}

bool SimulatedPedalFirmware::Vanished() {
  if (vanished_) return true;  // a pulled cable stays pulled for this open
  const FileMark folder = MarkOf(folder_);
  const FileMark loop = MarkOf(U8String(U8Path(folder_) / "loop.bin"));
  if (!folder.present || folder != folderMark_ || (loopMark_.present && loop != loopMark_)) {
    vanished_ = true;
  } else {
    loopMark_ = loop;  // a loop stored since the open, by this pedal or by hand, is its own
  }
  return vanished_;
}

bool SimulatedPedalFirmware::Unplugged() const {
  std::error_code ec;
  return fs::exists(U8Path(folder_) / "unplugged", ec);
}

PassThroughResult SimulatedPedalFirmware::Execute(const PassThroughRequest& request) {
  if (Unplugged() || Vanished()) return Pulled();
  ++commandCount_;
  if (faults_.hasUnplug && commandCount_ > faults_.unplugAfter) {
    WriteText(U8Path(folder_) / "unplugged", "pulled by the fault script\n");
    return Pulled();
  }
  const PedalCommand command = ClassifyCdb(request.cdb.data());
  const uint32_t nthOfKind = ++kindCount_[static_cast<size_t>(command)];
  auto matches = [&](const FaultScript::Fail& fault) {
    const bool kind = fault.any || fault.command == command;
    const uint32_t nth = fault.any ? commandCount_ : nthOfKind;
    return kind && (fault.nth == 0 || fault.nth == nth);
  };
  if (std::any_of(faults_.stalls.begin(), faults_.stalls.end(), matches)) {
    Stall(U8Path(folder_));
    if (Vanished()) return Pulled();  // pulled while the command was held
  }
  for (const FaultScript::Fail& fail : faults_.fails) {
    if (matches(fail)) return Check(request, kSenseHardwareError, kAscInternalFailure);
  }
  return Run(command, request);
}

bool SimulatedPedalFirmware::Rewind() {
  position_ = 0;
  wroteSinceRewind_ = false;
  return true;
}

PassThroughResult SimulatedPedalFirmware::Run(PedalCommand command,
                                              const PassThroughRequest& request) {
  if (command == PedalCommand::Unknown) {
    return Check(request, kSenseIllegalRequest, kAscInvalidOpcode);
  }
  const bool wantsIn = command == PedalCommand::GetFirmwareVersion ||
                       command == PedalCommand::LoopInfoRead ||
                       command == PedalCommand::LoopDataRead;
  const DataDirection expected = wantsIn ? DataDirection::In : DataDirection::Out;
  if (request.direction != expected || (request.dataLength != 0 && request.data == nullptr)) {
    return Check(request, kSenseIllegalRequest, kAscInvalidField);
  }
  const fs::path dir = U8Path(folder_);
  auto* data = static_cast<uint8_t*>(request.data);
  const uint32_t length = request.dataLength;

  switch (command) {
    case PedalCommand::GetFirmwareVersion: {
      uint16_t version = 0;
      std::string error;
      if (!ReadSimulatedFirmwareVersion(folder_, version, error)) {
        return Check(request, kSenseHardwareError, kAscInternalFailure);
      }
      const uint8_t bytes[2] = {static_cast<uint8_t>(version), static_cast<uint8_t>(version >> 8)};
      const uint32_t n = std::min<uint32_t>(length, 2);
      std::copy_n(bytes, n, data);
      return Good(length - n);
    }
    case PedalCommand::WriteFirmware:
      return WriteFirmware(request);
    case PedalCommand::LoopInfoRead: {
      LoopInfo info;
      ReadLoopInfoFile(dir, info);
      const auto record = EncodeLoopInfo(info);
      const uint32_t n = std::min<uint32_t>(length, kLoopInfoBytes);
      std::copy_n(record.begin(), n, data);
      Rewind();
      return Good(length - n);
    }
    case PedalCommand::LoopInfoWrite:
      return LoopInfoWrite(request);
    case PedalCommand::LoopDataRead: {
      std::fill_n(data, length, 0);  // past the stored stream the pedal reads as zero
      std::ifstream in(dir / "loop.bin", std::ios::binary);
      if (in && in.seekg(static_cast<std::streamoff>(position_))) {
        in.read(reinterpret_cast<char*>(data), length);
      }
      position_ += length;
      return Good();
    }
    case PedalCommand::LoopDataWrite:
      return LoopDataWrite(request);
    case PedalCommand::Unknown:
      break;
  }
  return Check(request, kSenseIllegalRequest, kAscInvalidOpcode);
}

PassThroughResult SimulatedPedalFirmware::WriteFirmware(const PassThroughRequest& request) {
  const fs::path dir = U8Path(folder_);
  auto* data = static_cast<uint8_t*>(request.data);
  const uint32_t length = request.dataLength;
  if (length != kFirmwareImageBytes) {
    return Check(request, kSenseIllegalRequest, kAscInvalidField);
  }
  const uint16_t version = static_cast<uint16_t>(data[length - 2] | data[length - 1] << 8);
  if (!WriteFile(dir / "firmware.bin", data, length) ||
      !WriteText(dir / "firmware", std::to_string(version) + "\n")) {
    return Check(request, kSenseHardwareError, kAscInternalFailure);
  }
  return Good();
}

PassThroughResult SimulatedPedalFirmware::LoopInfoWrite(const PassThroughRequest& request) {
  const fs::path dir = U8Path(folder_);
  auto* data = static_cast<uint8_t*>(request.data);
  const uint32_t length = request.dataLength;
  if (length != kLoopInfoBytes) return Check(request, kSenseIllegalRequest, kAscInvalidField);
  if (!WriteFile(dir / "loop.info", data, length)) {
    return Check(request, kSenseHardwareError, kAscInternalFailure);
  }
  if (wroteSinceRewind_) {
    std::error_code ec;
    fs::resize_file(dir / "loop.bin", position_, ec);
    if (ec) return Check(request, kSenseHardwareError, kAscInternalFailure);
  }
  Rewind();
  return Good();
}

PassThroughResult SimulatedPedalFirmware::LoopDataWrite(const PassThroughRequest& request) {
  const fs::path dir = U8Path(folder_);
  auto* data = static_cast<uint8_t*>(request.data);
  const uint32_t length = request.dataLength;
  const fs::path file = dir / "loop.bin";
  std::error_code ec;
  if (!fs::exists(file, ec) && !WriteFile(file, nullptr, 0)) {
    return Check(request, kSenseHardwareError, kAscInternalFailure);
  }
  const uintmax_t size = fs::file_size(file, ec);
  if (ec) return Check(request, kSenseHardwareError, kAscInternalFailure);
  if (size < position_) fs::resize_file(file, position_, ec);  // zero-filled gap
  std::fstream out(file, std::ios::binary | std::ios::in | std::ios::out);
  if (ec || !out || !out.seekp(static_cast<std::streamoff>(position_)) ||
      !out.write(reinterpret_cast<const char*>(data), length) || !out.flush()) {
    return Check(request, kSenseHardwareError, kAscInternalFailure);
  }
  position_ += length;
  wroteSinceRewind_ = true;
  return Good();
}

bool CreateSimulatedPedal(const std::string& dir, uint8_t model, uint16_t firmwareVersion,
                          std::string& error) {
  if (model >= kModelCount) {
    error = "The model must be 0, 1 or 2";
    return false;
  }
  const fs::path p = U8Path(dir);
  std::error_code ec;
  fs::create_directories(p, ec);
  if (ec) {
    error = "Cannot create " + dir + ": " + ec.message();
    return false;
  }
  for (const char* stale : {"loop.info", "faults", "unplugged", "stalled", "firmware.bin"}) {
    fs::remove(p / stale, ec);
  }
  if (!WriteText(p / "model", std::to_string(model) + "\n") ||
      !WriteText(p / "firmware", std::to_string(firmwareVersion) + "\n") ||
      !WriteFile(p / "loop.bin", nullptr, 0)) {
    error = "Cannot write the pedal files in " + dir;
    return false;
  }
  return true;
}

bool WriteSimulatedLoop(const std::string& dir, std::span<const uint8_t> stream,
                        const LoopInfo& info, std::string& error) {
  if (!WriteFile(U8Path(dir) / "loop.bin", stream.data(), stream.size())) {
    error = "Cannot write " + U8String(U8Path(dir) / "loop.bin");
    return false;
  }
  return WriteSimulatedLoopInfo(dir, info, error);
}

bool WriteSimulatedLoopInfo(const std::string& dir, const LoopInfo& info, std::string& error) {
  const auto record = EncodeLoopInfo(info);
  if (!WriteFile(U8Path(dir) / "loop.info", record.data(), record.size())) {
    error = "Cannot write " + U8String(U8Path(dir) / "loop.info");
    return false;
  }
  return true;
}

bool ReadSimulatedLoop(const std::string& dir, std::vector<uint8_t>& stream, LoopInfo& info,
                       std::string& error) {
  const fs::path p = U8Path(dir);
  std::error_code ec;
  if (!fs::is_directory(p, ec)) {
    error = dir + " is not a simulated pedal";
    return false;
  }
  std::string bytes;
  stream.clear();
  if (ReadFile(p / "loop.bin", bytes)) stream.assign(bytes.begin(), bytes.end());
  return ReadLoopInfoFile(p, info);
}

bool ReadSimulatedFirmwareVersion(const std::string& dir, uint16_t& version, std::string& error) {
  std::string text;
  uint32_t value = 0;
  if (!ReadFile(U8Path(dir) / "firmware", text) || !ParseUnsigned(text, value) || value > 0xFFFF) {
    error = "No readable firmware version in " + dir;
    return false;
  }
  version = static_cast<uint16_t>(value);
  return true;
}

bool WriteSimulatedFaults(const std::string& dir, const std::string& text, std::string& error) {
  const fs::path file = U8Path(dir) / "faults";
  if (text.empty()) {
    std::error_code ec;
    fs::remove(file, ec);
    return true;
  }
  if (!WriteText(file, text)) {
    error = "Cannot write " + U8String(file);
    return false;
  }
  return true;
}

bool ReadSimulatedModel(const std::string& dir, uint8_t& model) {
  std::string text;
  uint32_t value = 0;
  if (!ReadFile(U8Path(dir) / "model", text) || !ParseUnsigned(text, value) ||
      value >= kModelCount) {
    return false;
  }
  model = static_cast<uint8_t>(value);
  return true;
}

SimulatorPlatform::SimulatorPlatform(std::string root) : root_(std::move(root)) {}

namespace {

// The pedals the simulator lists, compared scan by scan: a folder that becomes attached is an
// arrival, one that goes (removed, or given its `unplugged` marker) a removal.
class SimulatorFeed : public NoticeFeed {
 public:
  explicit SimulatorFeed(SimulatorPlatform& platform) : platform_(platform), attached_(Scan()) {}
  std::chrono::milliseconds ScanInterval() const override { return std::chrono::milliseconds(100); }
  bool Read(std::vector<HotplugNotice>& notices) override {
    std::set<std::string> now = Scan();
    const bool gone = !std::includes(now.begin(), now.end(), attached_.begin(), attached_.end());
    const bool came = !std::includes(attached_.begin(), attached_.end(), now.begin(), now.end());
    attached_ = std::move(now);
    if (gone) notices.push_back(HotplugNotice::DeviceRemoval);
    if (came) notices.push_back(HotplugNotice::VolumeArrival);
    return true;
  }
  std::string Name() const override {
    return "the simulator folder " + platform_.Root() + " (scanned every 0.1 s)";
  }

 private:
  std::set<std::string> Scan() {
    std::vector<std::string> paths;
    std::string error;
    // A folder that is missing or unreadable holds no attached pedal.
    if (!platform_.ListCandidates(paths, error)) return {};
    return {paths.begin(), paths.end()};
  }
  SimulatorPlatform& platform_;
  std::set<std::string> attached_;
};

}  // namespace

std::unique_ptr<NoticeFeed> SimulatorPlatform::WatchNotices(std::string&) {
  return std::make_unique<SimulatorFeed>(*this);
}

bool SimulatorPlatform::ListCandidates(std::vector<std::string>& paths, std::string& error) {
  paths.clear();
  std::error_code ec;
  std::vector<fs::path> folders;
  fs::directory_iterator it(U8Path(root_), ec);
  for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
    if (IsAttached(it->path())) folders.push_back(it->path());
  }
  if (ec) {
    error = CannotBeRead("The simulator folder " + root_, ec.message());
    return false;
  }
  std::sort(folders.begin(), folders.end(), [](const fs::path& a, const fs::path& b) {
    return U8String(a.filename()) < U8String(b.filename());
  });
  for (const fs::path& f : folders) paths.push_back(U8String(f));
  return true;
}

std::optional<StorageIdentity> SimulatorPlatform::Identify(const std::string& path) {
  uint8_t model = 0;
  if (!IsAttached(U8Path(path)) || !ReadSimulatedModel(path, model)) return std::nullopt;
  StorageIdentity identity;
  identity.usb = true;
  identity.vendor = "QELM    ";
  identity.product = ModelInfo(model).product;
  return identity;
}

std::unique_ptr<DeviceChannel> SimulatorPlatform::Open(const std::string& path, uint32_t, uint32_t,
                                                       int& osError) {
  if (!IsAttached(U8Path(path))) {
    std::error_code ec;
    osError = fs::exists(U8Path(path) / "unplugged", ec) ? ENODEV : ENOENT;
    return nullptr;
  }
  auto lock = FolderLock::Take(U8Path(path), osError);
  if (!lock) return nullptr;
  osError = 0;
  return std::make_unique<SimulatedChannel>(path, std::move(lock));
}

}  // namespace rendax
