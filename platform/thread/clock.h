#pragma once
// The monotonic millisecond clock, sleeping, and which thread is the main one.

#include <cstdint>

namespace brixa {

// Milliseconds from a monotonic high-resolution counter (or the system tick count where there
// is none), as a 64-bit count that never wraps. The runtime narrows it to 32 bits.
[[nodiscard]] std::uint64_t MonotonicMilliseconds();

// Suspends the calling thread for `milliseconds` (0 yields).
void SleepMs(std::uint32_t milliseconds);

// True on the thread that started the process (the first thread that touched the platform
// layer's static state, which is the main thread in every program here).
[[nodiscard]] bool IsMainThread();

// Numeric identity of the calling thread, as the platform's debugger facilities know it.
[[nodiscard]] std::uint64_t CurrentThreadId();

}  // namespace brixa
