// SPDX-License-Identifier: GPL-3.0-or-later
// Finding a pedal: enumerators over the platform's candidates and the model table.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "device/platform.h"

namespace rendax {

struct PedalModel {
  uint8_t index;
  const char* vendor;   // vendor filter
  const char* product;  // product filter: the full 16-character product string, blanks kept
  const char* name;     // for people: "Rendax", "Rendax Twin", "Rendax Mini"
  uint32_t channels;
  uint16_t expectedFirmware;
};

inline constexpr int kModelCount = 3;
const PedalModel& ModelInfo(uint8_t index);

class CDeviceFind {
 public:
  virtual ~CDeviceFind() = default;
  virtual int FindNext() { return 0; }
  virtual int FindFirst(std::string /*vendor*/, std::string /*product*/) { return 0; }
  virtual int Reserved(int32_t, int32_t) { return 0; }
  virtual std::string GetPath() const { return currentPath_; }

 protected:
  std::string currentPath_;
};

// Walks the platform's candidates in order; a device qualifies when it sits on USB and its
// vendor and product identification contain the filters (case-insensitive substring tests).
class CMassStorageDeviceFind : public CDeviceFind {
 public:
  explicit CMassStorageDeviceFind(DevicePlatform& platform);
  int FindFirst(std::string vendor, std::string product) override;
  int FindNext() override;

  // Set when the candidate list itself could not be read ("" otherwise).
  const std::string& EnumerationError() const { return enumerationError_; }

 private:
  DevicePlatform& platform_;
  std::string vendorFilter_, productFilter_;
  std::vector<std::string> candidates_;
  long current_ = -1;
  std::string enumerationError_;
};

// One search for one model: returns 1 and sets `path` when a pedal of that model is attached,
// 0 otherwise (`path` untouched).
int FindPedal(DevicePlatform& platform, uint8_t model, std::string& path);

// True when `identity` passes the discovery test for the two filters (USB bus, then
// case-insensitive substring tests; an absent string is tested as "(NULL)").
bool IdentityMatches(const StorageIdentity& identity, const std::string& vendorFilter,
                     const std::string& productFilter);

// One attached pedal as a listing shows it.
struct AttachedPedal {
  std::string path;
  uint8_t model = 0;
  StorageIdentity identity;
};
// Every attached pedal in the platform's candidate order, each with the first model (in model
// order) whose filters it passes. Returns false with `error` set when the candidate list
// itself cannot be read; an empty list with true means no pedal is attached.
bool ListPedals(DevicePlatform& platform, std::vector<AttachedPedal>& pedals, std::string& error);

}  // namespace rendax
