// Reaping a child with waitpid, polled so the wait is bounded.

#include <sys/types.h>
#include <sys/wait.h>

#include <cerrno>

#include "platform/process/process_wait.h"
#include "platform/thread/clock.h"

namespace brixa {

namespace {

constexpr std::uint32_t kPollMs = 20;
constexpr int kSignalExitBase = 128;

}  // namespace

std::optional<int> WaitForChildExit(std::uint64_t processId, std::uint32_t timeoutMs) {
  const auto pid = static_cast<pid_t>(processId);
  const std::uint64_t end = MonotonicMilliseconds() + timeoutMs;
  for (;;) {
    int status = 0;
    const pid_t ended = ::waitpid(pid, &status, WNOHANG);
    if (ended == pid) {
      if (WIFEXITED(status)) return WEXITSTATUS(status);
      if (WIFSIGNALED(status)) return kSignalExitBase + WTERMSIG(status);
      continue;  // stopped or continued: still running
    }
    if (ended < 0 && errno != EINTR) return std::nullopt;
    if (MonotonicMilliseconds() >= end) return std::nullopt;
    SleepMs(kPollMs);
  }
}

}  // namespace brixa
