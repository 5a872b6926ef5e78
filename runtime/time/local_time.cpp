// The current moment from the system clock, as a day count.

#include "runtime/time/local_time.h"

#include <chrono>

namespace brixa {

namespace {
// 1970-01-01 counted in days since 1899-12-30.
constexpr double UnixEpochDays = 25569.0;
}  // namespace

TDateTime UtcNow() {
  const auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
  const double milliseconds = static_cast<double>(
      std::chrono::duration_cast<std::chrono::milliseconds>(sinceEpoch).count());
  return UnixEpochDays + milliseconds / kMillisecondsPerDay;
}

TDateTime LocalNow() {
  return UtcNow() + LocalOffsetFromUTC();
}

TDateTime LocalNowBy(const TIdLocalClock& clock) {
  return clock ? clock() : LocalNow();
}

}  // namespace brixa
