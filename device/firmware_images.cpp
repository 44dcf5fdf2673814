// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/commands.h"
#include "device/discovery.h"
#include "device/firmware_check.h"

namespace rendax {

// Filled by the build from device/firmware/ or from RENDAX_FIRMWARE_DIR.
extern const uint8_t kEmbeddedFirmwareImages[3][24576];
extern const bool kEmbeddedFirmwareDevelopment;

static_assert(sizeof kEmbeddedFirmwareImages[0] == kFirmwareImageBytes);

std::span<const uint8_t> FirmwareImage(uint8_t model) {
  if (model >= kModelCount) return {};
  return {kEmbeddedFirmwareImages[model], kFirmwareImageBytes};
}

bool FirmwareImagesAreDevelopment() {
  return kEmbeddedFirmwareDevelopment;
}

}  // namespace rendax
