// SPDX-License-Identifier: GPL-3.0-or-later
// Ctrl-C, a closed terminal or a polite kill during a transfer: the job is asked to stop at the
// next block boundary, so it can remove its temporary file or say what the pedal now holds,
// instead of the program vanishing halfway through a write.
#pragma once

#include <atomic>

namespace rendax {

// Routes SIGINT, SIGTERM and SIGHUP (Windows: Ctrl-C, Ctrl-Break and the console window
// closing) to `cancel` while it lives, and puts back what was there before when it ends. A
// second one during the same job ends the program at once, as if nothing were installed.
// One at a time.
class InterruptGuard {
 public:
  explicit InterruptGuard(std::atomic<bool>& cancel);
  ~InterruptGuard();
  InterruptGuard(const InterruptGuard&) = delete;
  InterruptGuard& operator=(const InterruptGuard&) = delete;

  // The job has ended: a closing console window may let the process go now.
  void JobEnded();
};

}  // namespace rendax
