// SPDX-License-Identifier: GPL-3.0-or-later
// Files of the transfer jobs: UTF-8 paths, closed on every path out of a job.
#pragma once

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>

#include "device/u8_path.h"

namespace rendax {

// Owns one C stream; closes it when it goes out of scope.
class File {
 public:
  File() = default;
  explicit File(std::FILE* f) : f_(f) {}
  ~File() { Close(); }
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  File(File&& other) noexcept : f_(other.f_) { other.f_ = nullptr; }
  File& operator=(File&& other) noexcept;

  explicit operator bool() const { return f_ != nullptr; }
  std::FILE* get() const { return f_; }
  // Returns true when the stream was open and closed without error (all data flushed).
  bool Close();
  // Flushes the stream and the system's buffers to the disk, then closes; true when all of it
  // worked.
  bool SyncAndClose();

 private:
  std::FILE* f_ = nullptr;
};

// fopen with a UTF-8 path. Mode as fopen's; "wbx" creates exclusively.
File OpenFile(const std::string& path, const char* mode);

// Size of an open file in bytes, or -1 when it cannot be told. 64-bit everywhere: a backup of
// a long loop passes 2 GiB.
int64_t FileSize(std::FILE* f);
// fseek and ftell with 64-bit offsets.
bool Seek(std::FILE* f, int64_t offset, int whence = SEEK_SET);
int64_t Tell(std::FILE* f);

// A fresh file in the folder of `target`, created exclusively, for writing a result that
// replaces `target` only when complete, with the permission bits of an existing `target`. Sets
// `tempPath`; on failure returns a closed File and `reason` has the system's words.
File CreateTempBeside(const std::string& target, std::string& tempPath, std::string& reason);

// Removes, from `folder`, the temporary files CreateTempBeside made there for a program that
// has since died without cleaning up (killed, crashed, the power gone): those named as it names
// them whose process no longer runs. A file of a running process, or any other file, is kept.
void RemoveStaleTemps(const std::string& folder);

// Bytes free for this user in the folder that holds `path`; nullopt when it cannot be told.
std::optional<uint64_t> FreeSpaceFor(const std::string& path);

// Replaces `target` by `from` in one step and puts the change on the disk. Returns true on
// success; otherwise `reason` (optional) has the system's words.
bool MoveIntoPlace(const std::string& from, const std::string& target,
                   std::string* reason = nullptr);

// True when something exists at `path`.
bool PathExists(const std::string& path);

// Removes a file, ignoring failure.
void RemoveFile(const std::string& path);

// True when `path` names an existing folder.
bool IsFolder(const std::string& path);

// True when `path` does not exist, or exists as a plain file that may be written to; otherwise
// `reason` (optional) says why not.
bool MayWriteFile(const std::string& path, std::string* reason = nullptr);

// The system's own words for an errno value: "Permission denied", "No space left on device".
std::string SystemReason(int error);

// "PATH: REASON", the form every message about a file takes.
std::string FileReason(const std::string& path, const std::string& reason);
// The file a path finally names when it is a symbolic link (or a chain of them), so that a
// finished export replaces the linked file rather than the link.
std::string FollowLinks(const std::string& path);

}  // namespace rendax
