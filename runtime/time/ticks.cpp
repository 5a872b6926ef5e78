// The tick count, read from the platform's monotonic clock.

#include "runtime/time/ticks.h"

namespace brixa {

std::uint32_t TickCountMs() {
  // The low 32 bits of the monotonic count: wraps exactly like the system tick count.
  return static_cast<std::uint32_t>(MonotonicMilliseconds() & 0xFFFFFFFFu);
}

}  // namespace brixa
