// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "app/window_layer.h"

namespace rendax {
namespace {

TEST(TranslateFileFilter, GivesEachEntryItsPatternsOnce) {
  struct Case {
    const char* in;
    const char* out;
  };
  const Case cases[] = {
      // The dialog's own filter: the doubled parenthesis must not leak into the pattern.
      {"WAVE Files (*.wav))|*.wav||", "WAVE Files (*.wav)"},
      {"WAVE Files|*.wav||", "WAVE Files (*.wav)"},
      {"Audio (*.wav;*.aif)|*.wav;*.aif|All Files (*.*)|*.*||",
       "Audio (*.wav *.aif);;All Files (*.*)"},
      {"|*.wav||", "*.wav (*.wav)"},
      {"", ""},
  };
  for (const Case& c : cases) EXPECT_EQ(TranslateFileFilter(c.in), c.out) << c.in;
}

}  // namespace
}  // namespace rendax
