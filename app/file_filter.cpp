// SPDX-License-Identifier: GPL-3.0-or-later
#include <string>
#include <vector>

#include "app/window_layer.h"

namespace rendax {

namespace {

std::string Trim(const std::string& s) {
  auto b = s.find_first_not_of(' ');
  if (b == std::string::npos) return {};
  auto e = s.find_last_not_of(' ');
  return s.substr(b, e - b + 1);
}

// Drops a pattern list the description carries itself, "(*.wav)" or "(*.wav))": the entry's
// own pattern field is the one that counts, and a toolkit would otherwise read the stray
// parenthesis as part of the pattern.
std::string BareDescription(std::string description) {
  description = Trim(description);
  while (!description.empty() && description.back() == ')') {
    auto open = description.rfind('(');
    if (open == std::string::npos) break;
    description = Trim(description.substr(0, open));
  }
  return description;
}

}  // namespace

std::vector<FilterEntry> FilterEntries(const std::string& filter) {
  std::vector<std::string> fields;
  std::string field;
  for (char c : filter) {
    if (c == '|') {
      fields.push_back(field);
      field.clear();
    } else {
      field += c;
    }
  }
  if (!field.empty()) fields.push_back(field);

  std::vector<FilterEntry> entries;
  for (std::size_t i = 0; i + 1 < fields.size(); i += 2) {
    if (fields[i].empty() && fields[i + 1].empty()) break;  // "||" ends the list
    std::string description = BareDescription(fields[i]);
    const std::string& patterns = fields[i + 1];
    std::string shown = patterns;
    for (char& c : shown) {
      if (c == ';') c = ' ';
    }
    entries.push_back({(description.empty() ? shown : description) + " (" + shown + ")", patterns});
  }
  return entries;
}

std::string TranslateFileFilter(const std::string& filter) {
  std::string out;
  for (const FilterEntry& entry : FilterEntries(filter)) {
    if (!out.empty()) out += ";;";
    out += entry.description;
  }
  return out;
}

}  // namespace rendax
