// SPDX-License-Identifier: GPL-3.0-or-later
// How a job ended, as the front ends show it: a title of transfer/texts.h and the chain of
// reasons below it, each layer putting its own context before the reason of the layer beneath
// ("the backup could not be put back: a loop data write failed: sense 3/0C/00"), and what the
// pedal holds at the end, for drawing.
#pragma once

#include <optional>
#include <string>

#include "audio/loop_outline.h"

namespace rendax {

// How a job ended, for front ends that report an exit status.
// Interrupted: stopped on request; the outcome says what is left (exit status 130 on the
// command line).
enum class JobResult { Success, Failed, NotOpened, Interrupted };

struct Outcome {
  JobResult result = JobResult::Success;
  std::string title;   // a job title of transfer/texts.h; "": nothing to say
  std::string reason;  // "" when the title says it all
  // The loop the pedal holds when the job ends, when the job knows it in full.
  std::optional<LoopOutline> loop;
};

// "context: reason": a layer's own words before the reason from below.
inline std::string Because(const std::string& context, const std::string& below) {
  return below.empty() ? context : context + ": " + below;
}
// "reason; more": what follows from a reason, e.g. what the pedal now holds.
inline std::string Then(const std::string& reason, const std::string& more) {
  return reason.empty() ? more : more.empty() ? reason : reason + "; " + more;
}

inline Outcome Stopped() {
  Outcome o;
  o.result = JobResult::Interrupted;
  return o;
}

inline Outcome Failure(std::string title, std::string reason,
                       JobResult result = JobResult::Failed) {
  return Outcome{result, std::move(title), std::move(reason), std::nullopt};
}

}  // namespace rendax
