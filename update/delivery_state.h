#pragma once
// What the delivery keeps in the updater's state file: the server's back-off and this
// installation's rollout bucket.

#include <cstdint>
#include <optional>

namespace brixa {

class TUpdateState;

// Until when (UTC seconds) the update server asked not to be checked.
inline constexpr const char* kRetryAfterKey = "RetryAfterUntil";
// This installation's rollout bucket, drawn once.
inline constexpr const char* kRolloutBucketKey = "RolloutBucket";

// The back-off kept in `state` when it still holds at `nowSeconds` (BackOffHolds).
[[nodiscard]] std::optional<std::int64_t> HeldBackOff(const TUpdateState& state,
                                                      std::int64_t nowSeconds);
// Keeps a back-off until `untilSeconds`; the caller saves the state.
void KeepBackOff(TUpdateState& state, std::int64_t untilSeconds);

// The bucket kept in `state`; when there is none (or it is damaged) a new one is drawn and
// set, and `drawn` is true: the caller saves the state so the bucket stays.
[[nodiscard]] std::int32_t RolloutBucketOf(TUpdateState& state, bool& drawn);

}  // namespace brixa
