// SPDX-License-Identifier: GPL-3.0-or-later
#include "device/discovery.h"

#include <gtest/gtest.h>

#include "fake_platform.h"

namespace rendax {
namespace {
using testing::FakePlatform;

StorageIdentity Usb(std::optional<std::string> vendor, std::optional<std::string> product,
                    bool usb = true) {
  return StorageIdentity{usb, std::move(vendor), std::move(product)};
}

void Attach(FakePlatform& p, const std::string& path, const StorageIdentity& id) {
  p.candidates.push_back(path);
  p.identities[path] = id;
}

std::string Found(DevicePlatform& p, uint8_t model) {
  std::string path = "(none)";
  FindPedal(p, model, path);
  return path;
}

TEST(Discovery, VendorMatchIgnoresCaseAndPadding) {
  const std::pair<std::optional<std::string>, bool> vendors[] = {
      {"QELM    ", true},  {"qelm", true},        {"QeLm    ", true}, {" QELMx  ", true},
      {"QEL M   ", false}, {std::nullopt, false}, {"", false},
  };
  for (const auto& [vendor, found] : vendors) {
    FakePlatform p;
    Attach(p, "E", Usb(vendor, "rendax_mini     "));
    EXPECT_EQ(Found(p, 2) == "E", found) << vendor.value_or("(absent)");
  }
}

TEST(Discovery, LowestCandidateWinsAndFindNextWalksOn) {
  FakePlatform p;
  Attach(p, "E", Usb("QELM    ", "RENDAX_TWIN     "));
  Attach(p, "H", Usb("QELM    ", "RENDAX          "));
  Attach(p, "K", Usb("QELM    ", "RENDAX_TWIN     "));
  CMassStorageDeviceFind finder(p);
  ASSERT_EQ(finder.FindFirst("QELM", "RENDAX_TWIN     "), 1);
  EXPECT_EQ(finder.GetPath(), "E");
  ASSERT_EQ(finder.FindNext(), 1);
  EXPECT_EQ(finder.GetPath(), "K");
  EXPECT_EQ(finder.FindNext(), 0);
  EXPECT_EQ(finder.FindNext(), 0);
  EXPECT_EQ(finder.FindFirst("QELM", ""), 1) << "an empty filter accepts any product";
  EXPECT_EQ(finder.GetPath(), "E");
}

TEST(Discovery, FailedSearchLeavesPathAndReportsAnUnreadableList) {
  FakePlatform p;
  std::string path = "\\\\.\\E:";
  EXPECT_EQ(FindPedal(p, 0, path), 0);
  EXPECT_EQ(path, "\\\\.\\E:");

  p.listError = "sysfs unreadable";
  CMassStorageDeviceFind finder(p);
  EXPECT_EQ(finder.FindFirst("QELM", "RENDAX"), 0);
  EXPECT_EQ(finder.EnumerationError(), "sysfs unreadable");
  std::vector<AttachedPedal> pedals;
  std::string error;
  EXPECT_FALSE(ListPedals(p, pedals, error));
  EXPECT_EQ(error, "sysfs unreadable");
}

TEST(Discovery, ListPedalsNamesEachAttachedPedalsModel) {
  FakePlatform p;
  Attach(p, "D", Usb("SanDisk ", "Cruzer Blade    "));
  Attach(p, "E", Usb("QELM    ", "RENDAX_MINI     "));
  Attach(p, "F", Usb("QELM    ", "RENDAX          "));
  std::vector<AttachedPedal> pedals;
  std::string error;
  ASSERT_TRUE(ListPedals(p, pedals, error));
  ASSERT_EQ(pedals.size(), 2u);
  EXPECT_EQ(pedals[0].path, "E");
  EXPECT_EQ(pedals[0].model, 2);
  EXPECT_EQ(pedals[1].path, "F");
  EXPECT_EQ(pedals[1].model, 0);
  EXPECT_STREQ(ModelInfo(1).name, "Rendax Twin");
  EXPECT_EQ(ModelInfo(1).channels, 2u);
}

}  // namespace
}  // namespace rendax
