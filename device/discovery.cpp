// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/discovery.h"

#include <algorithm>

namespace rendax {
namespace {

constexpr PedalModel kModels[kModelCount] = {
    {0, "QELM", "RENDAX          ", "Rendax", 1, 8},
    {1, "QELM", "RENDAX_TWIN     ", "Rendax Twin", 2, 8},
    {2, "QELM", "RENDAX_MINI     ", "Rendax Mini", 1, 8},
};

// Said when the platform cannot list its devices and gives no reason of its own.
constexpr const char* kListUnreadable = "The list of storage devices cannot be read";

// The identification strings are 8-bit bytes; only ASCII letters change case, so a byte of
// another code page is compared as it is.
std::string Lower(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

bool Contains(const std::optional<std::string>& field, const std::string& lowerFilter) {
  // An absent string is tested as this text, as the storage query's offset 0 is.
  const std::string text = Lower(field.value_or("(NULL)"));
  return text.find(lowerFilter) != std::string::npos;
}

}  // namespace

const PedalModel& ModelInfo(uint8_t index) {
  return kModels[index < kModelCount ? index : 0];
}

bool IdentityMatches(const StorageIdentity& identity, const std::string& vendorFilter,
                     const std::string& productFilter) {
  if (!identity.usb) return false;
  if (!Contains(identity.vendor, Lower(vendorFilter))) return false;
  return Contains(identity.product, Lower(productFilter));
}

CMassStorageDeviceFind::CMassStorageDeviceFind(DevicePlatform& platform) : platform_(platform) {}

int CMassStorageDeviceFind::FindFirst(std::string vendor, std::string product) {
  vendorFilter_ = Lower(std::move(vendor));
  productFilter_ = Lower(std::move(product));
  candidates_.clear();
  enumerationError_.clear();
  current_ = -1;
  if (!platform_.ListCandidates(candidates_, enumerationError_)) {
    if (enumerationError_.empty()) enumerationError_ = kListUnreadable;
    candidates_.clear();
    return 0;
  }
  return FindNext();
}

int CMassStorageDeviceFind::FindNext() {
  const long count = static_cast<long>(candidates_.size());
  while (current_ < count) {
    ++current_;
    if (current_ >= count) break;
    currentPath_ = candidates_[static_cast<size_t>(current_)];
    const std::optional<StorageIdentity> identity = platform_.Identify(currentPath_);
    if (identity && IdentityMatches(*identity, vendorFilter_, productFilter_)) return 1;
  }
  return 0;
}

int FindPedal(DevicePlatform& platform, uint8_t model, std::string& path) {
  if (model >= kModelCount) return 0;
  CMassStorageDeviceFind finder(platform);
  const PedalModel& info = ModelInfo(model);
  if (!finder.FindFirst(info.vendor, info.product)) return 0;
  path = finder.GetPath();
  return 1;
}

bool ListPedals(DevicePlatform& platform, std::vector<AttachedPedal>& pedals, std::string& error) {
  pedals.clear();
  std::vector<std::string> candidates;
  if (!platform.ListCandidates(candidates, error)) {
    if (error.empty()) error = kListUnreadable;
    return false;
  }
  for (const std::string& path : candidates) {
    const std::optional<StorageIdentity> identity = platform.Identify(path);
    if (!identity) continue;
    for (uint8_t m = 0; m < kModelCount; ++m) {
      if (IdentityMatches(*identity, kModels[m].vendor, kModels[m].product)) {
        pedals.push_back(AttachedPedal{path, m, *identity});
        break;
      }
    }
  }
  return true;
}

}  // namespace rendax
