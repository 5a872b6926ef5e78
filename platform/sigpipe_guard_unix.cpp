// The guard's signal-mask work: block, drop a SIGPIPE that arrived meanwhile, restore.

#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <cstring>

#include "platform/sigpipe_guard.h"

namespace brixa {

static_assert(sizeof(sigset_t) <= 128);

TSigPipeGuard::TSigPipeGuard() noexcept {
  sigset_t pending;
  sigemptyset(&pending);
  sigpending(&pending);
  wasPending_ = sigismember(&pending, SIGPIPE) == 1;
  sigset_t block;
  sigemptyset(&block);
  sigaddset(&block, SIGPIPE);
  sigset_t old;
  active_ = pthread_sigmask(SIG_BLOCK, &block, &old) == 0;
  std::memcpy(oldMask_, &old, sizeof old);
}

TSigPipeGuard::~TSigPipeGuard() {
  if (!active_) return;
  const int savedErrno = errno;
  if (!wasPending_) {
    sigset_t pending;
    sigemptyset(&pending);
    sigpending(&pending);
    if (sigismember(&pending, SIGPIPE) == 1) {
      sigset_t only;
      sigemptyset(&only);
      sigaddset(&only, SIGPIPE);
      const timespec now{0, 0};
      (void)sigtimedwait(&only, nullptr, &now);
    }
  }
  sigset_t old;
  std::memcpy(&old, oldMask_, sizeof old);
  pthread_sigmask(SIG_SETMASK, &old, nullptr);
  errno = savedErrno;
}

}  // namespace brixa
