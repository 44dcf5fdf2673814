// SPDX-License-Identifier: GPL-3.0-or-later
// Where an import reads its file from. A file on the disk is read where it is, as often as the
// import needs (inspection, conversion, verification). A source that can be read only once (a
// named pipe, standard input given as "-", /dev/stdin, a shell's <(...)) is copied once, as a
// stream, into a temporary file in the system's temporary folder, which goes when the last
// holder of the source lets it go.
#pragma once

#include <memory>
#include <string>

namespace rendax {

// What the user gives for standard input.
inline constexpr const char* kStandardInput = "-";

class ImportSource {
 public:
  // Opens `path` (UTF-8; "-" is standard input). Null, with the system's reason, when it cannot
  // be opened or read to its end.
  static std::shared_ptr<ImportSource> Open(const std::string& path, std::string& reason);
  ~ImportSource();
  ImportSource(const ImportSource&) = delete;
  ImportSource& operator=(const ImportSource&) = delete;

  // The file to read: the path itself, or the temporary copy of a stream.
  const std::string& Path() const { return copy_.empty() ? name_ : copy_; }
  // The path as the user gave it, for messages.
  const std::string& Name() const { return name_; }
  bool Copied() const { return !copy_.empty(); }

 private:
  explicit ImportSource(std::string name) : name_(std::move(name)) {}
  bool CopyStream(std::string& reason);

  std::string name_;
  std::string copy_;  // the temporary file, removed with the source
};

}  // namespace rendax
