#pragma once
// The low-speed rule of the updater's transfers, the meter that applies it, and the connection
// intercept that enforces it.

#include <cstdint>

#include "transport/io/intercept.h"
#include "update/update_errors.h"

namespace brixa {

// No deadline: the guard applies the low-speed rule alone.
inline constexpr std::uint64_t kNoDeadline = ~std::uint64_t{0};

// The least a transfer must keep up, in the manner of curl's --speed-limit / --speed-time: at
// least limitBytesPerSecond on average over every timeMs. Together with the read timeout, which
// ends a transfer that stops outright, it bounds how long a server can hold the updater (and
// its single-instance lock) by trickling bytes.
struct TLowSpeedRule {
  std::int64_t limitBytesPerSecond = 0;
  std::int64_t timeMs = 0;
};

inline constexpr std::int64_t kLowSpeedLimitBytesPerSecond = 1024;
inline constexpr std::int64_t kLowSpeedTimeMs = 60000;
inline constexpr TLowSpeedRule kUpdaterLowSpeedRule{kLowSpeedLimitBytesPerSecond, kLowSpeedTimeMs};

// Judges a transfer by the rule from the bytes it delivers. Time is passed in, in milliseconds
// of any monotonic clock. The measuring window starts at construction (or Restart) and starts
// again each time it has collected the bytes the rule asks of a whole window.
class TLowSpeedMeter {
 public:
  TLowSpeedMeter(TLowSpeedRule rule, std::uint64_t nowMs) noexcept;
  void Restart(std::uint64_t nowMs) noexcept;
  void SetRule(TLowSpeedRule rule, std::uint64_t nowMs) noexcept;
  // Counts `bytes` that arrived at `nowMs`; false once a whole window has passed without the
  // bytes the rule asks for.
  [[nodiscard]] bool Observe(std::int64_t bytes, std::uint64_t nowMs) noexcept;

 private:
  TLowSpeedRule rule_;
  std::int64_t bytesPerWindow_;
  std::uint64_t windowStart_;
  std::int64_t windowBytes_ = 0;
};

// Holds a connection to the rule: set as a client's intercept, it sees every block the
// connection receives (headers included) and raises EUpdateTooSlow from the read that finds
// the transfer too slow. The connection must then be closed: its input is incomplete.
class TLowSpeedGuard : public TIdConnectionIntercept {
 public:
  explicit TLowSpeedGuard(TComponent* owner = nullptr, TLowSpeedRule rule = kUpdaterLowSpeedRule);
  // Starts a new window now, for the next transfer.
  void Restart() noexcept;
  // Replaces the rule and starts a new window.
  void SetRule(TLowSpeedRule rule) noexcept;
  // From `atMs` (MonotonicMilliseconds) on, every block received raises EUpdateDeadlinePassed:
  // a server that keeps sending (a slow drip above the limit, endless interim responses or
  // redirects) is ended all the same.
  void SetDeadline(std::uint64_t atMs) noexcept { deadlineMs_ = atMs; }
  [[nodiscard]] std::uint64_t DeadlineMs() const noexcept { return deadlineMs_; }
  void Receive(TIdByteArray& VBuffer) override;
  [[nodiscard]] const char* ClassName() const noexcept override { return "TLowSpeedGuard"; }

 private:
  TLowSpeedMeter meter_;
  std::uint64_t deadlineMs_ = kNoDeadline;
};

}  // namespace brixa
