// SPDX-License-Identifier: GPL-3.0-or-later
// Small helpers shared by the fuzz targets: a checked assertion that stays on in release
// builds, a reader that takes control values from the front of an input, and a scratch folder
// on a memory file system.
#pragma once

#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>

// A broken promise of the code under test: report it and stop, so libFuzzer keeps the input.
#define FUZZ_CHECK(cond)                                                            \
  do {                                                                              \
    if (!(cond)) {                                                                  \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
      std::abort();                                                                 \
    }                                                                               \
  } while (0)

namespace rendax::fuzz {

// Takes little-endian values off the front of the input; past its end every value is 0.
class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t U8() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint16_t U16() { return static_cast<uint16_t>(U8() | U8() << 8); }
  uint32_t U24() { return U16() | static_cast<uint32_t>(U8()) << 16; }
  // Up to `n` bytes; fewer when the input ends.
  size_t Take(size_t n, const uint8_t*& at) {
    at = data_ + pos_;
    const size_t got = n < size_ - pos_ ? n : size_ - pos_;
    pos_ += got;
    return got;
  }
  const uint8_t* Rest() const { return data_ + pos_; }
  size_t Left() const { return size_ - pos_; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
};

// A fresh folder for the whole run, on /dev/shm when there is one: the simulated pedal and
// the import's file then live in memory.
inline std::filesystem::path ScratchFolder(const char* name) {
  std::error_code ec;
  std::filesystem::path base = std::filesystem::exists("/dev/shm", ec)
                                   ? std::filesystem::path("/dev/shm")
                                   : std::filesystem::temp_directory_path();
  std::string templ = (base / (std::string("rendax-fuzz-") + name + "-XXXXXX")).string();
  if (!mkdtemp(templ.data())) {
    std::perror("mkdtemp");
    std::abort();
  }
  return templ;
}

// Removes the scratch folder when the process ends normally.
struct ScratchCleanup {
  std::filesystem::path path;
  ~ScratchCleanup() {
    std::error_code ec;
    std::filesystem::remove_all(path, ec);
  }
};

}  // namespace rendax::fuzz
