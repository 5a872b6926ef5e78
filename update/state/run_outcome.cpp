// The run log's names of the outcomes.

#include "update/state/run_outcome.h"

namespace brixa {

std::string_view RunOutcomeName(TRunOutcome outcome) noexcept {
  switch (outcome) {
    case TRunOutcome::roNone:
      return "";
    case TRunOutcome::roFailed:
      return "failed";
    case TRunOutcome::roRefused:
      return "refused";
    case TRunOutcome::roDeferred:
      return "deferred";
    case TRunOutcome::roHeldBack:
      return "held back";
    case TRunOutcome::roUpdate:
      return "update";
    case TRunOutcome::roUpToDate:
      return "up-to-date";
    case TRunOutcome::roInstalled:
      return "installed";
  }
  return "";
}

}  // namespace brixa
