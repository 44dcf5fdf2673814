// SPDX-License-Identifier: GPL-3.0-or-later
// The source tree: every file the project owns names its licence, and the texts that describe
// the program to its users (README, package description, AppStream record, manual pages, the
// Windows README) say what it does today, in the same words.
#include <cctype>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace rendax::testing {
namespace {

namespace fs = std::filesystem;

const fs::path kRoot = RENDAX_SOURCE_DIR;
constexpr const char* kSpdx = "SPDX-License-Identifier: GPL-3.0-or-later";

std::string ReadText(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The comment that starts the licence line of `path`, whose first line is `first`; "" for a
// file that carries none (data, pictures, documents).
std::string CommentOf(const fs::path& path, const std::string& first) {
  const std::string name = path.filename().string(), ext = path.extension().string();
  if (ext == ".cpp" || ext == ".h" || ext == ".c" || name.ends_with(".h.in") ||
      name.ends_with(".rc.in")) {
    return "// ";
  }
  if (name == "CMakeLists.txt" || ext == ".cmake" || ext == ".sh" || ext == ".py" ||
      first.starts_with("#!")) {
    return "# ";
  }
  return "";
}

TEST(Source, EveryFileTheProjectOwnsNamesItsLicence) {
  std::vector<std::string> lacking;
  size_t checked = 0;
  for (auto it = fs::recursive_directory_iterator(kRoot); it != fs::recursive_directory_iterator();
       ++it) {
    const std::string name = it->path().filename().string();
    if (it->is_directory()) {
      // Build trees, wherever they are, and git's own files are not sources.
      if (name == ".git" || (it.depth() == 0 && name.starts_with("build")) ||
          fs::exists(it->path() / "CMakeCache.txt")) {
        it.disable_recursion_pending();
      }
      continue;
    }
    if (!it->is_regular_file()) continue;
    std::istringstream text(ReadText(it->path()));
    std::string first, second;
    std::getline(text, first);
    std::getline(text, second);
    const std::string comment = CommentOf(it->path(), first);
    if (comment.empty()) continue;
    ++checked;
    if ((first.starts_with("#!") ? second : first) != comment + kSpdx) {
      lacking.push_back(fs::relative(it->path(), kRoot).string());
    }
  }
  EXPECT_GT(checked, 100u);
  EXPECT_TRUE(lacking.empty()) << "without \"" << kSpdx << "\" as the first line (after #!): "
                               << ::testing::PrintToString(lacking);
}

// The text as a reader sees it: lower case, roff's hyphens and spaces plain, one space between
// words whatever the line breaks.
std::string Words(const std::string& raw) {
  std::string text;
  for (size_t i = 0; i < raw.size(); ++i) {
    char c = raw[i];
    if (c == '\\' && i + 1 < raw.size() && (raw[i + 1] == '-' || raw[i + 1] == '~')) {
      c = raw[++i] == '-' ? '-' : ' ';
    }
    if (std::isspace(static_cast<unsigned char>(c))) {
      if (!text.empty() && text.back() != ' ') text += ' ';
    } else {
      text += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
  }
  return text;
}

TEST(Source, TheDescriptionsSayWhatTheProgramDoesToday) {
  // What every description says, in these words.
  const std::string formats = "wav in any form, rf64, aiff, flac, ogg vorbis, opus, mp3";
  const std::string backups =
      "saves the pedal's loop exactly before anything replaces it, and puts it back on request";
  const std::string verify = "verifies an import by reading it back";
  const std::string status = "has a status line that says what is going on";
  const std::vector<std::string> all{formats, backups, verify, status};
  const struct {
    const char* file;
    std::vector<std::string> says;
  } rows[] = {
      {"README.md", all},
      {"packaging/linux/debian/description", all},
      {"packaging/linux/io.github.rendax.companion.metainfo.xml.in", all},
      {"packaging/linux/man/rendax.1.in", all},
      {"packaging/linux/man/rendax-cli.1.in", {formats, backups, verify}},
      {"packaging/windows/README.txt.in", all},
  };
  // What the program did once and no longer is limited to.
  const std::string stale[] = {"pcm wav", "44,100 or 48,000 hz"};
  for (const auto& row : rows) {
    const std::string text = Words(ReadText(kRoot / row.file));
    ASSERT_FALSE(text.empty()) << row.file;
    for (const std::string& s : row.says) {
      EXPECT_NE(text.find(s), std::string::npos) << row.file << " does not say: " << s;
    }
    for (const std::string& s : stale) {
      EXPECT_EQ(text.find(s), std::string::npos) << row.file << " still says: " << s;
    }
  }
}

}  // namespace
}  // namespace rendax::testing
