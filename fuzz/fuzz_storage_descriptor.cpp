// SPDX-License-Identifier: GPL-3.0-or-later
// The storage descriptor parser on arbitrary replies: string offsets anywhere (inside the bytes
// returned, past them, past the descriptor's own Size), strings with and without their zero.
// The reply buffer is exactly as long as the bytes returned, so any read past them is a finding.
//
// Input: a 16-bit count of bytes the query claims it returned (at most the descriptor buffer,
// at most the bytes that follow), then the descriptor bytes.
#include <memory>

#include "device/discovery.h"
#include "device/platform/win32/storage_descriptor.h"
#include "fuzz/fuzz_support.h"

using namespace rendax;

namespace {

void CheckParsed(const uint8_t* bytes, size_t returned) {
  std::unique_ptr<uint8_t[]> reply(new uint8_t[returned ? returned : 1]);
  if (returned) std::memcpy(reply.get(), bytes, returned);
  const auto identity = ParseStorageDeviceDescriptor(reply.get(), returned);
  if (!identity) return;
  // A string that was taken lies wholly inside the reply, without its zero.
  for (const auto* s : {&identity->vendor, &identity->product}) {
    if (!*s) continue;
    FUZZ_CHECK((*s)->size() < returned);
    FUZZ_CHECK((*s)->find('\0') == std::string::npos);
  }
  // Discovery then tests it against every model; this must hold for any strings.
  for (uint8_t m = 0; m < kModelCount; ++m) {
    const PedalModel& model = ModelInfo(m);
    const bool match = IdentityMatches(*identity, model.vendor, model.product);
    FUZZ_CHECK(!match || identity->usb);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  size_t returned = static_cast<size_t>(data[0] | data[1] << 8) % (kStorageDescriptorBytes + 1);
  const uint8_t* descriptor = data + 2;
  const size_t available = size - 2;
  if (returned > available) returned = available;
  CheckParsed(descriptor, returned);
  // The whole input as the reply, too.
  CheckParsed(descriptor, available);
  return 0;
}
