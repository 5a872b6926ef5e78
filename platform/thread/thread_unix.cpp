// Thread names through pthread_setname_np, and priorities as per-thread nice values.

#include <pthread.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include "platform/thread/thread.h"

namespace brixa {

namespace {

// The kernel keeps thread names of at most 15 bytes plus the terminating zero.
constexpr std::size_t kThreadNameMax = 15;

// Linux has no thread priorities under the default scheduler, only a nice value per thread
// (-20 most favoured .. 19 least). The table spreads the seven levels over that range.
int NiceValue(TThreadPriority priority) {
  switch (priority) {
    case tpIdle:
      return 19;
    case tpLowest:
      return 10;
    case tpLower:
      return 5;
    case tpNormal:
      return 0;
    case tpHigher:
      return -5;
    case tpHighest:
      return -10;
    case tpTimeCritical:
      return -20;
  }
  return 0;
}

}  // namespace

namespace detail {

// Best effort: setpriority with a thread id changes that thread only. Lowering a nice value
// (raising the priority) needs CAP_SYS_NICE or an RLIMIT_NICE allowance; without them the call
// fails and the thread keeps the priority it had. Failures are not reported.
void ApplyThreadPriority(std::thread& /*thread*/, std::uint64_t osThreadId,
                         TThreadPriority priority) {
  (void)::setpriority(PRIO_PROCESS, static_cast<id_t>(osThreadId), NiceValue(priority));
}

// The nice value does not tell a refused request from a granted one, so the requested level
// is what a thread reports.
TThreadPriority ReadThreadPriority(std::thread& /*thread*/, std::uint64_t /*osThreadId*/,
                                   TThreadPriority requested) {
  return requested;
}

}  // namespace detail

void AnnounceThreadName(const std::string& name) {
  // The main thread's name is the process name that ps, top and killall show: keep it.
  if (::syscall(SYS_gettid) == ::getpid()) return;
  const std::string cut = name.substr(0, kThreadNameMax);
  (void)::pthread_setname_np(::pthread_self(), cut.c_str());
}

}  // namespace brixa
