#pragma once
// The wrapping 32-bit millisecond tick count and the wrap-aware difference of two ticks.

#include <cstdint>

#include "platform/thread/clock.h"

namespace brixa {

// Milliseconds from the monotonic clock, as an unsigned 32-bit count that wraps after
// 2^32 ms (about 49.7 days). Only differences between two counts are meaningful: use TickDiff.
[[nodiscard]] std::uint32_t TickCountMs();

// Elapsed milliseconds from `oldTick` to `newTick`, allowing one wrap of the counter in between:
// newTick - oldTick when newTick >= oldTick, else 4294967295 - oldTick + newTick.
[[nodiscard]] constexpr std::uint32_t TickDiff(std::uint32_t oldTick,
                                               std::uint32_t newTick) noexcept {
  return newTick >= oldTick ? newTick - oldTick : 0xFFFFFFFFu - oldTick + newTick;
}

// SleepMs(milliseconds) and IsMainThread() come from platform/thread/clock.h (included above) under
// the same names.

// Tells the leak checker that `object` is released only at process end. A no-op here: the
// objects concerned are held in function-local statics, which the checkers do not report.
inline void RegisterExpectedLeak(const void* /*object*/) noexcept {}

}  // namespace brixa
