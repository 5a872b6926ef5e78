// The guard's signal-mask work: block, drop a SIGPIPE that arrived meanwhile, restore.

#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <cstring>

#include "platform/system/sigpipe_guard.h"

namespace brixa {

static_assert(sizeof(sigset_t) <= 128);

namespace {

[[nodiscard]] bool SigPipePending() noexcept {
  sigset_t pending;
  sigemptyset(&pending);
  return sigpending(&pending) == 0 && sigismember(&pending, SIGPIPE) == 1;
}

}  // namespace

// Three system calls when the caller lets SIGPIPE through (the usual case): a SIGPIPE cannot be
// pending for this thread then, as it would have been delivered.
TSigPipeGuard::TSigPipeGuard() noexcept {
  sigset_t block;
  sigemptyset(&block);
  sigaddset(&block, SIGPIPE);
  sigset_t old;
  active_ = pthread_sigmask(SIG_BLOCK, &block, &old) == 0;
  std::memcpy(oldMask_, &old, sizeof old);
  if (active_ && sigismember(&old, SIGPIPE) == 1) wasPending_ = SigPipePending();
}

TSigPipeGuard::~TSigPipeGuard() {
  if (!active_) return;
  const int savedErrno = errno;
  if (!wasPending_ && SigPipePending()) {
    sigset_t only;
    sigemptyset(&only);
    sigaddset(&only, SIGPIPE);
    const timespec now{0, 0};
    (void)sigtimedwait(&only, nullptr, &now);
  }
  sigset_t old;
  std::memcpy(&old, oldMask_, sizeof old);
  // A caller that blocked SIGPIPE already has the mask it had.
  if (sigismember(&old, SIGPIPE) != 1) pthread_sigmask(SIG_SETMASK, &old, nullptr);
  errno = savedErrno;
}

}  // namespace brixa
