// The back-off time and the rollout bucket as keys of the state file.

#include "update/state/delivery_state.h"

#include <string>

#include "runtime/time/utc_time.h"
#include "update/manifest/rollout.h"
#include "update/state/retry_after.h"
#include "update/state/state_file.h"

namespace brixa {

std::string RetryAfterKeyOf(std::size_t server) {
  return server == 0 ? kRetryAfterKey : kRetryAfterKey + std::to_string(server + 1);
}

std::optional<std::int64_t> HeldBackOff(const TUpdateState& state, std::int64_t nowSeconds,
                                        std::size_t server) {
  const auto kept = state.Value(RetryAfterKeyOf(server));
  if (!kept) return std::nullopt;
  const auto lastGood = state.Value(kLastGoodCheckKey);
  const auto good = lastGood ? ParseUtcTime(*lastGood) : std::nullopt;
  if (!good || *good > nowSeconds || nowSeconds - *good > kBackOffTrustSeconds) return std::nullopt;
  const auto until = ParseUtcTime(*kept);
  if (!until || !BackOffHolds(*until, nowSeconds)) return std::nullopt;
  return until;
}

void KeepBackOff(TUpdateState& state, std::int64_t untilSeconds, std::size_t server) {
  state.SetValue(RetryAfterKeyOf(server), FormatUtcTime(untilSeconds));
}

void KeepGoodCheck(TUpdateState& state, std::int64_t nowSeconds) {
  state.SetValue(kLastGoodCheckKey, FormatUtcTime(nowSeconds));
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
