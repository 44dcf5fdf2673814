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

  // What a native chooser lists: the same descriptions, the patterns as the filter has them.
  const auto entries = FilterEntries("Audio|*.wav;*.flac|WAVE Files (*.wav))|*.wav||");
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].description, "Audio (*.wav *.flac)");
  EXPECT_EQ(entries[0].patterns, "*.wav;*.flac");
  EXPECT_EQ(entries[1].description, "WAVE Files (*.wav)");
}

// A box's detail: each path on a line of its own, whole where it exists even with spaces, its
// punctuation kept on its line; a long one elided in the middle, the file's name kept.
TEST(LayOutDetail, PutsEachPathOnItsOwnLine) {
  struct Row {
    const char* detail;
    const char* exists;              // the one path that exists, "" for none
    std::vector<std::string> lines;  // a path marked with a leading '>'
  };
  const Row rows[] = {
      {"the earlier /home/g/My Loops/TAKE 1.WAV is intact",
       "/home/g/My Loops/TAKE 1.WAV",
       {"the earlier", ">/home/g/My Loops/TAKE 1.WAV", "is intact"}},
      {"/tmp/phone.m4a: this is an MPEG-4/AAC file",
       "",
       {">/tmp/phone.m4a:", "this is an MPEG-4/AAC file"}},
      {"saved in C:\\Users\\me\\b.wav.", "", {"saved in", ">C:\\Users\\me\\b.wav."}},
      {"sense 3/0C/00; no loop", "", {"sense 3/0C/00; no loop"}},
  };
  for (const Row& row : rows) {
    std::vector<std::string> got;
    for (const DetailPiece& p :
         LayOutDetail(row.detail, [&](const std::string& path) { return path == row.exists; })) {
      got.push_back((p.path ? ">" : "") + p.text + p.after);
    }
    EXPECT_EQ(got, row.lines) << row.detail;
  }
  EXPECT_EQ(ElideMiddle("/home/guitarist/loops/TAKE1.WAV", 20), "/home/gui\u2026/TAKE1.WAV");
  EXPECT_EQ(ElideMiddle("/short.wav", 20), "/short.wav");
  EXPECT_EQ(
      ElideMiddle("/\u00fc\u00fc\u00fc\u00fc\u00fc\u00fc/\u00fc\u00fc\u00fc\u00fc\u00fc\u00fc", 9),
      "/\u00fc\u00fc\u00fc\u2026\u00fc\u00fc\u00fc\u00fc")
      << "counted in characters, never cut inside one";
}

}  // namespace
}  // namespace rendax
