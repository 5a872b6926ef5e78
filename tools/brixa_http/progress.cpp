#include "progress.h"

#include <cstdio>
#include <string>

#include "runtime/component.h"

namespace brixa::tool {
namespace {

constexpr int kBarWidth = 40;
constexpr std::int64_t kRedrawBytes = 256 * 1024;  // redraw at least this often without a total

}  // namespace

void ProgressBar::Attach(TIdComponent& client) {
  client.OnWorkBegin = [this](TComponent*, TWorkMode mode, std::int64_t max) {
    if (mode == wmRead) Begin(max);
  };
  client.OnWork = [this](TComponent*, TWorkMode mode, std::int64_t count) {
    if (mode == wmRead) Update(count);
  };
  client.OnWorkEnd = [this](TComponent*, TWorkMode mode) {
    if (mode == wmRead) End();
  };
}

void ProgressBar::Begin(std::int64_t max) {
  max_ = max;
  spanCount_ = 0;
  Draw(true);
}

void ProgressBar::Update(std::int64_t spanCount) {
  spanCount_ = spanCount;
  Draw(false);
}

void ProgressBar::End() {
  Draw(true);
  done_ += spanCount_;
  spanCount_ = 0;
  if (max_ > 0) {
    std::fputc('\n', stderr);
    done_ = 0;
  }
}

void ProgressBar::Draw(bool force) {
  const std::int64_t total = done_ + spanCount_;
  if (max_ > 0) {
    const int percent = static_cast<int>(spanCount_ * 100 / max_);
    if (!force && percent == drawnPercent_) return;
    drawnPercent_ = percent;
    const int filled = static_cast<int>(spanCount_ * kBarWidth / max_);
    std::fprintf(stderr, "\r[%s%s] %3d%% %lld/%lld bytes", std::string(filled, '#').c_str(),
                 std::string(kBarWidth - filled, ' ').c_str(), percent,
                 static_cast<long long>(spanCount_), static_cast<long long>(max_));
  } else {
    if (!force && total - drawnAt_ < kRedrawBytes) return;
    drawnAt_ = total;
    std::fprintf(stderr, "\r%lld bytes", static_cast<long long>(total));
  }
  std::fflush(stderr);
}

}  // namespace brixa::tool
