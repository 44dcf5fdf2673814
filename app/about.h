// SPDX-License-Identifier: GPL-3.0-or-later
// The About box and its menu item, in the user's language: the texts are pairs in
// transfer/texts.h, and the toolkit lays them out.
#pragma once

#include <cctype>
#include <string>
#include <string_view>

#include "rendax_version.h"
#include "transfer/texts.h"

namespace rendax {

// The text of `pair` for `locale`, the system's name of the user's language as the toolkit gives
// it ("zh_CN.UTF-8", "zh-Hans-TW", "en_US", "C", "" when unknown): Chinese for every Chinese
// locale, English otherwise.
inline const char* ForLocale(const TextPair& pair, std::string_view locale) {
  const bool chinese = locale.size() >= 2 && (locale[0] == 'z' || locale[0] == 'Z') &&
                       (locale[1] == 'h' || locale[1] == 'H') &&
                       (locale.size() == 2 || !std::isalpha(static_cast<unsigned char>(locale[2])));
  return chinese ? pair.chinese : pair.english;
}

struct CAboutDlg {
  // The product line with the version in its place.
  static std::string Product(std::string_view locale) {
    std::string line = ForLocale(kAboutProduct, locale);
    line.replace(line.find("%s"), 2, RENDAX_VERSION);
    return line;
  }
  // The licence notice, naming the installed licence text and, when given, the third-party
  // notices.
  static std::string LicenceNotice(const std::string& licence, const std::string& notices = "") {
    std::string text = FormatText(kLicenceNoticeFormat, licence.c_str());
    if (!notices.empty()) {
      text.append("\n\n").append(FormatText(kThirdPartyNoticesFormat, notices.c_str()));
    }
    return text;
  }
};

}  // namespace rendax
