#pragma once
// How the update service runs under the system: the platform's service manager on one side,
// the service's body on the other.

#include <atomic>
#include <functional>
#include <string>
#include <vector>

namespace brixa {

// The service's work: runs until `stop` is set; its result is the process's exit code.
using TServiceBody = std::function<int(const std::atomic<bool>& stop)>;

// Exit codes of the service program.
inline constexpr int kServiceExitOk = 0;
inline constexpr int kServiceExitFailed = 1;  // the service could not start or serve
inline constexpr int kServiceExitUsage = 2;   // arguments it does not take

// Runs `body` as the service `name` the platform's way, by `arguments` (without the program):
//   - Linux: "--foreground" alone, as systemd's simple service runs it; SIGTERM and SIGINT set
//     `stop`. Anything else prints the usage and returns kServiceExitUsage.
//   - Windows: no argument: under the service manager (StartServiceCtrlDispatcher), the stop
//     control sets `stop`; "--install" registers this program as the service `name` (its own
//     process, started at boot, as LocalSystem) and starts it; "--uninstall" stops and removes
//     it. These two are for the product's installer, which runs as an administrator.
[[nodiscard]] int RunServiceHost(const std::vector<std::string>& arguments, const std::string& name,
                                 const TServiceBody& body);

}  // namespace brixa
