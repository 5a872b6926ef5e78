// The clock and sleep over std::chrono; the main thread is the one that ran static initialisation.

#include "platform/thread/clock.h"

#include <chrono>
#include <thread>

namespace brixa {

namespace {
// Captured during static initialisation, which runs on the main thread before main().
const std::thread::id kMainThread = std::this_thread::get_id();
}  // namespace

std::uint64_t MonotonicMilliseconds() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<std::uint64_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void SleepMs(std::uint32_t milliseconds) {
  if (milliseconds == 0) {
    std::this_thread::yield();
    return;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

bool IsMainThread() {
  return std::this_thread::get_id() == kMainThread;
}

}  // namespace brixa
