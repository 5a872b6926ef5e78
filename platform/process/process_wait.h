#pragma once
// Waiting for a program this process started to end, for its exit code.

#include <cstdint>
#include <optional>

namespace brixa {

// Waits up to `timeoutMs` for the process `processId`, started by this process (LaunchProcess,
// TLaunchableFile::Launch), to end; its exit code, or none when it did not end in time or
// cannot be waited for. POSIX: the child is reaped (waitpid), a child ended by a signal gives
// 128 + the signal's number. Windows: the process is opened by its id right away, so wait soon
// after the start: an id can name another process once the first has ended and been forgotten.
[[nodiscard]] std::optional<int> WaitForChildExit(std::uint64_t processId,
                                                  std::uint32_t timeoutMs);

}  // namespace brixa
