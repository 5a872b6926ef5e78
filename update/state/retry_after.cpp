// Reading "Retry-After": delta-seconds or an HTTP date (RFC 9110 section 10.2.3).

#include "update/state/retry_after.h"

#include <string>

#include "runtime/text/plain_decimal.h"
#include "runtime/text/text.h"
#include "runtime/time/internet_date.h"

namespace brixa {

namespace {

// Day count of 1970-01-01 in the day-count representation of dates.
constexpr double kUnixEpochDays = 25569;
// More digits than this cannot be a wait we would honour, and more could overflow.
constexpr std::size_t kMaxDeltaDigits = 12;

[[nodiscard]] std::optional<std::int64_t> DeltaSeconds(std::string_view text) {
  const auto seconds = PlainDecimal(text, kMaxDeltaDigits);
  if (!seconds) return std::nullopt;
  return static_cast<std::int64_t>(*seconds);
}

// An HTTP date is GMT by definition; a date naming any other zone is not one.
[[nodiscard]] std::optional<std::int64_t> DateUnixSeconds(std::string_view text) {
  std::string rest(text);
  const TDateTime utc = ParseInternetDate(rest);
  const std::string zone = Trim(rest);
  if (utc == 0 || !(zone.empty() || SameTextNoCase(zone, "GMT") || SameTextNoCase(zone, "UTC"))) {
    return std::nullopt;
  }
  return static_cast<std::int64_t>((utc - kUnixEpochDays) * kSecondsPerDay + 0.5);
}

}  // namespace

std::optional<std::int64_t> RetryAfterUntil(std::string_view value, std::int64_t nowUnixSeconds) {
  const std::string text = Trim(std::string(value));
  std::int64_t wait = 0;
  if (const auto delta = DeltaSeconds(text)) {
    wait = *delta;
  } else if (const auto date = DateUnixSeconds(text)) {
    wait = *date - nowUnixSeconds;
  } else {
    return std::nullopt;
  }
  if (wait <= 0 || wait > kAbsurdRetryAfterSeconds) return std::nullopt;
  return nowUnixSeconds + (wait < kMaxRetryAfterSeconds ? wait : kMaxRetryAfterSeconds);
}

}  // namespace brixa
