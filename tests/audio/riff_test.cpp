// Walking the chunks of RIFF, RF64 and Wave64 files laid out the ways writers lay them out.
#include "audio/riff.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace rendax {
namespace {

// A file from pieces: tags as text, numbers as little-endian bytes of the given width.
struct Bytes {
  std::vector<uint8_t> b;
  Bytes& Tag(const char* t) {
    b.insert(b.end(), t, t + std::strlen(t));
    return *this;
  }
  Bytes& N(uint64_t v, int width) {
    for (int i = 0; i < width; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
  }
  Bytes& Zeros(size_t n) {
    b.insert(b.end(), n, 0);
    return *this;
  }
};

std::vector<uint8_t> W64Guid(const char* tag, bool riff) {
  static const uint8_t kRiff[12] = {0x2E, 0x91, 0xCF, 0x11, 0xA5, 0xD6,
                                    0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00};
  static const uint8_t kOther[12] = {0xF3, 0xAC, 0xD3, 0x11, 0x8C, 0xD1,
                                     0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};
  std::vector<uint8_t> g(tag, tag + 4);
  g.insert(g.end(), riff ? kRiff : kOther, (riff ? kRiff : kOther) + 12);
  return g;
}

std::vector<uint8_t> Wave64() {
  Bytes f;
  auto guid = [&](const char* tag, bool riff) {
    const auto g = W64Guid(tag, riff);
    f.b.insert(f.b.end(), g.begin(), g.end());
  };
  guid("riff", true);
  f.N(0, 8);
  guid("wave", false);
  guid("fmt ", false);
  f.N(24 + 16, 8).Zeros(16);
  guid("data", false);
  f.N(24 + 6, 8).Zeros(6).Zeros(2);  // 6 bytes of audio, padded to 8
  guid("levl", false);
  f.N(24 + 1, 8).Zeros(1);
  const uint64_t size = f.b.size();
  for (int i = 0; i < 8; ++i) f.b[16 + i] = static_cast<uint8_t>(size >> (8 * i));
  return f.b;
}

TEST(Riff, WalksTheChunksWritersLayOut) {
  struct Row {
    const char* name;
    std::vector<uint8_t> file;
    RiffForm form;
    const char* names;
    const char* chunk;  // the chunk looked at
    uint64_t headerAt;  // its header's offset
    uint64_t size;      // its body's size
    bool truncated;     // its body runs past the end
    bool cutHeader;     // the file ends inside a later chunk's header
  };
  const Row rows[] = {
      {"odd chunk padded",
       Bytes()
           .Tag("RIFF")
           .N(0, 4)
           .Tag("WAVE")
           .Tag("LIST")
           .N(3, 4)
           .Zeros(4)
           .Tag("data")
           .N(2, 4)
           .Zeros(2)
           .b,
       RiffForm::Riff, "LIST data", "data", 24, 2, false, false},
      {"body cut short", Bytes().Tag("RIFF").N(0, 4).Tag("WAVE").Tag("data").N(100, 4).Zeros(10).b,
       RiffForm::Riff, "data", "data", 12, 100, true, false},
      {"header cut short",
       Bytes().Tag("RIFF").N(0, 4).Tag("WAVE").Tag("fmt ").N(2, 4).Zeros(2).Tag("da").b,
       RiffForm::Riff, "fmt ", "fmt ", 12, 2, false, true},
      {"unfinished data size",
       Bytes().Tag("RIFF").N(0, 4).Tag("WAVE").Tag("data").N(0, 4).Zeros(30).Tag("LIST").N(0, 4).b,
       RiffForm::Riff, "data", "data", 12, 0, false, false},
      {"rf64 sizes from ds64",
       Bytes()
           .Tag("RF64")
           .N(~0u, 4)
           .Tag("WAVE")
           .Tag("ds64")
           .N(28, 4)
           .N(1, 8)
           .N(6, 8)
           .N(2, 8)
           .N(0, 4)
           .Tag("data")
           .N(~0u, 4)
           .Zeros(6)
           .Tag("JUNK")
           .N(0, 4)
           .b,
       RiffForm::Rf64, "ds64 data JUNK", "data", 48, 6, false, false},
      {"wave64", Wave64(), RiffForm::Wave64, "fmt  data levl", "data", 80, 6, false, false},
      {"not riff", Bytes().Tag("FORM").N(0, 4).Tag("AIFF").b, RiffForm::None, "", "", 0, 0, false,
       false},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.name);
    const RiffWalk w = WalkRiff(r.file, r.file.size());
    EXPECT_EQ(w.form, r.form);
    EXPECT_EQ(w.Names(), r.names);
    EXPECT_EQ(w.next, 0u);
    EXPECT_EQ(w.cutHeader, r.cutHeader);
    if (!*r.chunk) continue;
    const RiffChunk* c = w.Find(r.chunk);
    ASSERT_NE(c, nullptr);
    EXPECT_EQ(c->headerAt, r.headerAt);
    EXPECT_EQ(c->size, r.size);
    EXPECT_EQ(c->truncated, r.truncated);
  }
}

TEST(Riff, AWalkGoesOnWhereItsFirstBytesEnd) {
  // A long data chunk first: the chunk behind it lies far past the bytes the walk began with.
  Bytes f;
  f.Tag("RIFF").N(0, 4).Tag("WAVE").Tag("data").N(1001, 4).Zeros(1002).Tag("rndx").N(16, 4);
  f.Zeros(16);
  RiffWalk w = WalkRiff(std::span(f.b).first(64), f.b.size());
  EXPECT_EQ(w.Names(), "data");
  ASSERT_EQ(w.next, 1022u);
  ContinueRiffWalk(w, std::span(f.b).subspan(1022), f.b.size());
  EXPECT_EQ(w.Names(), "data rndx");
  EXPECT_EQ(w.next, 0u);
}

}  // namespace
}  // namespace rendax
