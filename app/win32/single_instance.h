// SPDX-License-Identifier: GPL-3.0-or-later
// One window per user session: a second start of rendax.exe hands its file (Explorer's "Open
// with") to the window already running and brings it to the front, instead of opening a second
// window that would fight the first for the pedal.
#pragma once

#include <windows.h>

#include <string>

namespace rendax {

// The session-local name of the program's mutex, with the user's security identifier in it, so
// that two people on one machine each get their own window.
std::wstring InstanceMutexName();

// Holds the program's mutex while it lives.
class InstanceLock {
 public:
  InstanceLock();
  ~InstanceLock();
  InstanceLock(const InstanceLock&) = delete;
  InstanceLock& operator=(const InstanceLock&) = delete;
  // False when another start of the program (in this session, by this user) holds it already.
  bool First() const { return first_; }

 private:
  HANDLE mutex_ = nullptr;
  bool first_ = true;
};

// Hands `path` (UTF-8, empty for none) to the running window, waiting up to `waitMs` for that
// window to exist (it is made a moment after its mutex). True when the window took it.
bool HandToRunningWindow(const std::string& path, DWORD waitMs);

}  // namespace rendax
