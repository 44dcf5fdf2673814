// SPDX-License-Identifier: GPL-3.0-or-later
// What rendax-cli tells of a file (`rendax-cli info FILE`: what the program sees in it and how
// each pedal model would take it) and of a pedal.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace rendax {

// Prints the file's container, sample format, rate, width, channels, length and (RIFF files)
// chunks on `out`, then one line per pedal model: "as it is", the conversion, or "refused: ...".
// False, having said why on `err`, when the file is no audio file the program reads.
bool PrintFileInfo(const std::string& path, std::FILE* out, std::FILE* err);

// A pedal as list, firmware and watch name it: "/dev/sg3  Rendax Twin (model 1)".
std::string PedalLine(const std::string& path, uint8_t model);

}  // namespace rendax
