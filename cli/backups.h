// SPDX-License-Identifier: GPL-3.0-or-later
// The command line's view of the loop backups: the listing and the choice of what to restore.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

#include "transfer/backup.h"

namespace rendax {

// One line of `rendax-cli backups`: local date and time, model, length, path.
std::string BackupLine(const BackupEntry& backup);

// Prints the backups in the default folder, newest first; false (having said why on `err`)
// when the folder cannot be told or read.
bool PrintBackups(std::FILE* out, std::FILE* err);

// The backup that `restore` puts into a pedal of `model`: `file` when given (it must be a backup
// of that model), else the newest one of that model in the default folder.
bool ChooseBackup(const std::optional<std::string>& file, uint8_t model, BackupEntry& chosen,
                  std::string& error);

}  // namespace rendax
