// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <string>
#include <vector>

#include "app/window_layer.h"

namespace rendax {

namespace {

bool StartsPath(const std::string& s, std::size_t i) {
  if (i > 0 && s[i - 1] != ' ' && s[i - 1] != '(' && s[i - 1] != '"' && s[i - 1] != '\'') {
    return false;
  }
  const auto at = [&](std::size_t k) { return k < s.size() ? s[k] : '\0'; };
  if (s[i] == '/') return at(i + 1) != '\0' && at(i + 1) != ' ';
  if (s[i] == '\\') return at(i + 1) == '\\';
  const bool letter = (s[i] >= 'A' && s[i] <= 'Z') || (s[i] >= 'a' && s[i] <= 'z');
  return letter && at(i + 1) == ':' && (at(i + 2) == '\\' || at(i + 2) == '/');
}

// Where a path that starts at `i` ends for certain: before the "; ", ": " or ", " that the
// program puts after it, or at the end.
std::size_t HardEnd(const std::string& s, std::size_t i) {
  std::size_t end = s.size();
  for (const char* stop : {": ", "; ", ", "}) {
    const auto at = s.find(stop, i);
    if (at != std::string::npos) end = std::min(end, at);
  }
  return end;
}

std::size_t TrimPunctuation(const std::string& s, std::size_t begin, std::size_t end) {
  while (end > begin + 1 && std::string_view(".,;:)\"'").find(s[end - 1]) != std::string::npos) {
    --end;
  }
  return end;
}

// The end of the path that starts at `i`: the longest run of words up to the hard end that
// names something that exists, else the first word alone.
std::size_t PathEnd(const std::string& s, std::size_t i,
                    const std::function<bool(const std::string&)>& exists) {
  const std::size_t hard = HardEnd(s, i);
  for (std::size_t end = hard; end > i;) {
    const std::size_t trimmed = TrimPunctuation(s, i, end);
    if (exists && exists(s.substr(i, trimmed - i))) return trimmed;
    const auto space = s.rfind(' ', end - 1);
    if (space == std::string::npos || space <= i) break;
    end = space;
  }
  const auto space = s.find(' ', i);
  return TrimPunctuation(s, i, std::min(hard, space == std::string::npos ? s.size() : space));
}

std::string Trimmed(const std::string& s) {
  const auto b = s.find_first_not_of(' ');
  if (b == std::string::npos) return {};
  return s.substr(b, s.find_last_not_of(' ') - b + 1);
}

// The length in code points of a UTF-8 string, and the byte offset of code point `n`.
std::size_t CodePoints(const std::string& s) {
  return static_cast<std::size_t>(
      std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}
std::size_t ByteOfCodePoint(const std::string& s, std::size_t n) {
  std::size_t seen = 0;
  for (std::size_t i = 0; i < s.size(); ++i) {
    if ((s[i] & 0xC0) != 0x80) {
      if (seen == n) return i;
      ++seen;
    }
  }
  return s.size();
}

}  // namespace

std::vector<DetailPiece> LayOutDetail(const std::string& detail,
                                      const std::function<bool(const std::string&)>& exists) {
  std::vector<DetailPiece> pieces;
  std::string words;
  const auto flush = [&] {
    if (const std::string t = Trimmed(words); !t.empty()) pieces.push_back({t, false, {}});
    words.clear();
  };
  for (std::size_t i = 0; i < detail.size();) {
    if (StartsPath(detail, i)) {
      const std::size_t end = PathEnd(detail, i, exists);
      flush();
      DetailPiece piece{detail.substr(i, end - i), true, {}};
      for (i = end; i < detail.size() &&
                    std::string_view(":;,.").find(detail[i]) != std::string_view::npos;) {
        piece.after += detail[i++];
      }
      pieces.push_back(std::move(piece));
    } else {
      words += detail[i++];
    }
  }
  flush();
  return pieces;
}

std::string ElideMiddle(const std::string& path, std::size_t chars) {
  const std::size_t length = CodePoints(path);
  if (length <= chars || chars < 5) return path;
  const std::string ellipsis = "\u2026";
  // The file's name whole when it leaves room for the path's start.
  const auto slash = path.find_last_of("/\\");
  const std::size_t name = slash == std::string::npos ? 0 : CodePoints(path.substr(slash));
  std::size_t tail = (chars - 1) / 2;
  if (name > tail && name + 4 <= chars) tail = name;
  const std::size_t head = chars - 1 - tail;
  return path.substr(0, ByteOfCodePoint(path, head)) + ellipsis +
         path.substr(ByteOfCodePoint(path, length - tail));
}

}  // namespace rendax
