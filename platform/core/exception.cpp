// Require: a broken contract raises EAssertionFailed.

#include "platform/core/exception.h"

namespace brixa {

void Require(bool condition, const char* what) {
  if (!condition) throw EAssertionFailed(std::string("Assertion failed: ") + what);
}

}  // namespace brixa
