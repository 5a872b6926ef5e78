// The calling thread's id (GetCurrentThreadId).

#include <windows.h>

#include "platform/thread/clock.h"

namespace brixa {

std::uint64_t CurrentThreadId() {
  return ::GetCurrentThreadId();
}

}  // namespace brixa
