// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/import_source.h"

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <vector>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "transfer/file_io.h"
#include "transfer/outcome.h"
#include "transfer/texts.h"

namespace rendax {

namespace fs = std::filesystem;

namespace {

// True for what can be read only once: anything that exists and is neither a plain file nor a
// folder (a folder is refused later, by name).
bool ReadOnlyOnce(const std::string& path) {
  if (path == kStandardInput) return true;
  std::error_code ec;
  const fs::file_status st = fs::status(U8Path(path), ec);
  if (ec) return false;  // not there: the open says why
  return st.type() != fs::file_type::regular && st.type() != fs::file_type::directory;
}

}  // namespace

std::shared_ptr<ImportSource> ImportSource::Open(const std::string& path, std::string& reason) {
  std::shared_ptr<ImportSource> source(new ImportSource(path));
  if (ReadOnlyOnce(path) && !source->CopyStream(reason)) return nullptr;
  return source;
}

ImportSource::~ImportSource() {
  if (!copy_.empty()) RemoveFile(copy_);
}

bool ImportSource::CopyStream(std::string& reason) {
  File owned;
  std::FILE* in = nullptr;
  if (name_ == kStandardInput) {
#ifdef _WIN32
    _setmode(_fileno(stdin), _O_BINARY);
#endif
    in = stdin;
  } else {
    owned = OpenFile(name_, "rb");
    if (!owned) {
      reason = SystemReason(errno);
      return false;
    }
    in = owned.get();
  }
  std::error_code ec;
  const fs::path folder = fs::temp_directory_path(ec);
  if (ec) {
    reason = std::string(kStreamNotCopied) + ": " + ec.message();
    return false;
  }
  std::string why;
  File out = CreateTempBeside(U8String(folder / "rendax-import"), copy_, why);
  if (!out) {
    reason = Because(kStreamNotCopied, why);
    return false;
  }
  std::vector<char> block(1 << 16);
  for (;;) {
    errno = 0;
    const size_t got = std::fread(block.data(), 1, block.size(), in);
    if (got > 0 && std::fwrite(block.data(), 1, got, out.get()) != got) {
      reason = std::string(kStreamNotCopied) + ": " + SystemReason(errno);
      return false;
    }
    if (got < block.size()) break;
  }
  if (std::ferror(in)) {
    reason = std::string(kReasonFileUnreadable) + ": " + SystemReason(errno);
    return false;
  }
  if (!out.Close()) {
    reason = std::string(kStreamNotCopied) + ": " + SystemReason(errno);
    return false;
  }
  return true;
}

}  // namespace rendax
