#pragma once
// Starting, watching and stopping the server processes that tests run on loopback (POSIX).

#include <sys/types.h>

#include <string>
#include <vector>

namespace brixa::test {

// A port the kernel just handed out for 127.0.0.1, free at the moment of the call and never one
// this process was given before; 0 on failure.
[[nodiscard]] int FreeLoopbackPort();
// True when something accepts a connection on 127.0.0.1:`port`.
[[nodiscard]] bool Accepts(int port);
// A fresh folder /tmp/<prefix>.XXXXXX that servers dropping their privileges can read; "" on
// failure.
[[nodiscard]] std::string MakeTempDir(const std::string& prefix);
// Spawns `argv` (argv[0] looked up on PATH when it has no slash) with no input and its output in
// `logFile`; returns its pid or -1.
[[nodiscard]] pid_t Spawn(const std::vector<std::string>& argv, const std::string& logFile);
// Waits up to `timeoutMs` for `pid`; true when it ended (and was reaped).
bool WaitFor(pid_t pid, int timeoutMs, int* status);
// True once every port of `ports` accepts, within `timeoutMs` in all; false when the process
// ended first (its port was taken, its configuration refused) or the time ran out.
[[nodiscard]] bool WaitReady(pid_t pid, const std::vector<int>& ports, int timeoutMs);
// TERM, then KILL when it is still there after `timeoutMs`; reaps it. Nothing for pid <= 0.
void StopProcess(pid_t pid, int timeoutMs);

}  // namespace brixa::test
