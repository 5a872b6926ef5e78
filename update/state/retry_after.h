#pragma once
// When a server that asked to be left alone ("Retry-After" on a 503 or 429) may be asked again.

#include <cstdint>
#include <optional>
#include <string_view>

namespace brixa {

// The longest a server can make the updater wait. A day keeps a fleet off an overloaded host
// through its worst hours, yet a mistaken header cannot stop updates for longer than that.
inline constexpr std::int64_t kMaxRetryAfterSeconds = 24 * 60 * 60;
// A wait longer than this is not a server's considered request but a broken value (a date in
// the wrong century, a number meant as milliseconds): it is ignored rather than capped.
inline constexpr std::int64_t kAbsurdRetryAfterSeconds = 366 * 24 * 60 * 60;

// The UTC time, in seconds since 1970, before which the server asked not to be asked again,
// read from a "Retry-After" value received at `nowUnixSeconds`: either a number of seconds
// (digits only) or an HTTP date in GMT. Waits longer than kMaxRetryAfterSeconds are cut to it.
// Nothing (no back-off) for an empty or unreadable value, a time not after `now`, or a wait
// beyond kAbsurdRetryAfterSeconds.
[[nodiscard]] std::optional<std::int64_t> RetryAfterUntil(std::string_view value,
                                                          std::int64_t nowUnixSeconds);

// Whether a check at `nowUnixSeconds` is to be skipped for a back-off kept until
// `untilUnixSeconds`. A kept time further ahead than kMaxRetryAfterSeconds cannot have come
// from RetryAfterUntil at an earlier time: the clock was set back, or the record is damaged,
// and it is ignored rather than obeyed for longer than any server may ask.
[[nodiscard]] constexpr bool BackOffHolds(std::int64_t untilUnixSeconds,
                                          std::int64_t nowUnixSeconds) noexcept {
  return untilUnixSeconds > nowUnixSeconds &&
         untilUnixSeconds - nowUnixSeconds <= kMaxRetryAfterSeconds;
}

// True when the status asks the client to come back later: 503 and 429 only. Other statuses
// carrying "Retry-After" (a redirect, say) say nothing about the server's load.
[[nodiscard]] constexpr bool IsBackOffStatus(std::int32_t statusCode) noexcept {
  return statusCode == 503 || statusCode == 429;
}

}  // namespace brixa
