// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/backups.h"

#include <ctime>
#include <filesystem>
#include <vector>

#include "device/discovery.h"
#include "device/u8_path.h"
#include "transfer/texts.h"

namespace rendax {
namespace {

namespace fs = std::filesystem;

std::string ModelName(uint8_t model) {
  if (model < kModelCount) return ModelInfo(model).name;
  return "pedal of model " + std::to_string(model);
}

bool BackupFolder(std::string& folder, std::string& error) {
  folder = DefaultBackupFolder();
  if (folder.empty()) {
    error = std::string("There is ") + kReasonNoBackupFolder;
    return false;
  }
  return true;
}

}  // namespace

std::string BackupLine(const BackupEntry& backup) {
  return LocalTime(backup.record.time) + "  " + ModelName(backup.record.model) + "  " +
         FormatDuration(backup.frames) + "  " + backup.path;
}

bool PrintBackups(std::FILE* out, std::FILE* err) {
  std::string folder, error;
  std::vector<BackupEntry> backups;
  if (!BackupFolder(folder, error)) {
    std::fprintf(err, "%s\n", error.c_str());
    return false;
  }
  if (!ListBackups(folder, backups, error)) {
    std::fprintf(err, "%s\n",
                 FormatText(kCannotReadBackupsFormat, folder.c_str(), error.c_str()).c_str());
    return false;
  }
  if (backups.empty()) std::fprintf(out, "No backups in %s\n", folder.c_str());
  for (const BackupEntry& b : backups) std::fprintf(out, "%s\n", BackupLine(b).c_str());
  return true;
}

bool ChooseBackup(const std::optional<std::string>& file, uint8_t model, BackupEntry& chosen,
                  std::string& error) {
  if (!file) {
    std::string folder;
    if (!BackupFolder(folder, error)) return false;
    const auto newest = NewestBackup(folder, model);
    if (!newest) {
      error = "No backup of a " + ModelName(model) + " in " + folder;
      return false;
    }
    chosen = *newest;
    return true;
  }
  // What the file holds is known from its folder's listing, which reads each backup's record.
  const fs::path path = U8Path(*file);
  std::error_code ec;
  std::vector<BackupEntry> backups;
  const fs::path parent = path.has_parent_path() ? path.parent_path() : fs::path(".");
  const std::string folder = U8String(parent);
  if (!ListBackups(folder, backups, error)) {
    error = FormatText(kCannotReadBackupsFormat, folder.c_str(), error.c_str());
    return false;
  }
  for (const BackupEntry& b : backups) {
    if (!fs::equivalent(U8Path(b.path), path, ec)) continue;
    if (b.record.model != model) {
      error = *file + " is a backup of a " + ModelName(b.record.model) + "; the pedal is a " +
              ModelName(model);
      return false;
    }
    chosen = b;
    chosen.path = *file;
    return true;
  }
  error = *file + " is not a backup of a pedal's loop; 'rendax-cli import' takes other WAV files";
  return false;
}

}  // namespace rendax
