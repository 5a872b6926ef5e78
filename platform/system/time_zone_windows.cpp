// The local-time bias from GetTimeZoneInformation, daylight saving included.

#include <windows.h>

#include "platform/system/time_zone.h"

namespace brixa {

std::optional<std::int32_t> LocalTimeBiasMinutes() {
  TIME_ZONE_INFORMATION info{};
  switch (::GetTimeZoneInformation(&info)) {
    case TIME_ZONE_ID_UNKNOWN:
      return static_cast<std::int32_t>(info.Bias);
    case TIME_ZONE_ID_STANDARD:
      return static_cast<std::int32_t>(info.Bias + info.StandardBias);
    case TIME_ZONE_ID_DAYLIGHT:
      return static_cast<std::int32_t>(info.Bias + info.DaylightBias);
    default:
      return {};  // TIME_ZONE_ID_INVALID or an answer this code does not know
  }
}

}  // namespace brixa
