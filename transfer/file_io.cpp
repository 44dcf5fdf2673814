// SPDX-License-Identifier: GPL-3.0-or-later
#include "transfer/file_io.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <filesystem>
#include <limits>
#include <string_view>
#include <system_error>

#include "transfer/texts.h"

#ifdef _WIN32
#include <io.h>
#include <process.h>
#include <windows.h>
#define RENDAX_GETPID _getpid
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#define RENDAX_GETPID getpid
#endif

namespace rendax {

namespace fs = std::filesystem;

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    f_ = other.f_;
    other.f_ = nullptr;
  }
  return *this;
}

bool File::SyncAndClose() {
  if (!f_) return false;
  bool ok = std::fflush(f_) == 0;
#ifdef _WIN32
  ok = ok && FlushFileBuffers(reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(f_))));
#else
  ok = ok && ::fsync(fileno(f_)) == 0;
#endif
  return Close() && ok;
}

bool File::Close() {
  if (!f_) return false;
  const bool ok = std::fclose(f_) == 0;
  f_ = nullptr;
  return ok;
}

File OpenFile(const std::string& path, const char* mode) {
#ifdef _WIN32
  const std::wstring wpath = U8Path(path).wstring();
  std::wstring wmode;
  for (const char* m = mode; *m; ++m) wmode.push_back(static_cast<wchar_t>(*m));
  return File(_wfopen(wpath.c_str(), wmode.c_str()));
#else
  return File(std::fopen(path.c_str(), mode));
#endif
}

bool Seek(std::FILE* f, int64_t offset, int whence) {
#ifdef _WIN32
  return _fseeki64(f, offset, whence) == 0;
#else
  return fseeko(f, static_cast<off_t>(offset), whence) == 0;
#endif
}

int64_t Tell(std::FILE* f) {
#ifdef _WIN32
  return _ftelli64(f);
#else
  return static_cast<int64_t>(ftello(f));
#endif
}

int64_t FileSize(std::FILE* f) {
  if (!f) return -1;
  const int64_t here = Tell(f);
  if (here < 0 || !Seek(f, 0, SEEK_END)) return -1;
  const int64_t end = Tell(f);
  if (!Seek(f, here)) return -1;
  return end;
}

std::optional<uint64_t> FreeSpaceFor(const std::string& path) {
  fs::path folder = U8Path(path).parent_path();
  if (folder.empty()) folder = ".";
  std::error_code ec;
  const fs::space_info space = fs::space(folder, ec);
  if (ec) return std::nullopt;
  return static_cast<uint64_t>(space.available);
}

namespace {

// ".NAME.PID.N.part", as CreateTempBeside names its files.
std::string TempName(const std::string& base, uint64_t pid, uint32_t n) {
  std::string name = ".";
  name.append(base).append(".").append(std::to_string(pid)).append(".");
  return name.append(std::to_string(n)).append(".part");
}

bool AllDigits(std::string_view s) {
  return !s.empty() && s.size() <= 10 &&
         std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The process id in a name TempName made, or nullopt for any other name.
std::optional<uint64_t> TempNamePid(std::string_view name) {
  constexpr std::string_view kPart = ".part";
  if (name.size() <= 1 + kPart.size() || name[0] != '.' || !name.ends_with(kPart)) {
    return std::nullopt;
  }
  name = name.substr(1, name.size() - 1 - kPart.size());  // NAME.PID.N
  const size_t lastDot = name.rfind('.');
  if (lastDot == std::string_view::npos || lastDot == 0) return std::nullopt;
  const size_t pidDot = name.rfind('.', lastDot - 1);
  if (pidDot == std::string_view::npos || pidDot == 0) return std::nullopt;
  const std::string_view pid = name.substr(pidDot + 1, lastDot - pidDot - 1);
  if (!AllDigits(pid) || !AllDigits(name.substr(lastDot + 1))) return std::nullopt;
  const uint64_t value = std::stoull(std::string(pid));
  if (value == 0) return std::nullopt;
  return value;
}

// True only when no process runs under `pid`; a process the user may not signal still runs.
bool ProcessGone(uint64_t pid) {
  if (pid == static_cast<uint64_t>(RENDAX_GETPID())) return false;
#ifdef _WIN32
  if (pid > 0xffffffffu) return true;
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  if (!process) return GetLastError() == ERROR_INVALID_PARAMETER;
  DWORD code = 0;
  const bool gone = GetExitCodeProcess(process, &code) && code != STILL_ACTIVE;
  CloseHandle(process);
  return gone;
#else
  if (pid > static_cast<uint64_t>(std::numeric_limits<pid_t>::max())) return true;
  return ::kill(static_cast<pid_t>(pid), 0) != 0 && errno == ESRCH;
#endif
}

}  // namespace

void RemoveStaleTemps(const std::string& folder) {
  std::error_code ec;
  const fs::path dir = folder.empty() ? fs::path(".") : U8Path(folder);
  for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec)) {
    const auto pid = TempNamePid(U8String(it->path().filename()));
    std::error_code kind;
    if (pid && it->symlink_status(kind).type() == fs::file_type::regular && ProcessGone(*pid)) {
      RemoveFile(U8String(it->path()));
    }
  }
}

File CreateTempBeside(const std::string& target, std::string& tempPath, std::string& reason) {
  static std::atomic<uint32_t> counter{0};
  const fs::path t = U8Path(target);
  const fs::path folder = t.parent_path();
  const std::string base = U8String(t.filename());
  for (int attempt = 0; attempt < 100; ++attempt) {
    const std::string name =
        TempName(base, static_cast<uint64_t>(RENDAX_GETPID()), counter.fetch_add(1));
    tempPath = U8String(folder / U8Path(name));
    File f = OpenFile(tempPath, "wbx");
#ifndef _WIN32
    // The file that replaces the target keeps the target's permission bits.
    struct stat st;
    if (f && ::stat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
      (void)::fchmod(fileno(f.get()), st.st_mode & 07777);
    }
#endif
    if (f) return f;
    if (errno != EEXIST) break;
  }
  // Named by the file the user asked for: the temporary name means nothing to anyone.
  reason = FileReason(target, SystemReason(errno));
  tempPath.clear();
  return File();
}

bool MoveIntoPlace(const std::string& from, const std::string& target, std::string* reason) {
#ifdef _WIN32
  // Written through: the new name is on the disk when the call returns.
  if (MoveFileExW(U8Path(from).c_str(), U8Path(target).c_str(),
                  MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0) {
    return true;
  }
  if (reason) *reason = std::system_category().message(static_cast<int>(GetLastError()));
  return false;
#else
  std::error_code ec;
  fs::rename(U8Path(from), U8Path(target), ec);
  if (ec) {
    if (reason) *reason = ec.message();
    return false;
  }
  // The rename lives in the folder: until the folder is on the disk, a power cut may bring back
  // the old file. The target is replaced either way, so a folder that cannot be synced is no
  // failure to report.
  fs::path folder = U8Path(target).parent_path();
  if (folder.empty()) folder = ".";
  if (const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); fd >= 0) {
    (void)::fsync(fd);
    ::close(fd);
  }
  return true;
#endif
}

void RemoveFile(const std::string& path) {
  std::error_code ec;
  fs::remove(U8Path(path), ec);
}

bool PathExists(const std::string& path) {
  std::error_code ec;
  return fs::exists(fs::symlink_status(U8Path(path), ec));
}

bool IsFolder(const std::string& path) {
  std::error_code ec;
  return fs::is_directory(U8Path(path), ec);
}

std::string FollowLinks(const std::string& path) {
  fs::path p = U8Path(path);
  // A bounded walk: a loop of links is left as it is and fails later like any bad target.
  for (int hops = 0; hops < 40; ++hops) {
    std::error_code ec;
    if (!fs::is_symlink(fs::symlink_status(p, ec))) break;
    const fs::path next = fs::read_symlink(p, ec);
    if (ec) break;
    p = next.is_absolute() ? next : p.parent_path() / next;
  }
  return U8String(p);
}

bool MayWriteFile(const std::string& path, std::string* reason) {
  std::error_code ec;
  const fs::file_status status = fs::status(U8Path(path), ec);
  if (!fs::exists(status)) return true;
  // The finished export replaces the target by renaming: a device or a pipe would be swapped
  // for a plain file (for root even /dev/full), never written to.
  if (!fs::is_regular_file(status)) {
    if (reason) *reason = fs::is_directory(status) ? kReasonIsFolder : kReasonNotPlainFile;
    return false;
  }
  // Opening for update tests the right to write without touching the content.
  File probe = OpenFile(path, "r+b");
  if (!probe && reason) *reason = SystemReason(errno);
  return static_cast<bool>(probe);
}

std::string SystemReason(int error) {
  return std::generic_category().message(error);
}

std::string FileReason(const std::string& path, const std::string& reason) {
  return path + ": " + reason;
}

}  // namespace rendax
