#pragma once
// The current date-time in UTC and local time, and the replaceable clock that expiry checks take.

#include <functional>

#include "runtime/time/internet_date.h"

namespace brixa {

// The current moment as a date-time value in UTC and in local time (UTC plus the machine's
// offset, daylight saving included). LocalNow lets EIdFailedToRetreiveTimeZoneInfo through.
[[nodiscard]] TDateTime UtcNow();
[[nodiscard]] TDateTime LocalNow();

// A source of the local date-time. Records and cookies that judge expiry take one so that a
// caller (a test, a replay) can decide what "now" is; an empty clock means LocalNow.
using TIdLocalClock = std::function<TDateTime()>;

// clock() when it is set, else LocalNow().
[[nodiscard]] TDateTime LocalNowBy(const TIdLocalClock& clock);

}  // namespace brixa
