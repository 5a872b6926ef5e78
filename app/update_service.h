#pragma once
// TUpdateService: the machine's update service for the product installed beside it. It does
// the whole update itself, with its own state, and tells local clients how it goes.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/update_run.h"
#include "platform/process/local_channel.h"
#include "update/service/service_protocol.h"

namespace brixa {

// The service's name, in its messages and (with the product) under the service manager.
inline constexpr const char* kServiceName = "BrixaUpdateService";

// What the service works with; all of it fixed by the build and the service's own place, none
// of it from a client.
struct TServiceSetup {
  std::vector<TUpdateServerUrls> Servers;
  TUpdaterTrust Trust;
  // The product's version file beside the service, and the machine state folder (ending in a
  // separator) that holds the state, the run log, the lock and the download.
  TVersionCheckFiles Files;
  std::uint64_t RunDeadlineMs = kUpdaterDeadlineMs;
  // How long the installer may run before the service stops waiting for its exit code.
  std::uint32_t InstallerWaitMs = 30 * 60 * 1000;
};

class TUpdateService {
 public:
  explicit TUpdateService(TServiceSetup setup);
  // Waits for a run in progress.
  ~TUpdateService();
  TUpdateService(const TUpdateService&) = delete;
  TUpdateService& operator=(const TUpdateService&) = delete;

  // Serves the clients of `server` one at a time until `stop` is set. Each gets one request,
  // read within kMaxServiceRequestBytes and kServiceExchangeTimeoutMs, and one reply: the status
  // for a request it knows (CHECK first starts a run unless one is going), a refusal for
  // anything else or beyond kMaxServiceRequestsPerMinute.
  void Serve(TLocalChannelServer& server, const std::atomic<bool>& stop);
  // Answers one client.
  void Answer(TLocalChannelConnection& client);
  // Starts a run on a worker thread unless one is going: the servers checked as the updater
  // checks them, the installer downloaded into the machine folder, verified, started from the
  // verified file and waited for; "installed" only when it ends with 0. `cause` (who asked)
  // goes into the run's log line.
  void StartRun(const std::string& cause);
  [[nodiscard]] TServiceStatus Status() const;

 private:
  void Run(const std::string& cause);
  void SetStatus(TServicePhase phase, std::int64_t held, std::int64_t size);
  [[nodiscard]] TRunRecord Install(const TServerCheck& chosen, std::uint64_t endMs);

  TServiceSetup setup_;
  TServiceRequestRate rate_;
  mutable std::mutex mutex_;  // guards status_ and running_
  TServiceStatus status_;
  bool running_ = false;
  std::thread worker_;
};

// The service of the product installed beside this program: refuses a product folder or a
// machine folder (MachineStateDirectory) that others may change, takes the product's channel
// (kServiceChannelFolder), runs once at its start and again whenever a client asks, until
// `stop`. Returns the process's exit code (kServiceExitOk, kServiceExitFailed).
[[nodiscard]] int ServeProduct(const std::vector<TUpdateServerUrls>& servers,
                               const TUpdaterTrust& trust, const std::atomic<bool>& stop);

}  // namespace brixa
