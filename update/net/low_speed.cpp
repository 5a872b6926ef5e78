// The low-speed meter's windows, and the intercept that raises once a transfer is too slow.

#include "update/net/low_speed.h"

#include <string>

#include "platform/thread/clock.h"

namespace brixa {

namespace {
constexpr std::int64_t kMsPerSecond = 1000;
}  // namespace

TLowSpeedMeter::TLowSpeedMeter(TLowSpeedRule rule, std::uint64_t nowMs) noexcept
    : rule_(rule),
      bytesPerWindow_(rule.limitBytesPerSecond * rule.timeMs / kMsPerSecond),
      windowStart_(nowMs) {}

void TLowSpeedMeter::Restart(std::uint64_t nowMs) noexcept {
  windowStart_ = nowMs;
  windowBytes_ = 0;
}

void TLowSpeedMeter::SetRule(TLowSpeedRule rule, std::uint64_t nowMs) noexcept {
  rule_ = rule;
  bytesPerWindow_ = rule.limitBytesPerSecond * rule.timeMs / kMsPerSecond;
  Restart(nowMs);
}

bool TLowSpeedMeter::Observe(std::int64_t bytes, std::uint64_t nowMs) noexcept {
  windowBytes_ += bytes;
  if (windowBytes_ >= bytesPerWindow_) {
    Restart(nowMs);
    return true;
  }
  return nowMs - windowStart_ < static_cast<std::uint64_t>(rule_.timeMs);
}

TLowSpeedGuard::TLowSpeedGuard(TComponent* owner, TLowSpeedRule rule)
    : TIdConnectionIntercept(owner), meter_(rule, MonotonicMilliseconds()) {}

void TLowSpeedGuard::Restart() noexcept {
  meter_.Restart(MonotonicMilliseconds());
}

void TLowSpeedGuard::SetRule(TLowSpeedRule rule) noexcept {
  meter_.SetRule(rule, MonotonicMilliseconds());
}

void TLowSpeedGuard::Receive(TIdByteArray& VBuffer) {
  TIdConnectionIntercept::Receive(VBuffer);
  const std::uint64_t now = MonotonicMilliseconds();
  if (now >= deadlineMs_) throw EUpdateDeadlinePassed("the update took longer than allowed");
  if (!meter_.Observe(static_cast<std::int64_t>(VBuffer.size()), now)) {
    throw EUpdateTooSlow("the server sent too little for too long");
  }
}

}  // namespace brixa
