#pragma once
// TransferWatch: --max-time, the low-speed limit and the progress meter of one URL, enforced as
// the process's anti-freeze.

#include <cstdint>
#include <functional>
#include <optional>

#include "progress.h"
#include "runtime/network_exception.h"
#include "runtime/work_component.h"

namespace brixa::tool {

// A transfer passed --max-time ("Operation timed out after ...").
BRIXA_DECLARE_EXCEPTION(EOperationTimeout, EIdException);
// A transfer stayed below --speed-limit for --speed-time ("Operation too slow. ...").
BRIXA_DECLARE_EXCEPTION(EOperationTooSlow, EIdException);

struct TransferLimits {
  std::int64_t maxTimeMs = 0;    // 0: no limit
  std::int64_t speedLimit = 0;   // bytes per second; 0: no limit
  std::int64_t speedTimeMs = 0;  // how long the speed may stay below the limit
};

// Watches the transfer of one URL at a time (its redirects and challenges included): the bytes
// received, the time limit, the low-speed limit, and the progress meter.
//
// It is the process's anti-freeze, so the transport calls Process() on this (the main) thread
// between slices of every wait (IdleTimeOut() long), after every chunk of a body and after
// every send. A passed limit raises from there, out of the read or write in progress, so no
// server can hold a transfer past its limit by sending nothing, or one byte now and then. While
// a connect runs Process() only watches, because the connect runs on its own thread that must
// end first; the connect's own time limit is cut to what is left (see ConnectTimeLeftMs).
class TransferWatch final : public TIdAntiFreezeBase {
 public:
  static constexpr std::int32_t kSliceMs = 100;

  TransferWatch(TransferLimits limits, bool progress);

  // Counts the body bytes `client` reports through its read work events. Those come per chunk
  // of up to the receive buffer's size; while a chunk fills, `buffered` tells how many of its
  // bytes are already in, so a slow body moves the meter and counts for its speed.
  void Attach(TIdComponent& client, std::function<std::int64_t()> buffered);
  // A URL begins: its clocks and counts start now.
  void StartTransfer();
  // The URL is done (or failed): the meter line ends, nothing raises until the next start.
  void EndTransfer();
  // The body that follows is `total` bytes long (-1: unknown).
  void ExpectBody(std::int64_t total) { total_ = total; }
  void SetConnecting(bool connecting) noexcept { connecting_ = connecting; }
  // The time a connect may take now: what is left of --max-time, at least 1 ms; -1 without a
  // limit.
  [[nodiscard]] std::int32_t ConnectTimeLeftMs() const;
  // Raises when a limit has passed (also used after a URL that the client ended quietly).
  void Check();

  void Process() override;

 private:
  [[nodiscard]] std::int64_t Received() const;
  void CheckSpeed(Clock::time_point now);

  TransferLimits limits_;
  std::optional<ProgressMeter> meter_;
  RateWindow rate_;
  bool armed_ = false;
  bool connecting_ = false;
  Clock::time_point started_{};
  std::int64_t total_ = -1;
  std::int64_t done_ = 0;       // bytes of finished work spans (a chunked body has many)
  std::int64_t spanCount_ = 0;  // bytes of the open span
  bool spanOpen_ = false;
  std::function<std::int64_t()> buffered_;
  // Low-speed watch: the current one-second window and since when the speed has been low.
  Clock::time_point windowStart_{};
  std::int64_t windowBytes_ = 0;
  std::optional<Clock::time_point> slowSince_;
};

}  // namespace brixa::tool
