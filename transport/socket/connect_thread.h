#pragma once
// TIdConnectThread: one blocking connect on its own thread, so a connect can be given up after a
// time limit.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>

#include "runtime/network_exception.h"
#include "transport/socket/socket_handle.h"

namespace brixa {

BRIXA_DECLARE_ID_EXCEPTION(EIdConnectTimeout, EIdException);
BRIXA_DECLARE_ID_EXCEPTION(EIdConnectException, EIdException);

inline constexpr const char* RSConnectTimeout = "Connect timed out.";

// Runs one blocking connect of a socket handle on its own thread, so the caller can give up
// after a time limit: it closes the socket (ReleaseSocket, safe against the running connect),
// which ends the connect, and then waits for the thread.
//
// The caller reads only Finished() while the thread runs, and the recorded failure after it
// ended (WaitFor). The handle must outlive the thread.
class TIdConnectThread {
 public:
  // Starts connecting at once.
  explicit TIdConnectThread(TIdSocketHandle& ABinding);
  // Waits for the thread.
  ~TIdConnectThread();
  TIdConnectThread(const TIdConnectThread&) = delete;
  TIdConnectThread& operator=(const TIdConnectThread&) = delete;

  [[nodiscard]] bool Finished() const noexcept { return finished_.load(); }
  // Sleeps up to `AMilliseconds`, waking early when the connect finishes; returns Finished().
  bool WaitFinished(std::int32_t AMilliseconds);
  // Marks the connect as given up; it still ends only when its socket is closed.
  void Terminate() noexcept { terminated_ = true; }
  [[nodiscard]] bool Terminated() const noexcept { return terminated_.load(); }
  void WaitFor();

  // After the thread ended: the failure's message ("" when the connect succeeded or was ended
  // by closing its socket) and its socket error number (0 when it was no socket error).
  [[nodiscard]] bool Failed() const noexcept { return failed_; }
  [[nodiscard]] const std::string& FailureMessage() const noexcept { return message_; }
  [[nodiscard]] int FailureErrorNumber() const noexcept { return errorNumber_; }

 private:
  void Run();

  TIdSocketHandle& binding_;
  std::atomic<bool> finished_{false};
  std::mutex mutex_;
  std::condition_variable finishedChanged_;
  std::atomic<bool> terminated_{false};
  bool failed_ = false;
  std::string message_;
  int errorNumber_ = 0;
  std::thread thread_;  // last: starts after every other member is ready
};

}  // namespace brixa
