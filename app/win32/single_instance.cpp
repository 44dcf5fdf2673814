// SPDX-License-Identifier: GPL-3.0-or-later
#include "app/win32/single_instance.h"

#include <sddl.h>

#include <vector>

#include "app/win32/win32_window.h"

namespace rendax {

std::wstring InstanceMutexName() {
  std::wstring name = L"Local\\RendaxCompanion";
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return name;
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<BYTE> user(size);
  wchar_t* sid = nullptr;
  if (size > 0 && GetTokenInformation(token, TokenUser, user.data(), size, &size) &&
      ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(user.data())->User.Sid, &sid)) {
    name += L"-";
    name += sid;
    LocalFree(sid);
  }
  CloseHandle(token);
  return name;
}

InstanceLock::InstanceLock() {
  mutex_ = CreateMutexW(nullptr, FALSE, InstanceMutexName().c_str());
  first_ = mutex_ == nullptr || GetLastError() != ERROR_ALREADY_EXISTS;
}

InstanceLock::~InstanceLock() {
  if (mutex_) CloseHandle(mutex_);
}

bool HandToRunningWindow(const std::string& path, DWORD waitMs) {
  const ULONGLONG deadline = GetTickCount64() + waitMs;
  HWND window = FindWindowW(kWindowClass, nullptr);
  while (window == nullptr && GetTickCount64() < deadline) {
    Sleep(100);
    window = FindWindowW(kWindowClass, nullptr);
  }
  if (window == nullptr) return false;
  // This start has the right to the foreground (the user just asked for it): the running window
  // gets it, to come to the front.
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  AllowSetForegroundWindow(owner);
  COPYDATASTRUCT data{kOpenFileData, static_cast<DWORD>(path.size()),
                      const_cast<char*>(path.data())};
  DWORD_PTR taken = 0;
  return SendMessageTimeoutW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&data),
                             SMTO_ABORTIFHUNG, 10000, &taken) != 0 &&
         taken != 0;
}

}  // namespace rendax
