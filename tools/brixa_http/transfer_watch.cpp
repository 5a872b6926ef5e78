// The watch's limit checks, run between slices of every wait, after every body chunk and every
// send.

#include "transfer_watch.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace brixa::tool {
namespace {

constexpr auto kSpeedWindow = std::chrono::seconds(1);

std::int64_t MillisecondsBetween(Clock::time_point from, Clock::time_point to) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(to - from).count();
}

}  // namespace

TransferWatch::TransferWatch(TransferLimits limits, bool progress) : limits_(limits) {
  if (progress) meter_.emplace(stderr);
  SetIdleTimeOut(kSliceMs);
  SetOnlyWhenIdle(false);
}

void TransferWatch::Attach(TIdComponent& client, std::function<std::int64_t()> buffered) {
  buffered_ = std::move(buffered);
  client.OnWorkBegin = [this](TComponent*, TWorkMode mode, std::int64_t) {
    if (mode != wmRead) return;
    spanCount_ = 0;
    spanOpen_ = true;
  };
  client.OnWork = [this](TComponent*, TWorkMode mode, std::int64_t count) {
    if (mode != wmRead) return;
    spanCount_ = count;
    if (meter_ && armed_) {
      const auto now = Clock::now();
      rate_.Sample(now, Received());
      meter_->Show(now, Received(), total_, rate_.BytesPerSecond(), false);
    }
  };
  client.OnWorkEnd = [this](TComponent*, TWorkMode mode) {
    if (mode != wmRead) return;
    done_ += spanCount_;
    spanCount_ = 0;
    spanOpen_ = false;
  };
}

std::int64_t TransferWatch::Received() const {
  const std::int64_t pending = spanOpen_ && buffered_ ? buffered_() : 0;
  return done_ + spanCount_ + pending;
}

void TransferWatch::StartTransfer() {
  armed_ = true;
  connecting_ = false;
  started_ = Clock::now();
  total_ = -1;
  done_ = 0;
  spanCount_ = 0;
  spanOpen_ = false;
  rate_.Reset(started_);
  windowStart_ = started_;
  windowBytes_ = 0;
  slowSince_.reset();
}

void TransferWatch::EndTransfer() {
  if (meter_ && armed_ && Received() > 0) {
    meter_->Show(Clock::now(), Received(), total_, rate_.BytesPerSecond(), true);
  }
  if (meter_) meter_->Finish();
  armed_ = false;
}

std::int32_t TransferWatch::ConnectTimeLeftMs() const {
  if (limits_.maxTimeMs <= 0) return -1;
  const std::int64_t left = limits_.maxTimeMs - MillisecondsBetween(started_, Clock::now());
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(left, 1, INT32_MAX));
}

void TransferWatch::Check() {
  if (!armed_) return;
  const auto now = Clock::now();
  const std::int64_t elapsed = MillisecondsBetween(started_, now);
  if (limits_.maxTimeMs > 0 && elapsed >= limits_.maxTimeMs) {
    throw EOperationTimeout("Operation timed out after " + std::to_string(elapsed) +
                            " milliseconds with " + std::to_string(Received()) + " bytes received");
  }
  CheckSpeed(now);
}

void TransferWatch::CheckSpeed(Clock::time_point now) {
  if (limits_.speedLimit <= 0 || now - windowStart_ < kSpeedWindow) return;
  const double seconds = std::chrono::duration<double>(now - windowStart_).count();
  const double speed = static_cast<double>(Received() - windowBytes_) / seconds;
  if (speed >= static_cast<double>(limits_.speedLimit)) {
    slowSince_.reset();
  } else if (!slowSince_) {
    slowSince_ = windowStart_;
  }
  windowStart_ = now;
  windowBytes_ = Received();
  if (slowSince_ && MillisecondsBetween(*slowSince_, now) >= limits_.speedTimeMs) {
    throw EOperationTooSlow("Operation too slow. Less than " + std::to_string(limits_.speedLimit) +
                            " bytes/sec transferred the last " +
                            std::to_string(limits_.speedTimeMs / 1000) + " seconds");
  }
}

void TransferWatch::Process() {
  if (!armed_) return;
  const auto now = Clock::now();
  if (meter_) {
    rate_.Sample(now, Received());
    if (Received() > 0) meter_->Show(now, Received(), total_, rate_.BytesPerSecond(), false);
  }
  if (!connecting_) Check();
}

}  // namespace brixa::tool
