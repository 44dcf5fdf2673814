// SPDX-License-Identifier: GPL-3.0-or-later
#include "cli/interrupt.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <signal.h>
#endif

namespace rendax {
namespace {

// A signal handler may touch only lock-free atomics.
static_assert(std::atomic<bool>::is_always_lock_free);
static_assert(std::atomic<std::atomic<bool>*>::is_always_lock_free);

std::atomic<std::atomic<bool>*> g_cancel{nullptr};

#if defined(_WIN32)

std::atomic<bool> g_jobEnded{false};

BOOL WINAPI OnConsoleEvent(DWORD type) {
  std::atomic<bool>* cancel = g_cancel.load();
  if (!cancel) return FALSE;
  switch (type) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      // The second press falls through to the default handler, which ends the process.
      return cancel->exchange(true) ? FALSE : TRUE;
    case CTRL_CLOSE_EVENT:
      // Windows ends the process as soon as this returns (and after about five seconds in any
      // case): the job gets that long to stop cleanly.
      cancel->store(true);
      for (int i = 0; i < 400 && !g_jobEnded.load(); ++i) ::Sleep(10);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

InterruptGuard::InterruptGuard(std::atomic<bool>& cancel) {
  g_jobEnded.store(false);
  g_cancel.store(&cancel);
  ::SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

InterruptGuard::~InterruptGuard() {
  JobEnded();
  ::SetConsoleCtrlHandler(OnConsoleEvent, FALSE);
  g_cancel.store(nullptr);
}

void InterruptGuard::JobEnded() {
  g_jobEnded.store(true);
}

#else

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction g_previous[3];
std::atomic<bool> g_installed[3] = {};

void OnSignal(int) {
  if (std::atomic<bool>* cancel = g_cancel.load()) cancel->store(true);
  // The next one ends the program: someone who presses Ctrl-C twice means it.
  for (int i = 0; i < 3; ++i) {
    if (g_installed[i]) sigaction(kSignals[i], &g_previous[i], nullptr);
  }
}

}  // namespace

InterruptGuard::InterruptGuard(std::atomic<bool>& cancel) {
  g_cancel.store(&cancel);
  struct sigaction action {};
  action.sa_handler = OnSignal;
  sigemptyset(&action.sa_mask);
  for (int s : kSignals) sigaddset(&action.sa_mask, s);
  action.sa_flags = SA_RESTART;
  for (int i = 0; i < 3; ++i) {
    // A signal the program was started to ignore (nohup) stays ignored.
    if (sigaction(kSignals[i], nullptr, &g_previous[i]) != 0 ||
        g_previous[i].sa_handler == SIG_IGN) {
      continue;
    }
    g_installed[i].store(true);
    if (sigaction(kSignals[i], &action, nullptr) != 0) g_installed[i].store(false);
  }
}

InterruptGuard::~InterruptGuard() {
  for (int i = 0; i < 3; ++i) {
    if (g_installed[i].exchange(false)) sigaction(kSignals[i], &g_previous[i], nullptr);
  }
  g_cancel.store(nullptr);
}

void InterruptGuard::JobEnded() {}

#endif

}  // namespace rendax
