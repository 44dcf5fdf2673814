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
}

}  // namespace
}  // namespace rendax
