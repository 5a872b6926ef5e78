#pragma once

#include <cstdint>
#include <string>

namespace brixa {

struct TProcessLaunch {
  bool Started = false;
  unsigned long ErrorCode = 0;  // the system's error number when not started
  std::uint64_t ProcessId = 0;  // of the new process when started
};

// Starts the program file `fileName` as a separate process with no arguments, in the caller's
// environment and working directory, and returns without waiting for it.
//
// Windows: CreateProcessA with the file as application name, no command line, inheritable
// handles and one security-attributes record for process and thread (no descriptor, inherit),
// no creation flags, a zeroed start-up record; the new process's handles are closed at once.
// The error code is GetLastError(). POSIX: the file is first made executable for its owner
// (a downloaded file is not), then posix_spawn runs it with argv = { fileName }; the error
// code is the errno that posix_spawn reports (ENOEXEC for a file that is not a program).
// The caller does not reap the child; it is meant for a process that exits soon after.
[[nodiscard]] TProcessLaunch LaunchProcess(const std::string& fileName);

}  // namespace brixa
