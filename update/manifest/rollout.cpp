// The rollout bucket and the manifest's rollout percentage.

#include "update/manifest/rollout.h"

#include <random>

#include "runtime/text/plain_decimal.h"

namespace brixa {

namespace {

// At most three digits: 100 is the largest value either reader accepts.
constexpr std::size_t kMaxPercentDigits = 3;

[[nodiscard]] std::optional<std::int32_t> SmallDecimal(std::string_view text) noexcept {
  const auto value = PlainDecimal(text, kMaxPercentDigits);
  if (!value) return std::nullopt;
  return static_cast<std::int32_t>(*value);
}

}  // namespace

std::int32_t DrawRolloutBucket() {
  std::random_device source;
  std::uniform_int_distribution<std::int32_t> bucket(0, kRolloutBuckets - 1);
  return bucket(source);
}

std::optional<std::int32_t> ParseRolloutBucket(std::string_view text) noexcept {
  const auto value = SmallDecimal(text);
  if (!value || *value >= kRolloutBuckets) return std::nullopt;
  return value;
}

std::optional<std::int32_t> ParseRolloutPercent(std::string_view text) noexcept {
  const auto value = SmallDecimal(text);
  if (!value || *value > kFullRollout) return std::nullopt;
  return value;
}

}  // namespace brixa
