#pragma once
// What the delivery keeps in the updater's state file: the server's back-off and this
// installation's rollout bucket.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace brixa {

class TUpdateState;

// Until when (UTC seconds) the update server asked not to be checked: the first server of the
// build's list; the others' keys carry their place in it ("RetryAfterUntil2", ...).
inline constexpr const char* kRetryAfterKey = "RetryAfterUntil";
// This installation's rollout bucket, drawn once.
inline constexpr const char* kRolloutBucketKey = "RolloutBucket";
// When (UTC) a check last fetched a version file the build accepted.
inline constexpr const char* kLastGoodCheckKey = "LastGoodCheck";
// A kept back-off is obeyed only while the last good check is younger than this: a server that
// keeps asking to be left alone for longer is asked all the same, so nothing, not even the
// update server itself, can stop an installation's checks for good.
inline constexpr std::int64_t kBackOffTrustSeconds = 3 * 24 * 60 * 60;

// The key of the back-off of the update server at `server` (0: the first) in the build's list.
[[nodiscard]] std::string RetryAfterKeyOf(std::size_t server);

// The back-off of the server at `server` kept in `state`, when it still holds at `nowSeconds`
// (BackOffHolds) and the last good check is less than kBackOffTrustSeconds old (none recorded:
// not obeyed). One server's request to wait never holds back the others.
[[nodiscard]] std::optional<std::int64_t> HeldBackOff(const TUpdateState& state,
                                                      std::int64_t nowSeconds,
                                                      std::size_t server = 0);
// Keeps a back-off of the server at `server` until `untilSeconds`; the caller saves the state.
// Only an answer the server itself is proven to have sent (EFetchStatus::FromOrigin) may be
// kept: anybody on the path of a plain-http or proxied answer could otherwise stop the checks.
void KeepBackOff(TUpdateState& state, std::int64_t untilSeconds, std::size_t server = 0);
// Records a good check at `nowSeconds`; the caller saves the state.
void KeepGoodCheck(TUpdateState& state, std::int64_t nowSeconds);

// The bucket kept in `state`; when there is none (or it is damaged) a new one is drawn and
// set, and `drawn` is true: the caller saves the state so the bucket stays.
[[nodiscard]] std::int32_t RolloutBucketOf(TUpdateState& state, bool& drawn);

}  // namespace brixa
