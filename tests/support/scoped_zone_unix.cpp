// Setting TZ with setenv and tzset.

#include <cstdlib>
#include <ctime>

#include "support/scoped_zone.h"

namespace brixa::test {

void SetZoneVariable(const char* zone) {
  if (zone != nullptr) {
    setenv("TZ", zone, 1);
  } else {
    unsetenv("TZ");
  }
  tzset();
}

}  // namespace brixa::test
