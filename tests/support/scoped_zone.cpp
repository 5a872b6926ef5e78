// ScopedZone's save and restore of TZ.

#include "support/scoped_zone.h"

#include <cstdlib>

namespace brixa::test {

ScopedZone::ScopedZone(const char* zone) {
  if (const char* old = std::getenv("TZ")) saved_ = old;
  SetZoneVariable(zone);
}

ScopedZone::~ScopedZone() {
  SetZoneVariable(saved_ ? saved_->c_str() : nullptr);
}

}  // namespace brixa::test
