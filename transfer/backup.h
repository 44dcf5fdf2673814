// SPDX-License-Identifier: GPL-3.0-or-later
// Exact backups of the pedal's loop, made before anything replaces it, and the lossless export.
//
// A backup is a WAV file any player opens: 46,875 Hz, 24-bit, the model's channel count, the
// stored samples as they are (page filler dropped, nothing resampled). A small "rndx" chunk after
// the audio keeps what the WAV form cannot say: the loop record's status and the exact stream
// length, the model and the time. Importing such a file packs its samples without resampling,
// so a restore puts back the same audio byte for byte.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "audio/loop_outline.h"
#include "audio/sample_pages.h"
#include "audio/wav_header.h"
#include "device/commands.h"
#include "device/device.h"
#include "transfer/progress.h"
#include "transfer/texts.h"

namespace rendax {

inline constexpr unsigned kDefaultBackupsKept = 20;

// The "rndx" chunk of a lossless file.
struct LoopRecord {
  uint8_t model = 0;
  uint8_t status = 0;         // the loop record's status byte as the pedal reported it
  uint32_t streamLength = 0;  // the loop record's length: page stream bytes, filler included
  int64_t time = 0;           // seconds since 1970, UTC, when the loop was read
};
inline constexpr uint32_t kLoopRecordChunkBytes = 8 + 16;

// One backup found in the folder.
struct BackupEntry {
  std::string path;  // UTF-8
  LoopRecord record;
  uint64_t frames = 0;  // at 46,875 Hz
};

// Where backups go: RENDAX_BACKUP_DIR; else $XDG_DATA_HOME/rendax/backups, else
// ~/.local/share/rendax/backups; on Windows %LOCALAPPDATA%\Rendax\Backups. Empty when none of
// these can be told (no home).
std::string DefaultBackupFolder();
// How many backups of each model are kept: RENDAX_BACKUP_KEEP (1 or more), else 20. Every
// backup, whatever job makes it, keeps to this.
unsigned BackupsKept();

// The backups in `folder`, newest first; files that are not backups are passed over. A folder
// that does not exist holds none. False, with `error`, when the folder cannot be read.
bool ListBackups(const std::string& folder, std::vector<BackupEntry>& out, std::string& error);
// The newest backup of `model` in `folder`, if any.
std::optional<BackupEntry> NewestBackup(const std::string& folder, uint8_t model);

// A backup's time in the computer's local time, "2026-12-08 14:03:59" by default.
std::string LocalTime(int64_t secondsSince1970, const char* format = "%Y-%m-%d %H:%M:%S");

// "m:ss" (or "h:mm:ss") of a frame count, at the pedal's rate unless another is given.
std::string FormatDuration(uint64_t frames, uint32_t rate = kPedalFrameRate);

// The "rndx" chunk of an open lossless file whose header gave `wav`; nullopt for any other file.
std::optional<LoopRecord> ReadLoopRecord(std::FILE* file, const WavFormat& wav);

// The length of the lossless file of a loop of `streamLength` bytes.
uint64_t LosslessFileBytes(uint32_t streamLength, uint32_t channels);

// Writes the loop that `info` describes (just read from the open pedal, so its stream is at the
// start) to `file` in the lossless form, header first (a pipe takes it too). `filePath` names the
// file in reasons. `progress` (may be null) has begun the stage the reads count in. `outline`, when
// given, is fed every block as the pedal sent it.
enum class LosslessOutcome { Done, Failed, Interrupted };
LosslessOutcome WriteLosslessLoop(CDevice& device, uint8_t model, const LoopInfo& info,
                                  int64_t time, std::FILE* file, const std::string& filePath,
                                  const std::atomic<bool>* cancel, JobProgress* progress,
                                  std::string& reason, LoopOutlineBuilder* outline = nullptr);

enum class BackupOutcome { Made, NoLoop, Failed, Interrupted };

struct BackupRequest {
  uint8_t model = 0;
  std::string folder;                         // empty: DefaultBackupFolder()
  const std::atomic<bool>* cancel = nullptr;  // checked between blocks
  // When given: has begun the stage the reads count in.
  JobProgress* progress = nullptr;
  // When given: the outline of the loop saved, once the backup is made.
  LoopOutline* outline = nullptr;
  // A file the pruning leaves alone whatever its age: the one an import is reading (a restore
  // of an older backup), which would otherwise be gone before its loop is back on the pedal.
  std::string spare;
};

// Reads the loop of the open pedal into a new backup file (the folder is made when missing) and
// then keeps only the newest BackupsKept() backups of the model (and request.spare). NoLoop when
// the pedal holds none (nothing to save). On Failed, `reason` says why and no file is left; on
// Made, `path` names the file.
BackupOutcome MakeBackup(CDevice& device, const BackupRequest& request, std::string& path,
                         std::string& reason);

// The same reading for a firmware update: a hook that saves the loop before the image is
// written; false (with the reason) stops the update.
std::function<bool(CDevice&, std::string&)> BackupBeforeFirmware(uint8_t model,
                                                                 std::string folder = {});

}  // namespace rendax
