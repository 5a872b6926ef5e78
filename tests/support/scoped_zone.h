#pragma once
// ScopedZone: a time zone put in force for one test.

#include <optional>
#include <string>

namespace brixa::test {

// Sets the TZ environment variable for one test and puts the old value back afterwards. On
// Linux the zone applies at once; Windows answers zone queries from its own settings and only
// the C runtime follows TZ, so zone-specific tests check which zone is in force there.
class ScopedZone {
 public:
  explicit ScopedZone(const char* zone);
  ~ScopedZone();
  ScopedZone(const ScopedZone&) = delete;
  ScopedZone& operator=(const ScopedZone&) = delete;

 private:
  std::optional<std::string> saved_;
};

// Puts `zone` in force for the C runtime; null removes TZ.
void SetZoneVariable(const char* zone);

}  // namespace brixa::test
