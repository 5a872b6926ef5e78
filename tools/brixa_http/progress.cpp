// Formatting the meter line and computing the rate over a sliding window.

#include "progress.h"

#include <cmath>

namespace brixa::tool {
namespace {

// Long enough to smooth bursts, short enough that the rate follows a change within seconds.
constexpr auto kRateWindow = std::chrono::seconds(3);
constexpr double kKibibyte = 1024.0;

std::string Format(const char* format, double value) {
  char text[32];
  std::snprintf(text, sizeof text, format, value);
  return text;
}

// "1:02:03" or "2:03".
std::string Duration(double seconds) {
  const auto total = static_cast<long long>(std::ceil(seconds));
  char text[32];
  if (total >= 3600) {
    std::snprintf(text, sizeof text, "%lld:%02lld:%02lld", total / 3600, total / 60 % 60,
                  total % 60);
  } else {
    std::snprintf(text, sizeof text, "%lld:%02lld", total / 60, total % 60);
  }
  return text;
}

}  // namespace

std::string HumanBytes(double bytes) {
  static constexpr const char* kUnits[] = {"KiB", "MiB", "GiB", "TiB"};
  if (bytes < kKibibyte) return Format("%.0f B", bytes);
  double value = bytes / kKibibyte;
  std::size_t unit = 0;
  while (value >= kKibibyte && unit + 1 < std::size(kUnits)) {
    value /= kKibibyte;
    ++unit;
  }
  return Format("%.1f ", value) + kUnits[unit];
}

std::string MeterText(std::int64_t received, std::int64_t total, double bytesPerSecond) {
  const bool rateKnown = bytesPerSecond >= 1.0;
  const std::string rate = rateKnown ? HumanBytes(bytesPerSecond) + "/s" : "-- B/s";
  if (total <= 0) return HumanBytes(static_cast<double>(received)) + "  " + rate;
  const std::int64_t shown = received < total ? received : total;
  const int percent = static_cast<int>(shown * 100 / total);
  std::string text = Format("%3.0f%%", static_cast<double>(percent)) + "  " +
                     HumanBytes(static_cast<double>(shown)) + " of " +
                     HumanBytes(static_cast<double>(total)) + "  " + rate + "  ";
  if (shown == total) return text + "done";
  if (!rateKnown) return text + "--:-- left";
  return text + Duration(static_cast<double>(total - shown) / bytesPerSecond) + " left";
}

void RateWindow::Reset(Clock::time_point now) {
  points_.clear();
  points_.push_back({now, 0});
}

void RateWindow::Sample(Clock::time_point now, std::int64_t received) {
  // One point per tenth of a second is plenty, and keeps the window small.
  if (!points_.empty() && now - points_.back().at < std::chrono::milliseconds(100)) {
    points_.back().bytes = received;
    return;
  }
  points_.push_back({now, received});
  while (points_.size() > 2 && now - points_[1].at >= kRateWindow) points_.pop_front();
}

double RateWindow::BytesPerSecond() const {
  if (points_.size() < 2) return 0.0;
  const auto span = std::chrono::duration<double>(points_.back().at - points_.front().at).count();
  if (span <= 0.0) return 0.0;
  return static_cast<double>(points_.back().bytes - points_.front().bytes) / span;
}

void ProgressMeter::Show(Clock::time_point now, std::int64_t received, std::int64_t total,
                         double rate, bool force) {
  if (!force && drawn_ && now - drawnAt_ < kRedrawInterval) return;
  const std::string text = MeterText(received, total, rate);
  const std::size_t blank = width_ > text.size() ? width_ - text.size() : 0;
  std::fprintf(out_, "\r%s%s", text.c_str(), std::string(blank, ' ').c_str());
  std::fflush(out_);
  width_ = text.size();
  drawnAt_ = now;
  drawn_ = true;
}

void ProgressMeter::Finish() {
  if (!drawn_) return;
  std::fputc('\n', out_);
  std::fflush(out_);
  drawn_ = false;
  width_ = 0;
}

}  // namespace brixa::tool
