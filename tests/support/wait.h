// SPDX-License-Identifier: GPL-3.0-or-later
// Bounded waits for tests. A test waits for the event itself, never for a stretch of time; the
// bound only turns an event that never comes into a failure that names it, instead of a hang.
#pragma once

#include <chrono>
#include <functional>
#include <sstream>
#include <string>
#include <thread>

#include <gtest/gtest.h>

namespace rendax::testing {

// Far beyond what a working build needs on a loaded machine, and well inside ctest's limit for
// any suite, so a wait that runs out reports itself before ctest kills the test.
inline constexpr std::chrono::milliseconds kWaitBound{30000};

// Runs `step` until `done()` holds; fails, saying that `what` did not happen, once `bound` has
// passed. Without a step it sleeps a millisecond between looks: a poll, never an order of events.
inline ::testing::AssertionResult WaitUntil(const std::function<bool()>& done,
                                            std::chrono::milliseconds bound,
                                            const std::string& what,
                                            const std::function<void()>& step = {}) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= deadline) {
      std::ostringstream s;
      s << what << ": not within " << bound.count() / 1000.0 << " s";
      return ::testing::AssertionFailure() << s.str();
    }
    if (step) {
      step();
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  return ::testing::AssertionSuccess();
}

}  // namespace rendax::testing
