// SPDX-License-Identifier: GPL-3.0-or-later
// The kernel32 calls that Windows pedal access makes, behind one small interface: the system's
// own calls in the program, a fake volume set in tests (tests inject a mock).
#pragma once

#if defined(_WIN32)

#include <windows.h>

namespace rendax {

class Kernel32 {
 public:
  virtual ~Kernel32() = default;
  // As ::CreateFileW with no security attributes and no template: a handle, or
  // INVALID_HANDLE_VALUE with the reason in GetLastError().
  virtual HANDLE CreateFileW(const wchar_t* path, DWORD access, DWORD share, DWORD disposition,
                             DWORD flags) = 0;
  // As ::DeviceIoControl without an OVERLAPPED structure: returns only when the request is done;
  // nonzero on success, with the bytes placed in `out` in `returned`.
  virtual BOOL DeviceIoControl(HANDLE handle, DWORD code, void* in, DWORD inBytes, void* out,
                               DWORD outBytes, DWORD* returned) = 0;
  // As ::CreateMutexW with no security attributes, not owned: a handle to the named object, with
  // GetLastError() ERROR_ALREADY_EXISTS when another handle already had it; nullptr on failure.
  virtual HANDLE CreateMutexW(const wchar_t* name) = 0;
  virtual BOOL CloseHandle(HANDLE handle) = 0;
  virtual DWORD GetLastError() = 0;
};

// The operating system's kernel32.
Kernel32& SystemKernel32();

}  // namespace rendax

#endif  // _WIN32
