// SPDX-License-Identifier: GPL-3.0-or-later
// The texts the program has always said, word for word. Every other test compares against the
// table's constants, so this is the one place these words are written down.
#include <gtest/gtest.h>

#include <string>

#include "transfer/pedal_policy.h"
#include "transfer/texts.h"

namespace rendax {
namespace {

TEST(Texts, TheProgramsOwnWordsStandAsEver) {
  struct Row {
    const char* what;
    std::string text;
    const char* words;
  };
  const Row rows[] = {
      {"caption", kAppName, "Rendax"},
      {"question caption", kQuestionCaption, " "},
      {"no loop to export", kMsgExportNotFound, "Export file not found"},
      {"export target not made", kMsgFileCreationError, "File Creation Error"},
      {"export done", kMsgReceiveComplete, "Receive Complete"},
      {"import file not opened", kMsgCantOpenFile, "Can't open the file"},
      {"import file refused", kMsgFormatWrong, "The file format is wrong"},
      {"import done", kMsgSendComplete, "Send Complete"},
      {"pedal not opened", kMsgDeviceOpenError, "Device Open Error"},
      {"firmware question", std::string(kPedalDoesNotMatch) + kFirmwareQuestionEnd,
       "The rendax pedal does not match the software. Do you want to update?"},
      {"import warning", ReplaceWarning("rendax"),
       "Warning: It will delete the existing content of rendax. Do you want to continue?"},
      {"export chooser", kWaveFilter, "WAVE Files (*.wav))|*.wav||"},
      // The import's chooser opens on every audio file; the WAV entry it always had comes next.
      {"import chooser's last entry",
       std::string(kImportFilter).substr(std::string(kImportFilter).find("WAVE")),
       "WAVE Files (*.wav))|*.wav||"},
      {"About item", kAboutMenuText.chinese, "关于 Rendax(&A)..."},
  };
  for (const Row& row : rows) EXPECT_EQ(row.text, row.words) << row.what;
}

}  // namespace
}  // namespace rendax
