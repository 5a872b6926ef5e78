// TSigPipeGuard: a write to a closed socket inside the guard neither kills the process nor leaves
// a signal behind, and the caller's mask and pending signals come back as they were.

#include <gtest/gtest.h>
#include <pthread.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

#include "platform/system/sigpipe_guard.h"

namespace brixa {
namespace {

[[nodiscard]] bool Blocked() {
  sigset_t mask;
  pthread_sigmask(SIG_BLOCK, nullptr, &mask);
  return sigismember(&mask, SIGPIPE) == 1;
}

[[nodiscard]] bool Pending() {
  sigset_t pending;
  sigpending(&pending);
  return sigismember(&pending, SIGPIPE) == 1;
}

// A write(2) to a socket whose peer is gone: EPIPE, and SIGPIPE unless something stops it.
[[nodiscard]] int WriteToClosedSocket() {
  int pair[2];
  if (socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0) return 0;
  close(pair[1]);
  const char byte = 'x';
  const ssize_t written = write(pair[0], &byte, 1);
  const int error = written < 0 ? errno : 0;
  close(pair[0]);
  return error;
}

TEST(SigPipeGuard, SwallowsItsOwnSignalAndRestoresTheCallersState) {
  struct Case {
    const char* name;
    bool blockedBefore;
    bool pendingBefore;
  };
  const Case cases[] = {
      {"SIGPIPE let through", false, false},
      {"SIGPIPE blocked by the caller", true, false},
      {"the caller's own SIGPIPE pending", true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sigset_t pipeOnly;
    sigemptyset(&pipeOnly);
    sigaddset(&pipeOnly, SIGPIPE);
    sigset_t saved;
    pthread_sigmask(c.blockedBefore ? SIG_BLOCK : SIG_UNBLOCK, &pipeOnly, &saved);
    if (c.pendingBefore) pthread_kill(pthread_self(), SIGPIPE);
    {
      TSigPipeGuard guard;
      EXPECT_TRUE(Blocked());
      EXPECT_EQ(WriteToClosedSocket(), EPIPE);
      errno = EINTR;
    }
    EXPECT_EQ(errno, EINTR) << "the guard keeps errno";
    EXPECT_EQ(Blocked(), c.blockedBefore);
    EXPECT_EQ(Pending(), c.pendingBefore) << "only the caller's own signal stays pending";
    if (c.pendingBefore) {
      const timespec now{0, 0};
      EXPECT_EQ(sigtimedwait(&pipeOnly, nullptr, &now), SIGPIPE);
    }
    pthread_sigmask(SIG_SETMASK, &saved, nullptr);
  }
}

}  // namespace
}  // namespace brixa
