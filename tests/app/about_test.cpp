// SPDX-License-Identifier: GPL-3.0-or-later
// The About texts by the user's language.
#include "app/about.h"

#include <gtest/gtest.h>

namespace rendax {
namespace {

TEST(About, ChineseUnderEveryChineseLocaleEnglishElsewhere) {
  const std::pair<const char*, bool> rows[] = {
      {"zh_CN.UTF-8", true}, {"zh-Hans-TW", true}, {"ZH", true}, {"zh", true},
      {"zha", false},        {"en_US", false},     {"C", false}, {"", false},
  };
  for (const auto& [locale, chinese] : rows) {
    EXPECT_STREQ(ForLocale(kAboutOk, locale), chinese ? "确定" : "OK") << locale;
  }
  EXPECT_EQ(CAboutDlg::Product("en"), "Rendax Companion, version " RENDAX_VERSION);
  // The licence notice ends by naming the installed texts.
  EXPECT_TRUE(CAboutDlg::LicenceNotice("/d/LICENSE").ends_with("licence: /d/LICENSE"));
  EXPECT_TRUE(CAboutDlg::LicenceNotice("C:\\R\\LICENSE.txt", "C:\\R\\N.txt")
                  .ends_with("LICENSE.txt\n\nThe audio libraries built into the program, and their "
                             "licences: C:\\R\\N.txt"));
}

}  // namespace
}  // namespace rendax
