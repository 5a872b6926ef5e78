#pragma once
// The progress meter of brixa-http: meter text, human-readable sizes and the recent receive rate.

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <string>

namespace brixa::tool {

using Clock = std::chrono::steady_clock;

// The meter's text for `received` bytes of `total` (-1: unknown) at `bytesPerSecond`:
// " 45%  1.8 MiB of 4.0 MiB  850.3 KiB/s  0:03 left", or without a total
// "1.8 MiB  850.3 KiB/s". Rates below one byte a second show as "--".
[[nodiscard]] std::string MeterText(std::int64_t received, std::int64_t total,
                                    double bytesPerSecond);

// Bytes in the unit that keeps them under 1024 (B, KiB, MiB, GiB, TiB), one decimal past B.
[[nodiscard]] std::string HumanBytes(double bytes);

// Recent receive rate: bytes over the last few seconds, from samples taken as bytes arrive and
// while the transfer waits, so a stall brings the rate down to 0.
class RateWindow {
 public:
  void Reset(Clock::time_point now);
  void Sample(Clock::time_point now, std::int64_t received);
  [[nodiscard]] double BytesPerSecond() const;

 private:
  struct Point {
    Clock::time_point at;
    std::int64_t bytes;
  };
  std::deque<Point> points_;
};

// A one-line meter on a terminal stream (standard error), redrawn in place at most every
// kRedrawInterval however often it is asked to, so a fast download costs no terminal time.
class ProgressMeter {
 public:
  static constexpr auto kRedrawInterval = std::chrono::milliseconds(100);

  explicit ProgressMeter(std::FILE* out) : out_(out) {}
  // Draws when `force` or when the last drawing is at least kRedrawInterval old.
  void Show(Clock::time_point now, std::int64_t received, std::int64_t total, double rate,
            bool force);
  // Ends the current meter line, when one was drawn.
  void Finish();

 private:
  std::FILE* out_;
  Clock::time_point drawnAt_{};
  bool drawn_ = false;
  std::size_t width_ = 0;  // of the last line, to blank what a shorter one leaves
};

}  // namespace brixa::tool
