// Waiting for a started program: a process descriptor polled for the time limit, then waitpid.

#include <poll.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

#include "platform/process/child_process.h"

namespace brixa {

namespace {

constexpr std::uint32_t kSignalExitBase = 128;

// Whether the child `pid` ends within `timeoutMs`. A process descriptor (Linux 5.3 and later)
// becomes readable when the process ends, without reaping it; without one, only an unlimited
// wait can be promised.
bool EndsWithin(pid_t pid, std::uint32_t timeoutMs) {
  if (timeoutMs == kWaitForever) return true;
  const int fd = static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
  if (fd < 0) return false;
  pollfd entry{fd, POLLIN, 0};
  int ready = 0;
  do {
    ready = ::poll(&entry, 1, static_cast<int>(std::min<std::uint32_t>(timeoutMs, INT32_MAX)));
  } while (ready < 0 && errno == EINTR);
  ::close(fd);
  return ready == 1;
}

}  // namespace

TChildProcess::~TChildProcess() = default;

std::optional<std::uint32_t> TChildProcess::Wait(std::uint32_t timeoutMs) {
  if (exitCode_) return exitCode_;
  const auto pid = static_cast<pid_t>(processId_);
  if (!EndsWithin(pid, timeoutMs)) return std::nullopt;
  int status = 0;
  pid_t got = 0;
  do {
    got = ::waitpid(pid, &status, 0);
  } while (got < 0 && errno == EINTR);
  if (got != pid) return std::nullopt;
  if (WIFEXITED(status)) {
    exitCode_ = static_cast<std::uint32_t>(WEXITSTATUS(status));
  } else if (WIFSIGNALED(status)) {
    exitCode_ = kSignalExitBase + static_cast<std::uint32_t>(WTERMSIG(status));
  }
  return exitCode_;
}

}  // namespace brixa
