// The back-off time and the rollout bucket as keys of the state file.

#include "update/delivery_state.h"

#include <string>

#include "update/retry_after.h"
#include "update/rollout.h"
#include "update/state_file.h"
#include "update/utc_time.h"

namespace brixa {

std::optional<std::int64_t> HeldBackOff(const TUpdateState& state, std::int64_t nowSeconds) {
  const auto kept = state.Value(kRetryAfterKey);
  if (!kept) return std::nullopt;
  const auto until = ParseUtcTime(*kept);
  if (!until || !BackOffHolds(*until, nowSeconds)) return std::nullopt;
  return until;
}

void KeepBackOff(TUpdateState& state, std::int64_t untilSeconds) {
  state.SetValue(kRetryAfterKey, FormatUtcTime(untilSeconds));
}

std::int32_t RolloutBucketOf(TUpdateState& state, bool& drawn) {
  drawn = false;
  if (const auto kept = state.Value(kRolloutBucketKey)) {
    if (const auto bucket = ParseRolloutBucket(*kept)) return *bucket;
  }
  const std::int32_t bucket = DrawRolloutBucket();
  state.SetValue(kRolloutBucketKey, std::to_string(bucket));
  drawn = true;
  return bucket;
}

}  // namespace brixa
