// The local-time bias from localtime_r, cached per second and TZ value.

#include <time.h>

#include <cstdlib>
#include <mutex>
#include <string>

#include "platform/system/time_zone.h"

namespace brixa {

namespace {

// The last answer, with the second it was computed in and the TZ it was computed under. tzset
// looks at the zone files on every call (a stat of /etc/localtime at least), which a client
// converting several dates per response should not pay each time.
struct CachedBias {
  std::mutex lock;
  bool valid = false;
  time_t computedAt = 0;
  bool hadZoneVariable = false;
  std::string zoneVariable;
  std::optional<std::int32_t> bias;
};

CachedBias& Cache() {
  static CachedBias cache;
  return cache;
}

std::optional<std::int32_t> ComputeBias(time_t now) {
  // tzset re-reads TZ and the system zone, so a zone changed during the run is seen.
  ::tzset();
  struct tm local {};
  if (now == static_cast<time_t>(-1) || ::localtime_r(&now, &local) == nullptr) return {};
  // tm_gmtoff is local minus UTC in seconds, daylight saving included; the bias is its negation.
  return static_cast<std::int32_t>(-local.tm_gmtoff / 60);
}

}  // namespace

std::optional<std::int32_t> LocalTimeBiasMinutes() {
  const time_t now = ::time(nullptr);
  CachedBias& cache = Cache();
  const std::lock_guard<std::mutex> guard(cache.lock);
  // A changed TZ takes effect at once; the system zone and a daylight saving switch within a
  // second, since the answer is reused only within the second it was computed in.
  const char* zone = std::getenv("TZ");
  const bool sameZone =
      (zone != nullptr) == cache.hadZoneVariable && (zone == nullptr || cache.zoneVariable == zone);
  if (cache.valid && sameZone && now == cache.computedAt && now != static_cast<time_t>(-1)) {
    return cache.bias;
  }
  cache.bias = ComputeBias(now);
  cache.valid = true;
  cache.computedAt = now;
  cache.hadZoneVariable = zone != nullptr;
  cache.zoneVariable = zone != nullptr ? zone : "";
  return cache.bias;
}

}  // namespace brixa
