// Setting TZ for the C runtime with _putenv_s and _tzset.

#include <cstdlib>
#include <ctime>

#include "support/scoped_zone.h"

namespace brixa::test {

void SetZoneVariable(const char* zone) {
  _putenv_s("TZ", zone != nullptr ? zone : "");
  _tzset();
}

}  // namespace brixa::test
