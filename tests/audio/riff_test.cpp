// SPDX-License-Identifier: GPL-3.0-or-later
// Walking the chunks of RIFF, RF64 and Wave64 files laid out the ways writers lay them out.
#include "audio/riff.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace rendax {
namespace {

// A file from pieces: 4-byte tags as text, little-endian numbers of `width` bytes, zeros.
struct Bytes {
  std::vector<uint8_t> b;
  Bytes& T(const char* t, size_t n = 4) {
    b.insert(b.end(), t, t + n);
    return *this;
  }
  Bytes& N(uint64_t v, int width = 4) {
    for (int i = 0; i < width; ++i) b.push_back(i < 8 ? static_cast<uint8_t>(v >> (8 * i)) : 0);
    return *this;
  }
  Bytes& Z(size_t n) { return N(0, static_cast<int>(n)); }
  // A Wave64 chunk: the tag's GUID, the size with its 24-byte header, the body padded to 8.
  Bytes& W64(const char* tag, uint64_t body) {
    return T(tag)
        .T("\xF3\xAC\xD3\x11\x8C\xD1\x00\xC0\x4F\x8E\xDB\x8A", 12)
        .N(24 + body, 8)
        .Z((body + 7) / 8 * 8);
  }
};

Bytes Riff(const char* form = "RIFF") {
  return Bytes().T(form).N(0).T("WAVE");
}

TEST(Riff, WalksTheChunksWritersLayOut) {
  struct Row {
    const char* name;
    std::vector<uint8_t> file;
    RiffForm form;
    const char* names;
    uint64_t dataAt, dataSize;  // the data chunk's header offset and body size
    bool truncated;             // its body runs past the end
    bool cutHeader;             // the file ends inside a later chunk's header
  };
  Bytes w64 = Bytes().T("riff").T("\x2E\x91\xCF\x11\xA5\xD6\x28\xDB\x04\xC1\x00\x00", 12).N(0, 8);
  w64.T("wave").T("\xF3\xAC\xD3\x11\x8C\xD1\x00\xC0\x4F\x8E\xDB\x8A", 12);
  w64.W64("fmt ", 16).W64("data", 6).W64("levl", 1);
  const Row rows[] = {
      {"odd chunk padded", Riff().T("LIST").N(3).Z(4).T("data").N(2).Z(2).b, RiffForm::Riff,
       "LIST data", 24, 2, false, false},
      {"body cut short", Riff().T("data").N(100).Z(10).b, RiffForm::Riff, "data", 12, 100, true,
       false},
      {"header cut short", Riff().T("data").N(2).Z(2).T("LI", 2).b, RiffForm::Riff, "data", 12, 2,
       false, true},
      {"unfinished data size", Riff().T("data").N(0).Z(30).T("LIST").N(0).b, RiffForm::Riff, "data",
       12, 0, false, false},
      {"rf64 sizes from ds64",
       Riff("RF64").T("ds64").N(28).N(1, 8).N(6, 8).N(2, 8).N(0).T("data").N(~0u).Z(6).b,
       RiffForm::Rf64, "ds64 data", 48, 6, false, false},
      {"wave64", w64.b, RiffForm::Wave64, "fmt  data levl", 80, 6, false, false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const RiffWalk w = WalkRiff(r.file, r.file.size());
    EXPECT_EQ(w.form, r.form);
    EXPECT_EQ(w.Names(), r.names);
    EXPECT_EQ(w.next, 0u);
    EXPECT_EQ(w.cutHeader, r.cutHeader);
    const RiffChunk* c = w.Find("data");
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->headerAt, r.dataAt);
    EXPECT_EQ(c->size, r.dataSize);
    EXPECT_EQ(c->truncated, r.truncated);
  }
  EXPECT_EQ(WalkRiff(Bytes().T("FORM").N(0).T("AIFF").b, 12).form, RiffForm::None);
}

TEST(Riff, AWalkGoesOnWhereItsFirstBytesEnd) {
  // A long data chunk first: the chunk behind it lies far past the bytes the walk began with.
  const auto f = Riff().T("data").N(1001).Z(1002).T("rndx").N(16).Z(16).b;
  RiffWalk w = WalkRiff(std::span(f).first(64), f.size());
  EXPECT_EQ(w.Names(), "data");
  ASSERT_EQ(w.next, 1022u);
  ContinueRiffWalk(w, std::span(f).subspan(1022), f.size());
  EXPECT_EQ(w.Names(), "data rndx");
  EXPECT_EQ(w.next, 0u);
}

}  // namespace
}  // namespace rendax
