// The calling thread's kernel thread id (gettid).

#include <sys/syscall.h>
#include <unistd.h>

#include "platform/thread/clock.h"

namespace brixa {

std::uint64_t CurrentThreadId() {
  return static_cast<std::uint64_t>(::syscall(SYS_gettid));
}

}  // namespace brixa
