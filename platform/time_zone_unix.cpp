#include <time.h>

#include "platform/time_zone.h"

namespace brixa {

std::optional<std::int32_t> LocalTimeBiasMinutes() {
  // tzset re-reads TZ, so a zone changed during the run (tests do) is seen.
  ::tzset();
  const time_t now = ::time(nullptr);
  struct tm local {};
  if (now == static_cast<time_t>(-1) || ::localtime_r(&now, &local) == nullptr) return {};
  // tm_gmtoff is local minus UTC in seconds, daylight saving included; the bias is its negation.
  return static_cast<std::int32_t>(-local.tm_gmtoff / 60);
}

}  // namespace brixa
